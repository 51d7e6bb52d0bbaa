#pragma once
// Downloads a list of files into a staging directory on a worker thread,
// m_nConnections at a time, on the transport of the run it belongs to. The
// transport reports progress and each finished file, in list order, to the
// report window; the thread itself reports only a failed fetch, (0, -1), after
// which its run ends (also when the fetch ended in an exception).
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/base/ThreadBase.h"
#include "platform/http/UpdateIntf.h"

class CDownFileThread : public CThreadBase {
public:
    // Does not start the worker. The transport outlives the thread and is not
    // used by anyone else while the worker runs; a stop aborts it for good.
    CDownFileThread(CQOVAUpdateIntf& transport, HWND hNotifyWnd, UINT nNotifyMsg);
    // Stops the run and waits for it: fetches in flight are abandoned (their parts
    // kept for the next run), nothing more is reported.
    ~CDownFileThread() override;

    // Stores the staging directory, ending in '\'.
    void SetLocalPath(std::string strPath);

    // The owner sets the file list (under m_csFileList) and the update kind before
    // Start(); afterwards it touches none of these until deletion.
    HWND m_hNotifyWnd;
    UINT m_nNotifyMsg;
    UINT m_nCurFile = 0;  // 1-based number of the file being fetched
    std::string m_strCurFile;
    std::string m_strLocalPath;
    std::vector<std::string> m_vecFileList;
    // Empty, or the manifest's SIZE of each file of m_vecFileList
    // (S_FileBound::kUnknown where it gives none): a body of another length is refused.
    std::vector<unsigned long long> m_vecFileSizes;
    CCriticalSection m_csFileList;  // held by Run for its whole duration
    UINT m_nUpdateType = 1;
    UINT m_nConnections = 1;  // files in flight at once (the transport clamps it to 1..8)
    // When set, the worker runs this fetch (a run's fetch stage, with its ways)
    // instead of fetching m_vecFileList itself: reports to the window, the
    // stop flag to poll, false with the failure when a file did not come. On
    // true the thread reports (0, UPDATE_NOTIFY_DONE).
    using FetchFn = std::function<bool(HWND, UINT, const std::function<bool()>&, S_TransferFailure&)>;
    FetchFn m_fnFetch;

    // Why the run did not store every file; set before the (0, -1) report is
    // sent, so the report's handler may read it. None after a complete run.
    S_TransferFailure m_failure;

protected:
    void Run() override;
    void AbandonWork() override;
    void RunThrew() noexcept override;

private:
    CQOVAUpdateIntf& m_transport;
};
