#pragma once
// One fetch of several files (CQOVAUpdateIntf::FetchFiles): up to a number of
// transfers in flight on the caller's thread, each step of each one started
// here and completed on its own event, one wait watching them all together
// with the abort event. Each file walks its servers in list order: the next
// attempt on the same server after a broken body, the next server when one
// did not deliver, and the end of the whole fetch when none did.
#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "platform/http/AsyncRequest.h"
#include "platform/http/FileTransfer.h"
#include "platform/http/ProgressReporter.h"
#include "platform/http/ServerConnections.h"
#include "platform/http/UpdateIntf.h"

// What one FetchFiles call asks for.
struct S_FetchJob {
    unsigned int nUpdateType = 0;
    const std::vector<std::string>& vecRemote;
    const std::vector<std::string>& vecLocal;
    const std::vector<S_FileBound>& vecBounds;  // empty, or one per file
    const S_FetchHooks& hooks;
    HWND hNotifyWnd = nullptr;
    unsigned int nNotifyMsg = 0;
};

// What the transport lends each of its fetches: the servers' connections, the
// transfer slots' memory, the per-server tally and the abort.
struct S_FetchLinks {
    CServerConnections& servers;
    std::vector<std::shared_ptr<RequestMemory>>& vecMemory;  // one per slot
    std::vector<S_ServerTally>& vecTally;                    // one per server
    HANDLE hAbort;
    const std::atomic<bool>& bAborted;
};

class CFetchScheduler {
public:
    CFetchScheduler(const S_FetchJob& job, const S_FetchLinks& links, unsigned int nConnections);
    CFetchScheduler(const CFetchScheduler&) = delete;
    CFetchScheduler& operator=(const CFetchScheduler&) = delete;

    // Runs the fetch to its end: the index of the first file not stored
    // (the number of files when all are), and why it was not.
    size_t Run(S_TransferFailure& failure);

private:
    // How the fetch stands; it only ever rises.
    enum class EEnd {
        Running,   // files are started as slots come free
        Stopping,  // a stop was asked for: no new request, the ones in flight may finish
        Failed,    // a file no server delivered: no new request, completions still reported
        GivenUp,   // aborted, the report window gone or the disk refusing: nothing more
    };
    struct S_File {
        std::unique_ptr<CFileTransfer> pTransfer;  // while in flight
        size_t nServer = 0;
        int nAttempts = 0;        // on nServer
        DWORD dwServerStart = 0;  // tick count of the first attempt on nServer
        size_t nSlot = 0;
        uint64_t nSize = 0;
        bool bStored = false;
        S_TransferFailure failure;  // why its last attempt ended without it
    };

    void StartFiles();
    bool StartFile(size_t i);
    // An attempt on the file's server, or on the next usable one.
    void Attempt(size_t i);
    // Takes a step's outcome and follows it.
    void Follow(size_t i, TransferStep step);
    void TallyStep(size_t i, TransferStep step);
    void Store(size_t i);
    void NextServer(size_t i);
    // Another attempt is a new request: none once the fetch is ending.
    void AttemptAgain(size_t i);
    void Release(size_t i);
    void AbandonAll();
    // The state rises to eEnd; the first file to take it to Failed or beyond is the one named.
    void End(EEnd eEnd, size_t nFile);
    void PollStop();
    void ReportCompleted();
    void WaitAndDispatch();
    DWORD WaitMs() const;
    void DispatchOthers(const std::vector<size_t>& vecWaited, size_t nSignalled);
    size_t Result(S_TransferFailure& failure) const;

    const S_FetchJob& m_job;
    const S_FetchLinks& m_links;
    const unsigned int m_nConnections;
    const size_t m_nFiles;
    std::vector<S_File> m_vecFiles;
    std::vector<bool> m_vecSlotBusy;
    std::vector<size_t> m_vecActive;  // files in flight, in start order
    CProgressReporter m_reporter;
    size_t m_nNextStart = 0;
    size_t m_nNextReport = 0;
    EEnd m_eEnd = EEnd::Running;
    size_t m_nEndedBy;  // the file whose failure ended the fetch; m_nFiles when none
    DWORD m_dwStopDeadline = 0;
};
