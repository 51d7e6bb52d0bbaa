#include "platform/http/UpdateIntf.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>

#include "platform/base/Win32Handles.h"
#include "platform/base/WinHttpHandle.h"
#include "platform/http/AsyncRequest.h"
#include "platform/http/BodyClock.h"
#include "platform/http/IncomingFile.h"
#include "platform/http/ProgressReporter.h"
#include "platform/http/UrlPath.h"

// Wine 8 runs an asynchronous WinHttpReadData on the calling thread when some of
// the body is already buffered, and then blocks there until the whole requested
// size has come. So the body is read in two kinds of steps that never block this
// thread: what is buffered, exactly (WinHttpQueryDataAvailable says how much),
// and, with nothing buffered, a bulk read that WinHTTP runs on its own thread.

namespace {

// Outcome of one attempt at one server.
enum class Attempt {
    Stored,   // the file is in place
    TryNext,  // this server did not deliver; another may
    GiveUp,   // aborted, report window gone, or the file cannot be written: stop
};

Attempt AfterFailed(WaitResult result) { return result == WaitResult::Aborted ? Attempt::GiveUp : Attempt::TryNext; }

std::wstring WidenAscii(const std::string& str) { return std::wstring(str.begin(), str.end()); }

// One body being received into its file.
struct BodyTransfer {
    BodyTransfer(CAsyncRequest& request, CIncomingFile& file, CProgressReporter& reporter,
                 const std::atomic<bool>& bAborted, uint64_t nTotal)
        : request(request), file(file), reporter(reporter), bAborted(bAborted), nTotal(nTotal) {}

    CAsyncRequest& request;
    CIncomingFile& file;
    CProgressReporter& reporter;
    const std::atomic<bool>& bAborted;
    const uint64_t nTotal;
    CBodyClock clock;
    uint64_t nReceived = 0;
};

// Reads up to cbWant bytes and stores them: nothing while the transfer may go
// on, else how this attempt ends.
std::optional<Attempt> ReadAndStore(BodyTransfer& body, DWORD cbWant) {
    DWORD cbRead = 0;
    const WaitResult result = body.request.Read(cbWant, body.clock.WindowLeft(), cbRead);
    if (result != WaitResult::Done) return AfterFailed(result);
    if (cbRead == 0 || cbRead > body.nTotal - body.nReceived) return Attempt::TryNext;
    if (!body.file.Write(body.request.Data(), cbRead)) return Attempt::GiveUp;
    body.nReceived += cbRead;
    if (!body.clock.Received(body.nReceived)) return Attempt::TryNext;  // a trickle
    if (!body.reporter.Progress(body.nReceived, body.nTotal) || body.bAborted.load()) return Attempt::GiveUp;
    return std::nullopt;
}

// The whole body into the file; Stored means every byte arrived (the file is
// not committed yet).
Attempt ReceiveBody(BodyTransfer& body) {
    if (body.nTotal == 0) {
        // Reading the (empty) end lets WinHTTP keep the connection for the next file.
        DWORD cbRead = 0;
        const WaitResult result = body.request.Read(1, body.clock.WindowLeft(), cbRead);
        if (result != WaitResult::Done) return AfterFailed(result);
        if (cbRead != 0) return Attempt::TryNext;
    }
    while (body.nReceived < body.nTotal) {
        // What is buffered; with nothing buffered, this waits for the next bytes.
        DWORD cbAvailable = 0;
        const WaitResult result = body.request.QueryAvailable(body.clock.WindowLeft(), cbAvailable);
        if (result != WaitResult::Done) return AfterFailed(result);
        if (cbAvailable == 0) return Attempt::TryNext;                          // the connection ended early
        if (cbAvailable > body.nTotal - body.nReceived) return Attempt::TryNext;  // bytes beyond its length
        if (auto end = ReadAndStore(body, std::min(cbAvailable, kReadBufferBytes))) return *end;

        // Nothing is buffered now, so a bulk read runs on WinHTTP's thread.
        const DWORD cbBulk = body.clock.BulkReadSize(body.nReceived, body.nTotal - body.nReceived);
        if (cbBulk == 0) continue;
        if (auto end = ReadAndStore(body, cbBulk)) return *end;
    }
    return Attempt::Stored;
}

}  // namespace

