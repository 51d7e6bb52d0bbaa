#include "platform/http/FileTransfer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

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

std::wstring WidenAscii(const std::string& str) { return std::wstring(str.begin(), str.end()); }

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

}  // namespace

CFileTransfer::CFileTransfer(std::wstring wstrUrlPath, std::string strLocalFile)
    : m_wstrUrlPath(std::move(wstrUrlPath)), m_part(std::move(strLocalFile)) {}

// The request goes first: an operation under way still writes into its memory, not into the part.
CFileTransfer::~CFileTransfer() { m_pRequest.reset(); }

TransferStep CFileTransfer::Start(HINTERNET hConnect, std::shared_ptr<RequestMemory>& pMemory) {
    m_pRequest = std::make_unique<CAsyncRequest>(pMemory);
    m_clock.reset();
    m_bReceivedBytes = false;
    m_bContinuing = false;
    m_nProxyAuthRounds = 0;
    m_end = S_TransferFailure();
    if (!m_pRequest->Open(hConnect, m_wstrUrlPath))
        return EndAttempt(TransferStep::TryNext, ETransferFailure::Unreachable, GetLastError());
    m_bResuming = m_part.Have() > 0 && !m_part.Validator().empty();
    if (m_bResuming) {
        const std::wstring wstrHeaders = L"Range: bytes=" + std::to_wstring(m_part.Have()) + L"-\r\nIf-Range: " +
                                         WidenAscii(m_part.Validator()) + L"\r\n";
        if (!m_pRequest->AddHeaders(wstrHeaders))
            return EndAttempt(TransferStep::TryNext, ETransferFailure::Unreachable, GetLastError());
    }
    const TransferStep step = Begin(Phase::Sending, m_pRequest->BeginSend(), kConnectLimitMs);
    // Opening a file costs about as much as a small request under Wine: done
    // while the server answers.
    if (step == TransferStep::Pending && !m_part.Open())
        return EndAttempt(TransferStep::GiveUp, ETransferFailure::LocalWrite, GetLastError());
    return step;
}

TransferStep CFileTransfer::OnEvent(CProgressReporter& reporter) {
    DWORD cbBytes = 0;
    if (!m_pRequest->Finished(cbBytes)) return Failed(m_pRequest->Error());
    switch (m_phase) {
    case Phase::Sending:
        return Begin(Phase::Receiving, m_pRequest->BeginReceive(), kAnswerLimitMs);
    case Phase::Receiving:
        return AfterHeaders();
    case Phase::Querying:
        if (cbBytes == 0) return Failed(0);  // the connection ended early
        if (cbBytes > m_nTotal - m_part.Have())  // beyond its length
            return EndAttempt(TransferStep::TryNext, ETransferFailure::ContentMismatch);
        return Begin(Phase::ReadingBuffered, m_pRequest->BeginRead(std::min(cbBytes, kReadBufferBytes)),
                     m_clock->WindowLeft());
    case Phase::ReadingBuffered:
    case Phase::ReadingBulk:
        return AfterRead(cbBytes, reporter);
    case Phase::ReadingEnd:
        if (cbBytes != 0) return EndAttempt(TransferStep::TryNext, ETransferFailure::ContentMismatch);
        return Complete(reporter);
    }
    return EndAttempt(TransferStep::TryNext, ETransferFailure::Unreachable);
}

