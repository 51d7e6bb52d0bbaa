#include "platform/http/FetchScheduler.h"

#include <algorithm>

#include "platform/base/Text.h"
#include "platform/http/UrlPath.h"

namespace {

// Attempts at one file on one server when its body keeps breaking off.
const int kAttemptsPerServer = 3;
// After a stop request, the transfers in flight get this long to finish.
const DWORD kStopGraceMs = 1500;
// How often a stop request is looked for.
const DWORD kStopPollMs = 50;

// Milliseconds until dwDeadline, 0 when it has passed.
DWORD MsUntil(DWORD dwDeadline, DWORD dwNow) {
    const LONG nLeft = static_cast<LONG>(dwDeadline - dwNow);
    return nLeft > 0 ? static_cast<DWORD>(nLeft) : 0;
}

// A server with a body of the wrong length says more than a dead one after it.
bool TellsMore(const S_TransferFailure& failure) {
    return failure.eReason == ETransferFailure::ContentMismatch || failure.eReason == ETransferFailure::TooLarge;
}

}  // namespace

CFetchScheduler::CFetchScheduler(const S_FetchJob& job, const S_FetchLinks& links, unsigned int nConnections)
    : m_job(job),
      m_links(links),
      m_nConnections(nConnections),
      m_nFiles(job.vecRemote.size()),
      m_vecFiles(m_nFiles),
      m_vecSlotBusy(nConnections, false),
      m_reporter(job.hNotifyWnd, job.nNotifyMsg),
      m_nEndedBy(m_nFiles) {
    m_vecActive.reserve(nConnections);
}

size_t CFetchScheduler::Run(S_TransferFailure& failure) {
    for (;;) {
        StartFiles();
        ReportCompleted();
        if (m_eEnd >= EEnd::Failed) AbandonAll();
        if (m_vecActive.empty() && (m_eEnd != EEnd::Running || m_nNextStart == m_nFiles)) break;
        WaitAndDispatch();
    }
    return Result(failure);
}

void CFetchScheduler::StartFiles() {
    while (m_eEnd == EEnd::Running && m_vecActive.size() < m_nConnections && m_nNextStart < m_nFiles) {
        if (m_job.hooks.fnStopRequested && m_job.hooks.fnStopRequested()) {
            End(EEnd::Stopping, m_nFiles);
            m_dwStopDeadline = GetTickCount() + kStopGraceMs;
            return;
        }
        if (!StartFile(m_nNextStart++)) return;
    }
}

bool CFetchScheduler::StartFile(size_t i) {
    S_File& file = m_vecFiles[i];
    std::string strUrlPath;
    if (!BuildRemoteUrlPath(m_job.nUpdateType, m_job.vecRemote[i].c_str(), strUrlPath) || m_job.vecLocal[i].empty()) {
        // A name that cannot be asked for is a request that cannot be sent.
        file.failure.eReason = ETransferFailure::Unreachable;
        file.failure.dwError = ERROR_INVALID_NAME;
        End(EEnd::Failed, i);
        return false;
    }
    if (m_job.hooks.fnBeforeFile) m_job.hooks.fnBeforeFile(i);
    file.nServer = m_job.hooks.nFirstServer;
    file.pTransfer = std::make_unique<CFileTransfer>(WidenAscii(strUrlPath), m_job.vecLocal[i],
                                                     m_job.vecBounds.empty() ? S_FileBound() : m_job.vecBounds[i]);
    if (i < m_job.hooks.vecConditions.size()) file.pTransfer->SetCondition(m_job.hooks.vecConditions[i]);
    file.nSlot = static_cast<size_t>(std::find(m_vecSlotBusy.begin(), m_vecSlotBusy.end(), false) -
                                     m_vecSlotBusy.begin());
    m_vecSlotBusy[file.nSlot] = true;
    m_vecActive.push_back(i);
    Attempt(i);
    return true;
}

