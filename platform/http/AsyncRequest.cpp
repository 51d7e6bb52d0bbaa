#include "platform/http/AsyncRequest.h"

#include <atomic>
#include <cwchar>

#include "platform/base/Text.h"

namespace {

// WinHTTP's own limits sit a little above the transport's, as a backstop.
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
    DWORD dwSecureFlags = 0;  // what WINHTTP_CALLBACK_STATUS_SECURE_FAILURE named
    std::wstring wstrRedirectUrl;  // where the last redirect led; read once the headers are in
    // The thread inside a Begin call: a completion it sees itself needs no event.
    std::atomic<DWORD> dwStartingThread{0};
    bool bCompletedInline = false;  // touched only by the starting thread
};

namespace {

// WinHTTP completes many steps within the call that starts them (the answer
// already buffered): those are taken at once, sparing an event and a wait.
void Completed(RequestContext* pContext) {
    if (pContext->dwStartingThread.load() == GetCurrentThreadId()) {
        pContext->bCompletedInline = true;
    } else {
        SetEvent(pContext->pMemory->hDone.get());
    }
}

void CALLBACK OnRequestStatus(HINTERNET, DWORD_PTR dwContext, DWORD dwStatus, LPVOID pInfo, DWORD dwInfoLength) {
    auto* pContext = reinterpret_cast<RequestContext*>(dwContext);
    if (!pContext) return;
    switch (dwStatus) {
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
        pContext->dwError = 0;
        Completed(pContext);
        break;
    case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
        pContext->dwError = 0;
        pContext->dwBytes = pInfo ? *static_cast<DWORD*>(pInfo) : 0;
        Completed(pContext);
        break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
        pContext->dwError = 0;
        pContext->dwBytes = dwInfoLength;
        Completed(pContext);
        break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR: {
        auto* pResult = static_cast<WINHTTP_ASYNC_RESULT*>(pInfo);
        pContext->dwError = pResult && pResult->dwError ? pResult->dwError : ERROR_WINHTTP_INTERNAL_ERROR;
        Completed(pContext);
        break;
    }
    case WINHTTP_CALLBACK_STATUS_SECURE_FAILURE:
        // Comes before the REQUEST_ERROR that fails the send: only what it names is kept.
        pContext->dwSecureFlags = pInfo && dwInfoLength >= sizeof(DWORD) ? *static_cast<DWORD*>(pInfo) : 0;
        break;
    case WINHTTP_CALLBACK_STATUS_REDIRECT:
        // Wine 8's WINHTTP_OPTION_URL keeps the URL first asked for.
        if (pInfo) pContext->wstrRedirectUrl = static_cast<const wchar_t*>(pInfo);
        break;
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

bool CAsyncRequest::Open(UniqueInternet hConnect, const std::wstring& wstrPath, bool bSecure) {
    m_hConnect = std::move(hConnect);
    if (!m_pMemory) m_pMemory = std::make_shared<RequestMemory>();
    std::unique_ptr<RequestContext> pContext(new RequestContext);
    pContext->pMemory = m_pMemory;
    m_hRequest.reset(WinHttpOpenRequest(m_hConnect.get(), L"GET", wstrPath.c_str(), nullptr, WINHTTP_NO_REFERER,
                                        WINHTTP_DEFAULT_ACCEPT_TYPES, bSecure ? WINHTTP_FLAG_SECURE : 0));
    DWORD_PTR dwContext = reinterpret_cast<DWORD_PTR>(pContext.get());
    if (!m_hRequest || !m_pMemory->hDone ||
        !WinHttpSetOption(m_hRequest.get(), WINHTTP_OPTION_CONTEXT_VALUE, &dwContext, sizeof(dwContext)) ||
        WinHttpSetStatusCallback(m_hRequest.get(), OnRequestStatus,
                                 WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES |
                                     WINHTTP_CALLBACK_FLAG_SECURE_FAILURE | WINHTTP_CALLBACK_FLAG_REDIRECT,
                                 0) == WINHTTP_INVALID_STATUS_CALLBACK) {
        m_hRequest.reset();
        return false;
    }
    m_pContext = pContext.release();  // the request owns it now (see OnRequestStatus)
    ResetEvent(m_pMemory->hDone.get());  // a completion of an earlier request is no news for this one

    WinHttpSetTimeouts(m_hRequest.get(), kWinHttpConnectMs, kWinHttpConnectMs, kWinHttpReceiveMs,
                       kWinHttpReceiveMs);
    // Under Wine 8 only the request's own receive options bound a silent server.
    DWORD dwReceiveMs = kWinHttpReceiveMs;
    WinHttpSetOption(m_hRequest.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &dwReceiveMs,
                     sizeof(dwReceiveMs));
    WinHttpSetOption(m_hRequest.get(), WINHTTP_OPTION_RECEIVE_TIMEOUT, &dwReceiveMs, sizeof(dwReceiveMs));
    // Redirects are followed by WinHTTP, within bounds: never from https to
    // http (the 3xx itself then comes back), at most kMaxRedirects in a row.
    DWORD dwPolicy = WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP, dwMaxRedirects = kMaxRedirects;
    if (!WinHttpSetOption(m_hRequest.get(), WINHTTP_OPTION_REDIRECT_POLICY, &dwPolicy, sizeof(dwPolicy)) ||
        !WinHttpSetOption(m_hRequest.get(), WINHTTP_OPTION_MAX_HTTP_AUTOMATIC_REDIRECTS, &dwMaxRedirects,
                          sizeof(dwMaxRedirects))) {
        m_hRequest.reset();
        return false;
    }
    return true;
}

bool CAsyncRequest::AddHeaders(const std::wstring& wstrHeaders) {
    return WinHttpAddRequestHeaders(m_hRequest.get(), wstrHeaders.c_str(), static_cast<DWORD>(wstrHeaders.size()),
                                    WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE) != FALSE;
}

bool CAsyncRequest::BeginSend() {
    DWORD_PTR dwContext = reinterpret_cast<DWORD_PTR>(m_pContext);
    Starting();
    return Started(WinHttpSendRequest(m_hRequest.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0,
                                      0, dwContext));
}

bool CAsyncRequest::BeginReceive() {
    Starting();
    return Started(WinHttpReceiveResponse(m_hRequest.get(), nullptr));
}

bool CAsyncRequest::BeginQueryAvailable() {
    Starting();
    return Started(WinHttpQueryDataAvailable(m_hRequest.get(), nullptr));
}

bool CAsyncRequest::BeginRead(DWORD cbWant) {
    Starting();
    return Started(WinHttpReadData(m_hRequest.get(), m_pMemory->pData.get(), cbWant, nullptr));
}

void CAsyncRequest::Starting() {
    m_pContext->bCompletedInline = false;
    m_pContext->dwStartingThread.store(GetCurrentThreadId());
}

bool CAsyncRequest::Started(BOOL bStarted) {
    m_pContext->dwStartingThread.store(0);
    m_bPending = bStarted != FALSE;
    return m_bPending;
}

bool CAsyncRequest::CompletedInline() const { return m_bPending && m_pContext->bCompletedInline; }

void CAsyncRequest::SignalCompletion() { SetEvent(m_pMemory->hDone.get()); }

bool CAsyncRequest::Finished(DWORD& cbBytes) {
    m_bPending = false;
    cbBytes = m_pContext->dwBytes;
    return m_pContext->dwError == 0;
}

DWORD CAsyncRequest::Error() const { return m_pContext ? m_pContext->dwError : 0; }

std::string CAsyncRequest::Url() const {
    if (m_pContext && !m_pContext->wstrRedirectUrl.empty()) return WideToUtf8(m_pContext->wstrRedirectUrl);
    wchar_t szUrl[2048] = {};
    DWORD cbUrl = sizeof(szUrl) - sizeof(wchar_t);
    if (!WinHttpQueryOption(m_hRequest.get(), WINHTTP_OPTION_URL, szUrl, &cbUrl)) return std::string();
    return WideToUtf8(szUrl);
}

DWORD CAsyncRequest::SecureFailureFlags() const { return m_pContext ? m_pContext->dwSecureFlags : 0; }

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

std::string CAsyncRequest::Header(const wchar_t* pszName) const {
    wchar_t szValue[256] = {};
    DWORD cbValue = sizeof(szValue) - sizeof(wchar_t);
    if (!WinHttpQueryHeaders(m_hRequest.get(), WINHTTP_QUERY_CUSTOM, pszName, szValue, &cbValue,
                             WINHTTP_NO_HEADER_INDEX))
        return std::string();
    // Validators and ranges are ASCII; anything else is no validator.
    std::string strValue;
    for (const wchar_t* p = szValue; *p; ++p) {
        if (*p < 0x20 || *p > 0x7E) return std::string();
        strValue += static_cast<char>(*p);
    }
    return strValue;
}

bool CAsyncRequest::UseLogonCredentialsForProxy() {
    DWORD dwSupported = 0, dwFirst = 0, dwTarget = 0;
    if (!WinHttpQueryAuthSchemes(m_hRequest.get(), &dwSupported, &dwFirst, &dwTarget) ||
        dwTarget != WINHTTP_AUTH_TARGET_PROXY)
        return false;
    DWORD dwScheme = (dwSupported & WINHTTP_AUTH_SCHEME_NEGOTIATE) ? WINHTTP_AUTH_SCHEME_NEGOTIATE
                     : (dwSupported & WINHTTP_AUTH_SCHEME_NTLM)    ? WINHTTP_AUTH_SCHEME_NTLM
                                                                   : 0;
    if (dwScheme == 0) return false;
    // Default credentials only go where the policy allows: this request's proxy asked.
    DWORD dwPolicy = WINHTTP_AUTOLOGON_SECURITY_LEVEL_LOW;
    WinHttpSetOption(m_hRequest.get(), WINHTTP_OPTION_AUTOLOGON_POLICY, &dwPolicy, sizeof(dwPolicy));
    return WinHttpSetCredentials(m_hRequest.get(), WINHTTP_AUTH_TARGET_PROXY, dwScheme, nullptr, nullptr,
                                 nullptr) != FALSE;
}
