#include "platform/http/UpdateIntf.h"

#include <windows.h>
#include <shlwapi.h>
#include <winhttp.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <memory>

#include "platform/http/UrlPath.h"
#include "platform/base/Win32Handles.h"
#include "platform/base/WinHttpHandle.h"

// WinHTTP runs asynchronously and this thread waits on events of its own: under
// Wine 8 closing a request handle does not cut short a blocked synchronous call,
// so only a wait that also watches the abort event gives up promptly. The same
// waits enforce the time limits below, whatever WinHTTP's own timeouts do.
//
// Wine 8 runs an asynchronous WinHttpReadData on the calling thread when some of
// the body is already buffered, and then blocks there until the whole requested
// size has come. So the body is read in two kinds of steps that never block this
// thread: what is buffered, exactly (WinHttpQueryDataAvailable says how much),
// and, with nothing buffered, a bulk read that WinHTTP runs on its own thread.

namespace {

// Connecting (including sending the request) to a dead address.
const DWORD kConnectLimitMs = 10000;
// A server that accepted the request and says nothing.
const DWORD kAnswerLimitMs = 20000;
// Minimum progress once the body flows: at least kProgressBytes in every
// kProgressWindowMs. A stalled transfer fails after one window, a trickle
// after one or two.
const DWORD kProgressWindowMs = 20000;
const uint64_t kProgressBytes = 4096;
// WinHTTP's own limits sit a little above ours, as a backstop.
const int kWinHttpConnectMs = 8000;
const int kWinHttpReceiveMs = 25000;

const DWORD kReadBufferBytes = 1024 * 1024;
// A bulk read lasts about a quarter second at the rate seen so far, so that
// one read never outlasts the progress window; smaller ones are not worth it.
const DWORD kBulkReadMs = 250;
const DWORD kMinBulkReadBytes = 16 * 1024;
// Progress reports: no more often than every 64 KiB or every 100 ms.
const uint64_t kReportBytes = 64 * 1024;
const DWORD kReportIntervalMs = 100;

// What the requests of one transport reuse: the completion event and the read
// buffer. An abandoned operation may still signal the one or fill the other, so
// after an abandonment the next request gets new ones.
struct RequestMemory {
    UniqueHandle hDone{CreateEventA(nullptr, FALSE, FALSE, nullptr)};
    std::unique_ptr<char[]> pData{new char[kReadBufferBytes]};
};

// State one request shares with WinHTTP's callback. It belongs to the request
// handle once the callback is installed and is deleted on HANDLE_CLOSING, the
// last notification, so an operation abandoned by an abort or a time limit can
// still complete into it (and into its memory) safely.
struct RequestContext {
    std::shared_ptr<RequestMemory> pMemory;
    DWORD dwBytes = 0;  // bytes available or read by the last operation
    DWORD dwError = 0;  // non-zero when the last operation failed
};

void CALLBACK OnRequestStatus(HINTERNET, DWORD_PTR dwContext, DWORD dwStatus, LPVOID pInfo, DWORD dwInfoLength) {
    auto* pContext = reinterpret_cast<RequestContext*>(dwContext);
    if (!pContext) return;
    switch (dwStatus) {
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
        pContext->dwError = 0;
        SetEvent(pContext->pMemory->hDone.get());
        break;
    case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
        pContext->dwError = 0;
        pContext->dwBytes = pInfo ? *static_cast<DWORD*>(pInfo) : 0;
        SetEvent(pContext->pMemory->hDone.get());
        break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
        pContext->dwError = 0;
        pContext->dwBytes = dwInfoLength;
        SetEvent(pContext->pMemory->hDone.get());
        break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR: {
        auto* pResult = static_cast<WINHTTP_ASYNC_RESULT*>(pInfo);
        pContext->dwError = pResult && pResult->dwError ? pResult->dwError : ERROR_WINHTTP_INTERNAL_ERROR;
        SetEvent(pContext->pMemory->hDone.get());
        break;
    }
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
        delete pContext;
        break;
    default:
        break;
    }
}

enum class WaitResult { Done, Failed, Aborted, TimedOut };

// One asynchronous GET, driven step by step from the calling thread. Each step
// returns once WinHTTP has completed it, or the abort event or the time limit
// came first (then the operation is abandoned with the request, and so is the
// transport's request memory, which that operation may still use).
class AsyncRequest {
public:
    AsyncRequest(HANDLE hAbort, std::shared_ptr<RequestMemory>& pMemory) : m_hAbort(hAbort), m_pMemory(pMemory) {}
    ~AsyncRequest() {
        if (m_bPending) m_pMemory.reset();
    }
    AsyncRequest(const AsyncRequest&) = delete;
    AsyncRequest& operator=(const AsyncRequest&) = delete;