void CFetchScheduler::Attempt(size_t i) {
    S_File& file = m_vecFiles[i];
    for (;;) {
        while (file.nServer < m_links.servers.Count() && !m_links.servers.Usable(file.nServer)) ++file.nServer;
        if (file.nServer >= m_links.servers.Count()) {
            if (file.failure.eReason == ETransferFailure::None) file.failure.eReason = ETransferFailure::NoServer;
            End(EEnd::Failed, i);
            Release(i);
            return;
        }
        UniqueInternet hConnect = m_links.servers.Open(file.nServer);
        if (m_links.bAborted.load()) {
            file.failure.eReason = ETransferFailure::Aborted;
            End(EEnd::GivenUp, i);
            Release(i);
            return;
        }
        if (hConnect) {
            if (file.nAttempts == 0) file.dwServerStart = GetTickCount();
            Follow(i, file.pTransfer->Start(std::move(hConnect), m_links.servers.Secure(file.nServer),
                                            m_links.vecMemory[file.nSlot], file.dwServerStart, m_reporter));
            return;
        }
        if (!TellsMore(file.failure)) {
            const DWORD dwError = GetLastError();
            file.failure = S_TransferFailure();
            file.failure.eReason = ETransferFailure::Unreachable;
            file.failure.dwError = dwError;
            file.failure.strServer = m_links.vecTally[file.nServer].strServer;
        }
        ++file.nServer;
        file.nAttempts = 0;
    }
}

void CFetchScheduler::Follow(size_t i, TransferStep step) {
    TallyStep(i, step);
    switch (step) {
    case TransferStep::Pending:
        return;
    case TransferStep::Stored:
        Store(i);
        return;
    case TransferStep::GiveUp:
        End(EEnd::GivenUp, i);
        Release(i);
        return;
    case TransferStep::Broke:
        if (++m_vecFiles[i].nAttempts < kAttemptsPerServer) {
            AttemptAgain(i);
            return;
        }
        NextServer(i);
        return;
    case TransferStep::TryNext:
        NextServer(i);
        return;
    }
}

void CFetchScheduler::TallyStep(size_t i, TransferStep step) {
    S_File& file = m_vecFiles[i];
    bool bContinued = false;
    const uint64_t nReceived = file.pTransfer->TakeReceived(bContinued);
    S_ServerTally& tally = m_links.vecTally[file.nServer];
    tally.nBytes += nReceived;
    if (bContinued) tally.nResumedBytes += nReceived;
    if (step == TransferStep::Stored) ++tally.nFiles;
    if (step == TransferStep::Stored && !file.pTransfer->RedirectedTo().empty())
        tally.strRedirectedTo = file.pTransfer->RedirectedTo();
    if (step == TransferStep::Pending || step == TransferStep::Stored) return;
    if (file.pTransfer->LastEnd().eReason == ETransferFailure::Certificate) {
        ++tally.nTlsRefusals;
        tally.lastTlsRefusal = file.pTransfer->LastEnd();
    }
    if (TellsMore(file.failure) && step != TransferStep::GiveUp) return;
    file.failure = file.pTransfer->LastEnd();
    file.failure.strServer = tally.strServer;
}

void CFetchScheduler::Store(size_t i) {
    S_File& file = m_vecFiles[i];
    const S_FetchHooks& hooks = m_job.hooks;
    if (file.pTransfer->NotModified()) {
        if (hooks.fnNotModified) hooks.fnNotModified(i, file.nServer);
    } else {
        if (hooks.fnValidator) hooks.fnValidator(i, file.pTransfer->AnswerValidator());
        if (hooks.fnStored) hooks.fnStored(i, file.nServer);
    }
    file.bStored = true;
    file.nSize = file.pTransfer->Size();
    Release(i);
}

void CFetchScheduler::NextServer(size_t i) {
    ++m_vecFiles[i].nServer;
    m_vecFiles[i].nAttempts = 0;
    AttemptAgain(i);
}

void CFetchScheduler::AttemptAgain(size_t i) {
    if (m_eEnd != EEnd::Running) {
        Release(i);
        return;
    }
    Attempt(i);
}

void CFetchScheduler::Release(size_t i) {
    S_File& file = m_vecFiles[i];
    file.pTransfer.reset();  // an unfinished part is kept with its validator
    m_vecSlotBusy[file.nSlot] = false;
    m_vecActive.erase(std::find(m_vecActive.begin(), m_vecActive.end(), i));
}

void CFetchScheduler::AbandonAll() {
    while (!m_vecActive.empty()) {
        m_vecFiles[m_vecActive.back()].pTransfer->Abandon();
        Release(m_vecActive.back());
    }
}

void CFetchScheduler::End(EEnd eEnd, size_t nFile) {
    if (eEnd >= EEnd::Failed && m_eEnd < EEnd::Failed) m_nEndedBy = nFile;
    m_eEnd = std::max(m_eEnd, eEnd);
}