// Members go in reverse order: connections close before the session.
struct CQOVAUpdateIntf::Impl {
    std::vector<S_UpdateSerivceAddr> vecServers;
    UniqueInternet hSession;
    std::vector<UniqueInternet> vecConnects;  // one per server, opened on first use and kept (keep-alive)
    UniqueHandle hAbort{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    std::atomic<bool> bAborted{false};
    std::shared_ptr<RequestMemory> pMemory;

    // The server's connection, opened on first use; nullptr when it cannot be.
    HINTERNET Connection(size_t nServer);
    Attempt FetchFrom(size_t nServer, const std::wstring& wstrPath, const char* pszLocalFile, HWND hNotifyWnd,
                      unsigned int nNotifyMsg);
};

CQOVAUpdateIntf::CQOVAUpdateIntf(const std::vector<S_UpdateSerivceAddr>& vecServers, bool bUseProxy)
    : m_pImpl(std::make_unique<Impl>()) {
    m_pImpl->vecServers = vecServers;
    m_pImpl->vecConnects.resize(vecServers.size());
    // The default proxy is the machine's WinHTTP proxy setting; under Wine,
    // without a stored setting, the http_proxy environment variable.
    m_pImpl->hSession.reset(WinHttpOpen(L"QOVAUpdate/4.0",
                                        bUseProxy ? WINHTTP_ACCESS_TYPE_DEFAULT_PROXY : WINHTTP_ACCESS_TYPE_NO_PROXY,
                                        WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC));
}

CQOVAUpdateIntf::~CQOVAUpdateIntf() = default;

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

HINTERNET CQOVAUpdateIntf::Impl::Connection(size_t nServer) {
    UniqueInternet& hConnect = vecConnects[nServer];
    if (!hConnect) {
        const S_UpdateSerivceAddr& server = vecServers[nServer];
        hConnect.reset(WinHttpConnect(hSession.get(), WidenAscii(server.strServerIP).c_str(),
                                      EffectiveServerPort(server.nServerPort), 0));
    }
    return hConnect.get();
}

Attempt CQOVAUpdateIntf::Impl::FetchFrom(size_t nServer, const std::wstring& wstrPath, const char* pszLocalFile,
                                         HWND hNotifyWnd, unsigned int nNotifyMsg) {
    HINTERNET hConnect = Connection(nServer);
    if (!hConnect) return Attempt::TryNext;

    CAsyncRequest request(hAbort.get(), pMemory);
    if (!request.Open(hConnect, wstrPath) || !request.StartSend()) return Attempt::TryNext;
    // Creating a file costs about as much as a small request under Wine (it
    // searches the directory for the name): done while the server answers.
    CIncomingFile file(pszLocalFile);
    if (!file.IsOpen()) return Attempt::GiveUp;
    WaitResult result = request.FinishSend();
    if (result == WaitResult::Done) result = request.ReceiveResponse();
    if (result != WaitResult::Done) return AfterFailed(result);

    uint64_t nTotal = 0;
    // Without a length the end of the body cannot be told from a dropped connection.
    if (request.Status() != 200 || !request.ContentLength(nTotal)) return Attempt::TryNext;

    CProgressReporter reporter(hNotifyWnd, nNotifyMsg);
    BodyTransfer body(request, file, reporter, bAborted, nTotal);
    const Attempt received = ReceiveBody(body);
    if (received != Attempt::Stored) return received;

    if (reporter.WindowGone() || bAborted.load()) return Attempt::GiveUp;
    if (!file.Commit(pszLocalFile)) return Attempt::GiveUp;
    reporter.Complete(nTotal);
    return Attempt::Stored;
}