    bool Open(HINTERNET hConnect, const std::wstring& wstrPath) {
        if (!m_pMemory) m_pMemory = std::make_shared<RequestMemory>();
        std::unique_ptr<RequestContext> pContext(new RequestContext);
        pContext->pMemory = m_pMemory;
        m_hRequest.reset(WinHttpOpenRequest(hConnect, L"GET", wstrPath.c_str(), nullptr, WINHTTP_NO_REFERER,
                                            WINHTTP_DEFAULT_ACCEPT_TYPES, 0));
        DWORD_PTR dwContext = reinterpret_cast<DWORD_PTR>(pContext.get());
        if (!m_hRequest || !m_pMemory->hDone ||
            !WinHttpSetOption(m_hRequest.get(), WINHTTP_OPTION_CONTEXT_VALUE, &dwContext, sizeof(dwContext)) ||
            WinHttpSetStatusCallback(m_hRequest.get(), OnRequestStatus,
                                     WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES,
                                     0) == WINHTTP_INVALID_STATUS_CALLBACK) {
            m_hRequest.reset();
            return false;
        }
        m_pContext = pContext.release();  // the request owns it now (see OnRequestStatus)

        WinHttpSetTimeouts(m_hRequest.get(), kWinHttpConnectMs, kWinHttpConnectMs, kWinHttpReceiveMs,
                           kWinHttpReceiveMs);
        // Under Wine 8 only the request's own receive options bound a silent server.
        DWORD dwReceiveMs = kWinHttpReceiveMs;
        WinHttpSetOption(m_hRequest.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &dwReceiveMs,
                         sizeof(dwReceiveMs));
        WinHttpSetOption(m_hRequest.get(), WINHTTP_OPTION_RECEIVE_TIMEOUT, &dwReceiveMs, sizeof(dwReceiveMs));
        return true;
    }

    // Sending is split so that the caller can work while the server answers.
    bool StartSend() {
        DWORD_PTR dwContext = reinterpret_cast<DWORD_PTR>(m_pContext);
        m_bPending = WinHttpSendRequest(m_hRequest.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA,
                                        0, 0, dwContext) != FALSE;
        return m_bPending;
    }
    WaitResult FinishSend() { return Wait(kConnectLimitMs); }
    WaitResult ReceiveResponse() { return Step(WinHttpReceiveResponse(m_hRequest.get(), nullptr), kAnswerLimitMs); }
    WaitResult QueryAvailable(DWORD dwLimitMs, DWORD& cbAvailable) {
        WaitResult result = Step(WinHttpQueryDataAvailable(m_hRequest.get(), nullptr), dwLimitMs);
        cbAvailable = m_pContext->dwBytes;
        return result;
    }
    WaitResult Read(DWORD cbWant, DWORD dwLimitMs, DWORD& cbRead) {
        WaitResult result = Step(WinHttpReadData(m_hRequest.get(), Data(), cbWant, nullptr), dwLimitMs);
        cbRead = m_pContext->dwBytes;
        return result;
    }

    const char* Data() const { return m_pMemory->pData.get(); }
    char* Data() { return m_pMemory->pData.get(); }