void CFetchScheduler::PollStop() {
    if (m_eEnd != EEnd::Running || !m_job.hooks.fnStopRequested || !m_job.hooks.fnStopRequested()) return;
    End(EEnd::Stopping, m_nFiles);
    m_dwStopDeadline = GetTickCount() + kStopGraceMs;
}

void CFetchScheduler::ReportCompleted() {
    // In list order: the report window counts them against its own list.
    while (m_nNextReport < m_nFiles && m_vecFiles[m_nNextReport].bStored && m_eEnd != EEnd::GivenUp) {
        m_reporter.Complete(m_vecFiles[m_nNextReport].nSize);
        ++m_nNextReport;
    }
}

void CFetchScheduler::WaitAndDispatch() {
    std::vector<HANDLE> vecHandles{m_links.hAbort};
    for (size_t i : m_vecActive) vecHandles.push_back(m_vecFiles[i].pTransfer->Event());
    const DWORD dwWait =
        WaitForMultipleObjects(static_cast<DWORD>(vecHandles.size()), vecHandles.data(), FALSE, WaitMs());
    if (dwWait == WAIT_OBJECT_0 || m_links.bAborted.load() || dwWait == WAIT_FAILED) {
        End(EEnd::GivenUp, m_nFiles);  // aborted: no file's own failure
        return;
    }
    // The signalled transfer first, then every other one whose step is done or late:
    // WaitForMultipleObjects always names the first, and no transfer may starve.
    const std::vector<size_t> vecWaited = m_vecActive;
    size_t nSignalled = m_nFiles;
    if (dwWait > WAIT_OBJECT_0 && dwWait < WAIT_OBJECT_0 + vecHandles.size()) {
        nSignalled = vecWaited[dwWait - WAIT_OBJECT_0 - 1];
        Follow(nSignalled, m_vecFiles[nSignalled].pTransfer->OnEvent(m_reporter));
    }
    DispatchOthers(vecWaited, nSignalled);
    PollStop();
    if (m_eEnd == EEnd::Stopping && MsUntil(m_dwStopDeadline, GetTickCount()) == 0) AbandonAll();
}

// The nearest step deadline, the next stop poll, or the end of the stop's grace.
DWORD CFetchScheduler::WaitMs() const {
    const DWORD dwNow = GetTickCount();
    DWORD dwWaitMs = INFINITE;
    for (size_t i : m_vecActive) dwWaitMs = std::min(dwWaitMs, MsUntil(m_vecFiles[i].pTransfer->Deadline(), dwNow));
    if (m_job.hooks.fnStopRequested && m_eEnd == EEnd::Running) dwWaitMs = std::min(dwWaitMs, kStopPollMs);
    if (m_eEnd == EEnd::Stopping) dwWaitMs = std::min(dwWaitMs, MsUntil(m_dwStopDeadline, dwNow));
    return dwWaitMs;
}

void CFetchScheduler::DispatchOthers(const std::vector<size_t>& vecWaited, size_t nSignalled) {
    for (size_t i : vecWaited) {
        if (i == nSignalled || !m_vecFiles[i].pTransfer || m_eEnd == EEnd::GivenUp) continue;
        CFileTransfer& transfer = *m_vecFiles[i].pTransfer;
        if (WaitForSingleObject(transfer.Event(), 0) == WAIT_OBJECT_0) {
            Follow(i, transfer.OnEvent(m_reporter));
        } else if (MsUntil(transfer.Deadline(), GetTickCount()) == 0) {
            Follow(i, transfer.OnTimeout());
        }
    }
}

size_t CFetchScheduler::Result(S_TransferFailure& failure) const {
    size_t nFirstMissing = 0;
    while (nFirstMissing < m_nFiles && m_vecFiles[nFirstMissing].bStored) ++nFirstMissing;
    failure = S_TransferFailure();
    if (nFirstMissing == m_nFiles) return nFirstMissing;
    if (m_nEndedBy < m_nFiles) {
        failure = m_vecFiles[m_nEndedBy].failure;
        failure.strRemoteFile = m_job.vecRemote[m_nEndedBy];
    } else {
        // Stopped or aborted: the first file missing names the server it was on.
        failure.eReason = ETransferFailure::Aborted;
        failure.strRemoteFile = m_job.vecRemote[nFirstMissing];
        const size_t nServer = m_vecFiles[nFirstMissing].nServer;
        if (nServer < m_links.vecTally.size()) failure.strServer = m_links.vecTally[nServer].strServer;
    }
    return nFirstMissing;
}
