#pragma once
// One file's transfer from the update servers, attempt by attempt, as a set
// of steps that never block: the transport starts a step, waits for the
// request's event next to other transfers' events, and hands the completion
// back here. The body goes into the file's part (CPartFile); an attempt that
// follows a break asks for the rest with Range and If-Range.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/http/AsyncRequest.h"
#include "platform/http/BodyClock.h"
#include "platform/http/PartFile.h"
#include "platform/http/UpdateIntf.h"

class CProgressReporter;

// How an attempt (or a step of it) ended.
enum class TransferStep {
    Pending,  // a step is under way: wait for Event() until Deadline()
    Stored,   // the file is in place
    Broke,    // the connection ended within the body (or the server refused to continue it): ask again
    TryNext,  // this server did not deliver, or too slowly; another may
    GiveUp,   // report window gone or the file cannot be written: the whole fetch stops
};

class CFileTransfer {
public:
    // A part left by an earlier transfer is continued only when the bound allows it.
    // Nothing on disk is touched before the first Start.
    CFileTransfer(std::wstring wstrUrlPath, std::string strLocalFile, const S_FileBound& bound);
    ~CFileTransfer();
    // A copy the caller keeps, by its ETag: the request asks with
    // If-None-Match, and a 304 ends the transfer as Stored with NotModified(),
    // the local file untouched. Anything but an entity tag asks nothing: a
    // date (If-Modified-Since) would take a restored older file for the kept one.
    void SetCondition(std::string strValidator);
    bool NotModified() const { return m_bNotModified; }
    // The stored answer's ETag; empty when it had none.
    const std::string& AnswerValidator() const { return m_strAnswerValidator; }
    // Where the last answer came from when redirects led elsewhere ("https://host:port"); else empty.
    const std::string& RedirectedTo() const { return m_strRedirectedTo; }
    CFileTransfer(const CFileTransfer&) = delete;
    CFileTransfer& operator=(const CFileTransfer&) = delete;

    // Starts an attempt on hConnect (bSecure: over TLS) with the slot's request memory;
    // dwServerStart: when the first attempt on this server began (the bound's dwWholeMs counts from it).
    TransferStep Start(UniqueInternet hConnect, bool bSecure, std::shared_ptr<RequestMemory>& pMemory,
                       DWORD dwServerStart, CProgressReporter& reporter);
    HANDLE Event() const { return m_pRequest->Event(); }
    // Tick count by which the current step must have completed.
    DWORD Deadline() const { return m_dwDeadline; }
    // The current step completed (Event() was signalled): the next one is started.
    TransferStep OnEvent(CProgressReporter& reporter);
    // The current step ran past its deadline.
    TransferStep OnTimeout();
    // Drops the attempt under way; what was received stays in the part.
    void Abandon();

    uint64_t Size() const { return m_nTotal; }
    // Whether the last attempt brought any of the body.
    bool ReceivedBytes() const { return m_bReceivedBytes; }
    // Why the last attempt ended (eReason, dwStatus, dwError; no names).
    const S_TransferFailure& LastEnd() const { return m_end; }
    // Body bytes received since the last call; bContinued: they continue a part (206).
    uint64_t TakeReceived(bool& bContinued);

private:
    enum class Phase { Sending, Receiving, Querying, ReadingBuffered, ReadingBulk, ReadingEnd };

    // Follows the step that completed, starting the next one.
    TransferStep Next(CProgressReporter& reporter);
    // Takes the steps that completed within the calls that started them.
    TransferStep TakeInline(CProgressReporter& reporter);
    // Opens the part at the first attempt, dropping what the bound does not allow to continue.
    bool OpenPart();
    TransferStep AfterHeaders();
    // A redirect WinHTTP did not follow, or a web page where none may come.
    std::optional<TransferStep> RefusedAnswer(DWORD dwStatus);
    // The kinds of answer a body is taken from: a 200 with a length, a 200
    // without one (chunked, or a file of known size), a 206 continuing the
    // part. Nothing when the body is to be read, else how the attempt ended.
    std::optional<TransferStep> TakeWholeBody(uint64_t nLength);
    std::optional<TransferStep> TakeOpenBody();
    std::optional<TransferStep> TakeRestOfPart(uint64_t nLength);
    TransferStep AfterRead(DWORD cbRead, CProgressReporter& reporter);
    TransferStep NextBodyStep();
    TransferStep Begin(Phase phase, bool bStarted, DWORD dwLimitMs);
    // True (with the reason) when a body of nLength bytes is outside the bound.
    bool Outside(uint64_t nLength, ETransferFailure& eReason);
    // More bytes came than the body may have.
    TransferStep Beyond(uint64_t nMore);
    // The end of a body without a length.
    TransferStep OpenEnd(CProgressReporter& reporter);
    bool WholeTimeOver() const;
    uint64_t ReportTotal() const;
    TransferStep EndAttempt(TransferStep result, ETransferFailure eReason, DWORD dwError = 0);
    // The operation under way failed, or could not be started.
    TransferStep Failed(DWORD dwError);
    // The whole body is in the part: moved into place.
    TransferStep Complete(CProgressReporter& reporter);

    const std::wstring m_wstrUrlPath;
    const S_FileBound m_bound;
    CPartFile m_part;
    bool m_bPartOpen = false;
    std::unique_ptr<CAsyncRequest> m_pRequest;
    std::optional<CBodyClock> m_clock;
    Phase m_phase = Phase::Sending;
    DWORD m_dwDeadline = 0;
    uint64_t m_nTotal = 0;          // the body's length; with m_bOpenLength, the most that may come
    bool m_bOpenLength = false;     // no Content-Length: chunked, or ended by the connection
    DWORD m_dwWholeDeadline = 0;    // with m_bound.dwWholeMs
    uint64_t m_nAttemptBytes = 0;   // body bytes of the attempt under way
    bool m_bResuming = false;       // this attempt asked for the rest of the part
    bool m_bReceivedBytes = false;  // this attempt brought body bytes
    bool m_bContinuing = false;     // this attempt's answer continues the part (206)
    uint64_t m_nUntallied = 0;      // body bytes not yet taken by TakeReceived
    S_TransferFailure m_end;
    int m_nProxyAuthRounds = 0;
    std::string m_strCondition;
    bool m_bNotModified = false;
    std::string m_strAnswerValidator;
    std::string m_strAskedOrigin;   // "scheme://host:port" of the first request
    std::string m_strRedirectedTo;
};