    DWORD Status() const {
        DWORD dwStatus = 0, cbStatus = sizeof(dwStatus);
        if (!WinHttpQueryHeaders(m_hRequest.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                 WINHTTP_HEADER_NAME_BY_INDEX, &dwStatus, &cbStatus, WINHTTP_NO_HEADER_INDEX))
            return 0;
        return dwStatus;
    }
    // As text: the numeric query is 32 bits wide.
    bool ContentLength(uint64_t& nLength) const {
        wchar_t szValue[32] = {};
        DWORD cbValue = sizeof(szValue);
        if (!WinHttpQueryHeaders(m_hRequest.get(), WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                                 szValue, &cbValue, WINHTTP_NO_HEADER_INDEX))
            return false;
        if (szValue[0] < L'0' || szValue[0] > L'9') return false;
        wchar_t* pEnd = nullptr;
        unsigned long long n = std::wcstoull(szValue, &pEnd, 10);
        if (*pEnd != L'\0' || n == ~0ULL) return false;
        nLength = n;
        return true;
    }

private:
    WaitResult Step(BOOL bStarted, DWORD dwLimitMs) {
        if (!bStarted) return WaitResult::Failed;
        m_bPending = true;
        return Wait(dwLimitMs);
    }
    WaitResult Wait(DWORD dwLimitMs) {
        HANDLE ahWait[2] = {m_hAbort, m_pMemory->hDone.get()};
        switch (WaitForMultipleObjects(2, ahWait, FALSE, dwLimitMs)) {
        case WAIT_OBJECT_0 + 1:
            m_bPending = false;
            return m_pContext->dwError ? WaitResult::Failed : WaitResult::Done;
        case WAIT_TIMEOUT:
            return WaitResult::TimedOut;
        default:  // the abort event, or a wait that cannot work
            return WaitResult::Aborted;
        }
    }

