#include "platform/http/AsyncRequest.h"

#include <cwchar>

namespace {

// Connecting (including sending the request) to a dead address.
const DWORD kConnectLimitMs = 10000;
// A server that accepted the request and says nothing.
const DWORD kAnswerLimitMs = 20000;
// WinHTTP's own limits sit a little above ours, as a backstop.
const int kWinHttpConnectMs = 8000;
const int kWinHttpReceiveMs = 25000;

}  // namespace

// State one request shares with WinHTTP's callback. It belongs to the request
// handle once the callback is installed and is deleted on HANDLE_CLOSING, the
// last notification, so an operation abandoned by an abort or a time limit can
// still complete into it (and into its memory) safely.
struct RequestContext {
    std::shared_ptr<RequestMemory> pMemory;
    DWORD dwBytes = 0;  // bytes available or read by the last operation
    DWORD dwError = 0;  // non-zero when the last operation failed
};

namespace {

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

}  // namespace

CAsyncRequest::~CAsyncRequest() {
    if (m_bPending) m_pMemory.reset();
}

bool CAsyncRequest::Open(HINTERNET hConnect, const std::wstring& wstrPath) {
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

bool CAsyncRequest::StartSend() {
    DWORD_PTR dwContext = reinterpret_cast<DWORD_PTR>(m_pContext);
    m_bPending = WinHttpSendRequest(m_hRequest.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                                    dwContext) != FALSE;
    return m_bPending;
}

WaitResult CAsyncRequest::FinishSend() { return Wait(kConnectLimitMs); }

WaitResult CAsyncRequest::ReceiveResponse() {
    return Step(WinHttpReceiveResponse(m_hRequest.get(), nullptr), kAnswerLimitMs);
}

WaitResult CAsyncRequest::QueryAvailable(DWORD dwLimitMs, DWORD& cbAvailable) {
    WaitResult result = Step(WinHttpQueryDataAvailable(m_hRequest.get(), nullptr), dwLimitMs);
    cbAvailable = m_pContext->dwBytes;
    return result;
}

WaitResult CAsyncRequest::Read(DWORD cbWant, DWORD dwLimitMs, DWORD& cbRead) {
    WaitResult result = Step(WinHttpReadData(m_hRequest.get(), Data(), cbWant, nullptr), dwLimitMs);
    cbRead = m_pContext->dwBytes;
    return result;
}

DWORD CAsyncRequest::Status() const {
    DWORD dwStatus = 0, cbStatus = sizeof(dwStatus);
    if (!WinHttpQueryHeaders(m_hRequest.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &dwStatus, &cbStatus, WINHTTP_NO_HEADER_INDEX))
        return 0;
    return dwStatus;
}

bool CAsyncRequest::ContentLength(uint64_t& nLength) const {
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

WaitResult CAsyncRequest::Step(BOOL bStarted, DWORD dwLimitMs) {
    if (!bStarted) return WaitResult::Failed;
    m_bPending = true;
    return Wait(dwLimitMs);
}

WaitResult CAsyncRequest::Wait(DWORD dwLimitMs) {
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