TransferStep CFileTransfer::AfterHeaders() {
    const DWORD dwStatus = m_pRequest->Status();
    if (dwStatus == 407 && m_nProxyAuthRounds < kProxyAuthRounds && m_pRequest->UseLogonCredentialsForProxy()) {
        ++m_nProxyAuthRounds;
        return Begin(Phase::Sending, m_pRequest->BeginSend(), kConnectLimitMs);
    }
    uint64_t nLength = 0;
    // Without a length the end of the body cannot be told from a dropped connection.
    const bool bLength = m_pRequest->ContentLength(nLength);
    if (dwStatus == 200 && bLength) {
        // A weak ETag cannot continue a body; Last-Modified then stands in.
        std::string strValidator = m_pRequest->Header(L"ETag");
        if (strValidator.compare(0, 2, "W/") == 0) strValidator.clear();
        if (strValidator.empty()) strValidator = m_pRequest->Header(L"Last-Modified");
        if (!m_part.StartOver(strValidator, nLength))
            return EndAttempt(TransferStep::GiveUp, ETransferFailure::LocalWrite, GetLastError());
        m_nTotal = nLength;
    } else if (dwStatus == 206 && m_bResuming && bLength) {
        uint64_t nFirst = 0, nLast = 0, nTotal = 0;
        if (!ParseContentRange(m_pRequest->Header(L"Content-Range"), nFirst, nLast, nTotal) ||
            nFirst != m_part.Have() || nLast + 1 != nTotal || nLength != nTotal - nFirst ||
            (m_part.Total() != 0 && nTotal != m_part.Total())) {
            m_part.Discard();  // not the rest of what is there: the next attempt starts over
            return EndAttempt(TransferStep::Broke, ETransferFailure::BrokenBody);
        }
        if (!m_part.Continue()) return EndAttempt(TransferStep::GiveUp, ETransferFailure::LocalWrite, GetLastError());
        m_nTotal = nTotal;
        m_bContinuing = true;
    } else if (dwStatus == 416 && m_bResuming) {
        m_part.Discard();
        return EndAttempt(TransferStep::Broke, ETransferFailure::BrokenBody);
    } else {
        m_end.dwStatus = dwStatus;
        return EndAttempt(TransferStep::TryNext, ETransferFailure::HttpStatus);
    }
    m_clock.emplace();
    if (m_nTotal == 0) {
        // Reading the (empty) end lets WinHTTP keep the connection for the next file.
        return Begin(Phase::ReadingEnd, m_pRequest->BeginRead(1), m_clock->WindowLeft());
    }
    return NextBodyStep();
}

TransferStep CFileTransfer::AfterRead(DWORD cbRead, CProgressReporter& reporter) {
    if (cbRead == 0 || cbRead > m_nTotal - m_part.Have()) return Failed(0);
    if (!m_part.Write(m_pRequest->Data(), cbRead))
        return EndAttempt(TransferStep::GiveUp, ETransferFailure::LocalWrite, GetLastError());
    m_bReceivedBytes = true;
    m_nAttemptBytes += cbRead;
    m_nUntallied += cbRead;
    // A trickle, like a silent server, is not asked again: another server may be faster.
    if (!m_clock->Received(m_nAttemptBytes)) return EndAttempt(TransferStep::TryNext, ETransferFailure::Stalled);
    if (!reporter.Progress(m_part.Have(), m_nTotal, cbRead))
        return EndAttempt(TransferStep::GiveUp, ETransferFailure::Aborted);
    if (m_part.Have() == m_nTotal) return Complete(reporter);
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
    return TransferStep::Pending;
}

TransferStep CFileTransfer::OnTimeout() {
    switch (m_phase) {
    case Phase::Sending: return EndAttempt(TransferStep::TryNext, ETransferFailure::Unreachable, ERROR_WINHTTP_TIMEOUT);
    case Phase::Receiving: return EndAttempt(TransferStep::TryNext, ETransferFailure::NoAnswer, ERROR_WINHTTP_TIMEOUT);
    default: return EndAttempt(TransferStep::TryNext, ETransferFailure::Stalled, ERROR_WINHTTP_TIMEOUT);
    }
}

TransferStep CFileTransfer::Failed(DWORD dwError) {
    switch (m_phase) {
    case Phase::Sending: return EndAttempt(TransferStep::TryNext, ETransferFailure::Unreachable, dwError);
    case Phase::Receiving: return EndAttempt(TransferStep::TryNext, ETransferFailure::NoAnswer, dwError);
    default:
        return EndAttempt(m_bReceivedBytes ? TransferStep::Broke : TransferStep::TryNext, ETransferFailure::BrokenBody,
                          dwError);
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