    HANDLE m_hAbort;
    std::shared_ptr<RequestMemory>& m_pMemory;  // the transport's, kept alive by the context too
    RequestContext* m_pContext = nullptr;
    bool m_bPending = false;  // an operation started and not yet seen to complete
    UniqueInternet m_hRequest;  // last member: closed first
};

// The temporary file a body streams into, in the target's directory; deleted
// unless committed.
class TempFile {
public:
    explicit TempFile(const char* pszTarget) {
        static LONG s_nCounter = 0;
        const char* pszName = PathFindFileNameA(pszTarget);  // character-aware: GBK trail bytes may be '\'
        std::string strDir(pszTarget, pszName - pszTarget);
        for (int nTry = 0; nTry < 100 && !m_hFile; ++nTry) {
            char szName[64];
            std::snprintf(szName, sizeof(szName), "~qova%lx-%lx.tmp", GetCurrentProcessId(),
                          static_cast<unsigned long>(InterlockedIncrement(&s_nCounter)));
            std::string strPath = strDir + szName;
            m_hFile.reset(CreateFileA(strPath.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
            if (m_hFile) {
                m_strPath = std::move(strPath);
            } else if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) {
                break;
            }
        }
    }
    ~TempFile() {
        if (m_strPath.empty()) return;
        m_hFile.reset();
        DeleteFileA(m_strPath.c_str());  // best effort: nothing else can be done about it here
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    bool IsOpen() const { return static_cast<bool>(m_hFile); }
    bool Write(const char* pData, DWORD cb) {
        DWORD cbWritten = 0;
        return WriteFile(m_hFile.get(), pData, cb, &cbWritten, nullptr) && cbWritten == cb;
    }
    // Moves the file over the target, then closes it. Renaming through the open
    // handle spares reopening the file by name, which is slow under Wine.
    bool Commit(const char* pszTarget) {
        std::wstring wstrTarget = FullPathW(pszTarget);
        if (wstrTarget.empty()) return false;
        DWORD cbInfo = static_cast<DWORD>(sizeof(FILE_RENAME_INFO) + wstrTarget.size() * sizeof(wchar_t));
        std::unique_ptr<char[]> pInfo(new char[cbInfo]());
        auto* pRename = reinterpret_cast<FILE_RENAME_INFO*>(pInfo.get());
        pRename->ReplaceIfExists = TRUE;
        pRename->RootDirectory = nullptr;
        pRename->FileNameLength = static_cast<DWORD>(wstrTarget.size() * sizeof(wchar_t));
        std::memcpy(pRename->FileName, wstrTarget.c_str(), (wstrTarget.size() + 1) * sizeof(wchar_t));
        if (!SetFileInformationByHandle(m_hFile.get(), FileRenameInfo, pRename, cbInfo)) return false;
        m_hFile.reset();
        m_strPath.clear();
        return true;
    }

private:
    // The full UTF-16 path of a narrow one, as the A functions read it; empty on failure.
    static std::wstring FullPathW(const char* pszPath) {
        int cch = MultiByteToWideChar(CP_ACP, 0, pszPath, -1, nullptr, 0);
        if (cch <= 0) return std::wstring();
        std::wstring wstrPath(cch, L'\0');
        MultiByteToWideChar(CP_ACP, 0, pszPath, -1, &wstrPath[0], cch);
        DWORD cchFull = GetFullPathNameW(wstrPath.c_str(), 0, nullptr, nullptr);
        if (cchFull == 0) return std::wstring();
        std::wstring wstrFull(cchFull, L'\0');
        cchFull = GetFullPathNameW(wstrPath.c_str(), cchFull, &wstrFull[0], nullptr);
        if (cchFull == 0 || cchFull >= wstrFull.size()) return std::wstring();
        wstrFull.resize(cchFull);
        return wstrFull;
    }

    UniqueFile m_hFile;
    std::string m_strPath;
};

// Throttles the progress reports and notices a report window that has gone.
class Reporter {
public:
    Reporter(HWND hWnd, unsigned int nMsg) : m_hWnd(hWnd), m_nMsg(nMsg) {}

    bool WindowGone() const { return m_hWnd && !IsWindow(m_hWnd); }

    // False when the report window no longer exists.
    bool Progress(uint64_t nReceived, uint64_t nTotal) {
        if (!m_hWnd || nReceived >= nTotal) return true;  // only the final report may show a full count
        DWORD dwNow = GetTickCount();
        if (nReceived - m_nLastReported < kReportBytes && dwNow - m_dwLastReport < kReportIntervalMs) return true;
        if (!IsWindow(m_hWnd)) return false;
        SendMessageA(m_hWnd, m_nMsg, static_cast<WPARAM>(nReceived), static_cast<LPARAM>(nTotal));
        m_nLastReported = nReceived;
        m_dwLastReport = dwNow;
        return true;
    }

    void Complete(uint64_t nSize) {
        if (m_hWnd && IsWindow(m_hWnd))
            SendMessageA(m_hWnd, m_nMsg, static_cast<WPARAM>(nSize), static_cast<LPARAM>(nSize));
    }

private:
    HWND m_hWnd;
    unsigned int m_nMsg;
    uint64_t m_nLastReported = 0;
    DWORD m_dwLastReport = GetTickCount();
};

// The minimum-progress rule and the rate that sizes bulk reads.
class BodyClock {
public:
    // Time left for the current window to collect its bytes.
    DWORD WindowLeft() const {
        DWORD dwElapsed = GetTickCount() - m_dwWindowStart;
        return dwElapsed < kProgressWindowMs ? kProgressWindowMs - dwElapsed : 0;
    }
    // False when a window ran out with too few bytes: a trickle.
    bool Received(uint64_t nReceived) {
        if (nReceived - m_nWindowStartBytes >= kProgressBytes) {
            m_nWindowStartBytes = nReceived;
            m_dwWindowStart = GetTickCount();
            return true;
        }
        return WindowLeft() > 0;
    }
    // 0 while the stream is too slow for bulk reads to pay.
    DWORD BulkReadSize(uint64_t nReceived, uint64_t nLeft) const {
        DWORD dwElapsed = std::max<DWORD>(GetTickCount() - m_dwStart, 50);  // tick granularity, and caution
        uint64_t nBytes = nReceived * kBulkReadMs / dwElapsed;
        nBytes = std::min<uint64_t>({nBytes, nLeft, kReadBufferBytes});
        return nBytes < kMinBulkReadBytes ? 0 : static_cast<DWORD>(nBytes);
    }

private:
    DWORD m_dwStart = GetTickCount();
    DWORD m_dwWindowStart = m_dwStart;
    uint64_t m_nWindowStartBytes = 0;
};

// Outcome of one attempt at one server.
enum class Attempt {
    Stored,   // the file is in place
    TryNext,  // this server did not deliver; another may
    GiveUp,   // aborted, report window gone, or the file cannot be written: stop
};

Attempt AfterFailed(WaitResult result) { return result == WaitResult::Aborted ? Attempt::GiveUp : Attempt::TryNext; }

std::wstring WidenAscii(const std::string& str) { return std::wstring(str.begin(), str.end()); }

}  // namespace

// Members go in reverse order: connections close before the session.
struct CQOVAUpdateIntf::Impl {
    std::vector<S_UpdateSerivceAddr> vecServers;
    UniqueInternet hSession;
    std::vector<UniqueInternet> vecConnects;  // one per server, opened on first use and kept (keep-alive)
    UniqueHandle hAbort{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    std::atomic<bool> bAborted{false};
    std::shared_ptr<RequestMemory> pMemory;

    Attempt FetchFrom(size_t nServer, const std::wstring& wstrPath, const char* pszLocalFile, HWND hNotifyWnd,
                      unsigned int nNotifyMsg);
};

CQOVAUpdateIntf::CQOVAUpdateIntf(const std::vector<S_UpdateSerivceAddr>& vecServers, bool bUseProxy)
    : m_pImpl(new Impl) {
    m_pImpl->vecServers = vecServers;
    m_pImpl->vecConnects.resize(vecServers.size());
    // The default proxy is the machine's WinHTTP proxy setting; under Wine,
    // without a stored setting, the http_proxy environment variable.
    m_pImpl->hSession.reset(WinHttpOpen(L"QOVAUpdate/4.0",
                                        bUseProxy ? WINHTTP_ACCESS_TYPE_DEFAULT_PROXY : WINHTTP_ACCESS_TYPE_NO_PROXY,
                                        WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC));
}

CQOVAUpdateIntf::~CQOVAUpdateIntf() { delete m_pImpl; }

void CQOVAUpdateIntf::Abort() {
    m_pImpl->bAborted.store(true);
    SetEvent(m_pImpl->hAbort.get());
}

int CQOVAUpdateIntf::GetRemoteFile(unsigned int nUpdateType, const char* pszRemoteFile, const char* pszLocalFile,
                                   HWND hNotifyWnd, unsigned int nNotifyMsg) {
    Impl& impl = *m_pImpl;
    if (impl.bAborted.load() || !impl.hSession || !impl.hAbort || !pszLocalFile || !*pszLocalFile) return -1;
    if (hNotifyWnd && !IsWindow(hNotifyWnd)) return -1;
    std::string strUrlPath;
    if (!BuildRemoteUrlPath(nUpdateType, pszRemoteFile, strUrlPath)) return -1;
    std::wstring wstrPath = WidenAscii(strUrlPath);

    for (size_t i = 0; i < impl.vecServers.size(); ++i) {
        if (impl.vecServers[i].strServerIP.empty()) continue;
        switch (impl.FetchFrom(i, wstrPath, pszLocalFile, hNotifyWnd, nNotifyMsg)) {
        case Attempt::Stored:
            return 0;
        case Attempt::GiveUp:
            return -1;
        case Attempt::TryNext:
            break;
        }
    }
    return -1;
}

Attempt CQOVAUpdateIntf::Impl::FetchFrom(size_t nServer, const std::wstring& wstrPath, const char* pszLocalFile,
                                         HWND hNotifyWnd, unsigned int nNotifyMsg) {
    UniqueInternet& hConnect = vecConnects[nServer];
    if (!hConnect) {
        const S_UpdateSerivceAddr& server = vecServers[nServer];
        hConnect.reset(WinHttpConnect(hSession.get(), WidenAscii(server.strServerIP).c_str(),
                                      EffectiveServerPort(server.nServerPort), 0));
        if (!hConnect) return Attempt::TryNext;
    }

    AsyncRequest request(hAbort.get(), pMemory);
    if (!request.Open(hConnect.get(), wstrPath) || !request.StartSend()) return Attempt::TryNext;
    // Creating a file costs about as much as a small request under Wine (it
    // searches the directory for the name): done while the server answers.
    TempFile tempFile(pszLocalFile);
    if (!tempFile.IsOpen()) return Attempt::GiveUp;
    WaitResult result = request.FinishSend();
    if (result == WaitResult::Done) result = request.ReceiveResponse();
    if (result != WaitResult::Done) return AfterFailed(result);

    uint64_t nTotal = 0;
    // Without a length the end of the body cannot be told from a dropped connection.
    if (request.Status() != 200 || !request.ContentLength(nTotal)) return Attempt::TryNext;

    Reporter reporter(hNotifyWnd, nNotifyMsg);

    BodyClock clock;
    uint64_t nReceived = 0;
    // Stores what a read brought; false when the transfer cannot go on (outcome set).
    Attempt outcome = Attempt::TryNext;
    auto consume = [&](DWORD cbRead) {
        if (!tempFile.Write(request.Data(), cbRead)) {
            outcome = Attempt::GiveUp;
            return false;
        }
        nReceived += cbRead;
        if (!clock.Received(nReceived)) return false;  // a trickle
        if (!reporter.Progress(nReceived, nTotal) || bAborted.load()) {
            outcome = Attempt::GiveUp;
            return false;
        }
        return true;
    };

    if (nTotal == 0) {
        // Reading the (empty) end lets WinHTTP keep the connection for the next file.
        DWORD cbRead = 0;
        result = request.Read(1, clock.WindowLeft(), cbRead);
        if (result != WaitResult::Done) return AfterFailed(result);
        if (cbRead != 0) return Attempt::TryNext;
    }
    while (nReceived < nTotal) {
        // What is buffered; with nothing buffered, this waits for the next bytes.
        DWORD cbAvailable = 0, cbRead = 0;
        result = request.QueryAvailable(clock.WindowLeft(), cbAvailable);
        if (result != WaitResult::Done) return AfterFailed(result);
        if (cbAvailable == 0) return Attempt::TryNext;                // the connection ended early
        if (cbAvailable > nTotal - nReceived) return Attempt::TryNext;  // bytes beyond its length
        result = request.Read(std::min(cbAvailable, kReadBufferBytes), clock.WindowLeft(), cbRead);
        if (result != WaitResult::Done) return AfterFailed(result);
        if (cbRead == 0 || cbRead > nTotal - nReceived) return Attempt::TryNext;
        if (!consume(cbRead)) return outcome;

        // Nothing is buffered now, so a bulk read runs on WinHTTP's thread.
        DWORD cbBulk = clock.BulkReadSize(nReceived, nTotal - nReceived);
        if (cbBulk == 0) continue;
        result = request.Read(cbBulk, clock.WindowLeft(), cbRead);
        if (result != WaitResult::Done) return AfterFailed(result);
        if (cbRead == 0 || cbRead > nTotal - nReceived) return Attempt::TryNext;
        if (!consume(cbRead)) return outcome;
    }

    if (reporter.WindowGone() || bAborted.load()) return Attempt::GiveUp;
    if (!tempFile.Commit(pszLocalFile)) return Attempt::GiveUp;
    reporter.Complete(nTotal);
    return Attempt::Stored;
}
