#include "platform/http/FileTransfer.h"

#include <shlwapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/base/Text.h"
#include "platform/http/ProgressReporter.h"

// Wine 8 runs an asynchronous WinHttpReadData on the calling thread when some of
// the body is already buffered, and then blocks there until the whole requested
// size has come. So the body is read in two kinds of steps that never block the
// caller: what is buffered, exactly (WinHttpQueryDataAvailable says how much),
// and, with nothing buffered, a bulk read that WinHTTP runs on its own thread.

namespace {

// Connecting (including sending the request) to a dead address.
const DWORD kConnectLimitMs = 10000;
// A server that accepted the request and says nothing.
const DWORD kAnswerLimitMs = 20000;
// Rounds of a proxy's 407 answered with the user's logon credentials.
const int kProxyAuthRounds = 2;
// Steps taken one after the other when each completes within its call; then
// the other transfers get their turn.
const int kInlineSteps = 8;

// "bytes <first>-<last>/<total>"; false for anything else.
bool ParseContentRange(const std::string& strValue, uint64_t& nFirst, uint64_t& nLast, uint64_t& nTotal) {
    unsigned long long a = 0, b = 0, c = 0;
    char chEnd = 0;
    if (std::sscanf(strValue.c_str(), "bytes %llu-%llu/%llu%c", &a, &b, &c, &chEnd) != 3) return false;
    nFirst = a;
    nLast = b;
    nTotal = c;
    return true;
}

// The errors of a TLS connection the system refused: a certificate it does not
// accept, or no protocol both sides allow.
bool IsSecureFailure(DWORD dwError) {
    switch (dwError) {
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
        return true;
    default:
        return false;
    }
}

bool IsRedirect(DWORD dwStatus) {
    return dwStatus == 301 || dwStatus == 302 || dwStatus == 303 || dwStatus == 307 || dwStatus == 308;
}

// "scheme://host:port" of a URL; the whole text when it has no path.
std::string OriginOf(const std::string& strUrl) {
    const size_t nScheme = strUrl.find("://");
    const size_t nPath = nScheme == std::string::npos ? std::string::npos : strUrl.find('/', nScheme + 3);
    return strUrl.substr(0, nPath);
}

// A body that starts as a web page does, after a BOM and white space.
bool StartsLikeHtml(const char* pData, size_t cbData) {
    size_t n = cbData >= 3 && std::memcmp(pData, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
    while (n < cbData && (pData[n] == ' ' || pData[n] == '\t' || pData[n] == '\r' || pData[n] == '\n')) ++n;
    for (const char* pszStart : {"<!DOCTYPE", "<html", "<head", "<body", "<!--"}) {
        const size_t cch = std::strlen(pszStart);
        if (cbData - n >= cch && StrCmpNIA(pData + n, pszStart, static_cast<int>(cch)) == 0) return true;
    }
    return false;
}

bool IsChunked(const std::string& strTransferEncoding) {
    return StrStrIA(strTransferEncoding.c_str(), "chunked") != nullptr;
}

}  // namespace

CFileTransfer::CFileTransfer(std::wstring wstrUrlPath, std::string strLocalFile, const S_FileBound& bound)
    : m_wstrUrlPath(std::move(wstrUrlPath)), m_bound(bound), m_part(std::move(strLocalFile)) {}

bool CFileTransfer::OpenPart() {
    if (m_bPartOpen) return true;
    if (!m_part.Open()) return false;
    m_bPartOpen = true;
    // A bounded file (manifest, .sig) is small and never continued: a hostile
    // answer must not leave bytes for the next run to build on. A part of
    // another length than the one expected is a stale mirror's.
    if (m_bound.nMaxSize != S_FileBound::kUnknown ||
        (m_bound.nSize != S_FileBound::kUnknown && m_part.Total() != 0 && m_part.Total() != m_bound.nSize)) {
        m_part.Discard();
    }
    return true;
}

// The request goes first: an operation under way still writes into its memory, not into the part.
CFileTransfer::~CFileTransfer() { m_pRequest.reset(); }

void CFileTransfer::SetCondition(std::string strValidator) {
    const size_t nQuote = strValidator.compare(0, 2, "W/") == 0 ? 2 : 0;
    const bool bTag = strValidator.size() >= nQuote + 2 && strValidator[nQuote] == '"' && strValidator.back() == '"';
    m_strCondition = bTag ? std::move(strValidator) : std::string();
}

TransferStep CFileTransfer::Start(UniqueInternet hConnect, bool bSecure, std::shared_ptr<RequestMemory>& pMemory,
                                  DWORD dwServerStart, CProgressReporter& reporter) {
    // The part first: what it holds decides the request.
    if (!OpenPart()) return EndAttempt(TransferStep::GiveUp, ETransferFailure::LocalWrite, GetLastError());
    m_pRequest = std::make_unique<CAsyncRequest>(pMemory);
    m_dwWholeDeadline = dwServerStart + m_bound.dwWholeMs;
    m_clock.reset();
    m_bReceivedBytes = false;
    m_bContinuing = false;
    m_nProxyAuthRounds = 0;
    m_end = S_TransferFailure();
    if (!m_pRequest->Open(std::move(hConnect), m_wstrUrlPath, bSecure))
        return EndAttempt(TransferStep::TryNext, ETransferFailure::Unreachable, GetLastError());
    m_strAskedOrigin = OriginOf(m_pRequest->Url());
    m_bResuming = m_part.Have() > 0 && !m_part.Validator().empty();
    if (m_bResuming) {
        const std::wstring wstrHeaders = L"Range: bytes=" + std::to_wstring(m_part.Have()) + L"-\r\nIf-Range: " +
                                         WidenAscii(m_part.Validator()) + L"\r\n";
        if (!m_pRequest->AddHeaders(wstrHeaders))
            return EndAttempt(TransferStep::TryNext, ETransferFailure::Unreachable, GetLastError());
    } else if (!m_strCondition.empty()) {
        const std::wstring wstrHeaders = L"If-None-Match: " + WidenAscii(m_strCondition) + L"\r\n";
        if (!m_pRequest->AddHeaders(wstrHeaders))
            return EndAttempt(TransferStep::TryNext, ETransferFailure::Unreachable, GetLastError());
    }
    const TransferStep step = Begin(Phase::Sending, m_pRequest->BeginSend(), kConnectLimitMs);
    return step == TransferStep::Pending ? TakeInline(reporter) : step;
}

TransferStep CFileTransfer::OnEvent(CProgressReporter& reporter) {
    const TransferStep step = Next(reporter);
    return step == TransferStep::Pending ? TakeInline(reporter) : step;
}

TransferStep CFileTransfer::TakeInline(CProgressReporter& reporter) {
    TransferStep step = TransferStep::Pending;
    for (int i = 0; i < kInlineSteps && step == TransferStep::Pending && m_pRequest->CompletedInline(); ++i)
        step = Next(reporter);
    // Still one done and not taken: its event brings the transport back to it.
    if (step == TransferStep::Pending && m_pRequest->CompletedInline()) m_pRequest->SignalCompletion();
    return step;
}

TransferStep CFileTransfer::Next(CProgressReporter& reporter) {
    DWORD cbBytes = 0;
    if (!m_pRequest->Finished(cbBytes)) return Failed(m_pRequest->Error());
    switch (m_phase) {
    case Phase::Sending:
        return Begin(Phase::Receiving, m_pRequest->BeginReceive(), kAnswerLimitMs);
    case Phase::Receiving:
        return AfterHeaders();
    case Phase::Querying:
        if (cbBytes == 0) return m_bOpenLength ? OpenEnd(reporter) : Failed(0);  // the end, or an early one
        if (cbBytes > m_nTotal - m_part.Have()) return Beyond(cbBytes);
        return Begin(Phase::ReadingBuffered, m_pRequest->BeginRead(std::min(cbBytes, kReadBufferBytes)),
                     m_clock->WindowLeft());
    case Phase::ReadingBuffered:
    case Phase::ReadingBulk:
        return AfterRead(cbBytes, reporter);
    case Phase::ReadingEnd:
        if (cbBytes != 0) return Beyond(cbBytes);
        return m_bOpenLength ? OpenEnd(reporter) : Complete(reporter);
    }
    return EndAttempt(TransferStep::TryNext, ETransferFailure::Unreachable);
}

TransferStep CFileTransfer::AfterHeaders() {
    const DWORD dwStatus = m_pRequest->Status();
    if (dwStatus == 407 && m_nProxyAuthRounds < kProxyAuthRounds && m_pRequest->UseLogonCredentialsForProxy()) {
        ++m_nProxyAuthRounds;
        return Begin(Phase::Sending, m_pRequest->BeginSend(), kConnectLimitMs);
    }
    if (dwStatus == 304 && !m_strCondition.empty() && !m_bResuming) {
        m_bNotModified = true;   // the part stays empty and goes with this transfer
        return EndAttempt(TransferStep::Stored, ETransferFailure::None);
    }
    if (std::optional<TransferStep> refused = RefusedAnswer(dwStatus)) return *refused;
    m_strAnswerValidator = m_pRequest->Header(L"ETag");
    uint64_t nLength = 0;
    // Without a length the end of the body cannot be told from a dropped connection.
    const bool bLength = m_pRequest->ContentLength(nLength);
    m_bOpenLength = false;
    std::optional<TransferStep> refused;
    if (dwStatus == 200 && bLength) {
        refused = TakeWholeBody(nLength);
    } else if (dwStatus == 200 && (IsChunked(m_pRequest->Header(L"Transfer-Encoding")) ||
                                   m_bound.nSize != S_FileBound::kUnknown)) {
        refused = TakeOpenBody();
    } else if (dwStatus == 206 && m_bResuming && bLength) {
        refused = TakeRestOfPart(nLength);
    } else if (dwStatus == 416 && m_bResuming) {
        m_part.Discard();
        return EndAttempt(TransferStep::Broke, ETransferFailure::BrokenBody);
    } else {
        m_end.dwStatus = dwStatus;
        return EndAttempt(TransferStep::TryNext, ETransferFailure::HttpStatus);
    }
    if (refused) return *refused;
    m_clock.emplace();
    if (m_nTotal == 0) {
        // Reading the (empty) end lets WinHTTP keep the connection for the next file.
        return Begin(Phase::ReadingEnd, m_pRequest->BeginRead(1), m_clock->WindowLeft());
    }
    return NextBodyStep();
}

std::optional<TransferStep> CFileTransfer::RefusedAnswer(DWORD dwStatus) {
    const std::string strOrigin = OriginOf(m_pRequest->Url());
    m_strRedirectedTo = strOrigin != m_strAskedOrigin ? strOrigin : std::string();
    if (IsRedirect(dwStatus)) {
        m_end.dwStatus = dwStatus;
        return EndAttempt(TransferStep::TryNext, ETransferFailure::Redirect);
    }
    const std::string strType = m_pRequest->Header(L"Content-Type");
    if (m_bound.bNoWebPage && StrCmpNIA(strType.c_str(), "text/html", 9) == 0)
        return EndAttempt(TransferStep::TryNext, ETransferFailure::WebPage);
    return std::nullopt;
}

std::optional<TransferStep> CFileTransfer::TakeWholeBody(uint64_t nLength) {
    ETransferFailure eOutside = ETransferFailure::None;
    // Refused before the part is touched: what is there may still be continued elsewhere.
    if (Outside(nLength, eOutside)) return EndAttempt(TransferStep::TryNext, eOutside);
    // A weak ETag cannot continue a body; Last-Modified then stands in.
    std::string strValidator = m_pRequest->Header(L"ETag");
    if (strValidator.compare(0, 2, "W/") == 0) strValidator.clear();
    if (strValidator.empty()) strValidator = m_pRequest->Header(L"Last-Modified");
    if (m_bound.nMaxSize != S_FileBound::kUnknown) strValidator.clear();  // never continued (see the constructor)
    if (!m_part.StartOver(strValidator, nLength))
        return EndAttempt(TransferStep::GiveUp, ETransferFailure::LocalWrite, GetLastError());
    m_nTotal = nLength;
    return std::nullopt;
}

std::optional<TransferStep> CFileTransfer::TakeOpenBody() {
    // Chunked: WinHTTP knows where the body ends. Ended by the connection:
    // only a file of known size, read up to that size.
    if (!m_part.StartOver(std::string(), 0))
        return EndAttempt(TransferStep::GiveUp, ETransferFailure::LocalWrite, GetLastError());
    m_bOpenLength = true;
    m_nTotal = m_bound.nSize != S_FileBound::kUnknown ? m_bound.nSize : m_bound.nMaxSize;
    return std::nullopt;
}

std::optional<TransferStep> CFileTransfer::TakeRestOfPart(uint64_t nLength) {
    uint64_t nFirst = 0, nLast = 0, nTotal = 0;
    if (!ParseContentRange(m_pRequest->Header(L"Content-Range"), nFirst, nLast, nTotal) ||
        nFirst != m_part.Have() || nLast + 1 != nTotal || nLength != nTotal - nFirst ||
        (m_part.Total() != 0 && nTotal != m_part.Total())) {
        m_part.Discard();  // not the rest of what is there: the next attempt starts over
        return EndAttempt(TransferStep::Broke, ETransferFailure::BrokenBody);
    }
    ETransferFailure eOutside = ETransferFailure::None;
    if (Outside(nTotal, eOutside)) return EndAttempt(TransferStep::TryNext, eOutside);
    if (!m_part.Continue()) return EndAttempt(TransferStep::GiveUp, ETransferFailure::LocalWrite, GetLastError());
    m_nTotal = nTotal;
    m_bContinuing = true;
    return std::nullopt;
}

TransferStep CFileTransfer::AfterRead(DWORD cbRead, CProgressReporter& reporter) {
    if (cbRead == 0) return Failed(0);
    if (cbRead > m_nTotal - m_part.Have()) return Beyond(cbRead);
    if (m_bound.bNoWebPage && m_part.Have() == 0 && StartsLikeHtml(m_pRequest->Data(), cbRead))
        return EndAttempt(TransferStep::TryNext, ETransferFailure::WebPage);
    if (!m_part.Write(m_pRequest->Data(), cbRead))
        return EndAttempt(TransferStep::GiveUp, ETransferFailure::LocalWrite, GetLastError());
    m_bReceivedBytes = true;
    m_nAttemptBytes += cbRead;
    m_nUntallied += cbRead;
    // A trickle, like a silent server, is not asked again: another server may be faster.
    if (!m_clock->Received(m_nAttemptBytes) || WholeTimeOver())
        return EndAttempt(TransferStep::TryNext, ETransferFailure::Stalled);
    if (!reporter.Progress(m_part.Have(), ReportTotal(), cbRead))
        return EndAttempt(TransferStep::GiveUp, ETransferFailure::Aborted);
    if (m_part.Have() == m_nTotal && !m_bOpenLength) return Complete(reporter);
    if (m_phase == Phase::ReadingBuffered) {
        // Nothing is buffered now, so a bulk read runs on WinHTTP's thread.
        const DWORD cbBulk = m_clock->BulkReadSize(m_nAttemptBytes, m_nTotal - m_part.Have());
        if (cbBulk != 0) return Begin(Phase::ReadingBulk, m_pRequest->BeginRead(cbBulk), m_clock->WindowLeft());
    }
    return NextBodyStep();
}

TransferStep CFileTransfer::NextBodyStep() {
    // What is buffered; with nothing buffered, this waits for the next bytes.
    return Begin(Phase::Querying, m_pRequest->BeginQueryAvailable(), m_clock->WindowLeft());
}

TransferStep CFileTransfer::Begin(Phase phase, bool bStarted, DWORD dwLimitMs) {
    if (!bStarted) return Failed(GetLastError());
    m_phase = phase;
    m_dwDeadline = GetTickCount() + dwLimitMs;
    if (m_bound.dwWholeMs != 0 && static_cast<LONG>(m_dwDeadline - m_dwWholeDeadline) > 0)
        m_dwDeadline = m_dwWholeDeadline;
    return TransferStep::Pending;
}

bool CFileTransfer::Outside(uint64_t nLength, ETransferFailure& eReason) {
    if (m_bound.nSize != S_FileBound::kUnknown && nLength != m_bound.nSize) {
        eReason = ETransferFailure::ContentMismatch;
        m_end.nExpected = m_bound.nSize;   // for the log: the two sizes are what a support desk asks for
        m_end.nReceived = nLength;
        m_end.bAnnounced = true;
        return true;
    }
    if (m_bound.nMaxSize != S_FileBound::kUnknown && nLength > m_bound.nMaxSize) {
        eReason = ETransferFailure::TooLarge;
        return true;
    }
    return false;
}

TransferStep CFileTransfer::Beyond(uint64_t nMore) {
    const bool bTooLarge = m_bOpenLength && m_bound.nSize == S_FileBound::kUnknown;
    m_end.nExpected = m_bound.nSize;
    m_end.nReceived = m_part.Have() + nMore;
    m_end.bReceivedMore = true;
    return EndAttempt(TransferStep::TryNext, bTooLarge ? ETransferFailure::TooLarge : ETransferFailure::ContentMismatch);
}

TransferStep CFileTransfer::OpenEnd(CProgressReporter& reporter) {
    if (m_bound.nSize != S_FileBound::kUnknown && m_part.Have() != m_bound.nSize) {
        m_end.nExpected = m_bound.nSize;
        m_end.nReceived = m_part.Have();
        return EndAttempt(TransferStep::TryNext, ETransferFailure::ContentMismatch);
    }
    m_nTotal = m_part.Have();
    return Complete(reporter);
}

bool CFileTransfer::WholeTimeOver() const {
    return m_bound.dwWholeMs != 0 && static_cast<LONG>(GetTickCount() - m_dwWholeDeadline) >= 0;
}

uint64_t CFileTransfer::ReportTotal() const {
    if (!m_bOpenLength) return m_nTotal;
    return m_bound.nSize != S_FileBound::kUnknown ? m_bound.nSize : m_part.Have() + 1;
}

TransferStep CFileTransfer::OnTimeout() {
    if (WholeTimeOver()) return EndAttempt(TransferStep::TryNext, ETransferFailure::Stalled, ERROR_WINHTTP_TIMEOUT);
    switch (m_phase) {
    case Phase::Sending: return EndAttempt(TransferStep::TryNext, ETransferFailure::Unreachable, ERROR_WINHTTP_TIMEOUT);
    case Phase::Receiving: return EndAttempt(TransferStep::TryNext, ETransferFailure::NoAnswer, ERROR_WINHTTP_TIMEOUT);
    default: return EndAttempt(TransferStep::TryNext, ETransferFailure::Stalled, ERROR_WINHTTP_TIMEOUT);
    }
}

TransferStep CFileTransfer::Failed(DWORD dwError) {
    if (IsSecureFailure(dwError) && (m_phase == Phase::Sending || m_phase == Phase::Receiving)) {
        m_end.dwCertificate = m_pRequest->SecureFailureFlags();
        return EndAttempt(TransferStep::TryNext, ETransferFailure::Certificate, dwError);
    }
    if (dwError == ERROR_WINHTTP_REDIRECT_FAILED)
        return EndAttempt(TransferStep::TryNext, ETransferFailure::Redirect, dwError);
    switch (m_phase) {
    case Phase::Sending: return EndAttempt(TransferStep::TryNext, ETransferFailure::Unreachable, dwError);
    case Phase::Receiving: return EndAttempt(TransferStep::TryNext, ETransferFailure::NoAnswer, dwError);
    default:
        // Within the body, even before its first byte: the answer was there, the connection broke.
        return EndAttempt(TransferStep::Broke, ETransferFailure::BrokenBody, dwError);
    }
}

TransferStep CFileTransfer::Complete(CProgressReporter& reporter) {
    if (reporter.WindowGone()) return EndAttempt(TransferStep::GiveUp, ETransferFailure::Aborted);
    if (!m_part.Commit()) return EndAttempt(TransferStep::GiveUp, ETransferFailure::LocalWrite, GetLastError());
    return EndAttempt(TransferStep::Stored, ETransferFailure::None);
}

uint64_t CFileTransfer::TakeReceived(bool& bContinued) {
    bContinued = m_bContinuing;
    const uint64_t n = m_nUntallied;
    m_nUntallied = 0;
    return n;
}

void CFileTransfer::Abandon() { m_pRequest.reset(); }

TransferStep CFileTransfer::EndAttempt(TransferStep result, ETransferFailure eReason, DWORD dwError) {
    m_end.eReason = eReason;
    m_end.dwError = dwError;
    m_pRequest.reset();
    m_nAttemptBytes = 0;
    return result;
}
