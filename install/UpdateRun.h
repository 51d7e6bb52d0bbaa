#pragma once
// The one road of an update, run by the silent program update, the silent
// data update and the update dialog alike:
//
//   start    Start: recover an interrupted installation, delete old backups
//   manifest TakeManifest: FetchManifest (with a PublicKey: its .sig and the check)
//   compare  Compare: CompareProgramFiles or CompareDataFiles; staged copies an
//            interrupted run left with the right digest are kept
//   fetch    Fetch, on the run's transport (the silent roads here, the dialog
//            on its download thread between FetchStarted and FetchDone)
//   check    CheckStagedFiles: every staged file against the manifest, before
//            anything is touched
//   install  PlaceFiles: all or nothing (install/Placement.h), then the traces
//   end      End: the staging directory as the road wants it; the log's last line
//
// What differs between the roads is data (S_RoadPolicy, install/RoadPolicy.h).
// A failure the run survives goes to the log through platform/base/FailureLog.h. How a run ended is a
// typed outcome (S_RunOutcome) naming the stage and the reason; the log
// (UPDATE\Update.log) gets a line for each stage.
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "download/ManifestFetch.h"
#include "install/FetchWays.h"
#include "install/InstallTraces.h"
#include "install/RoadPolicy.h"
#include "install/UpdateLog.h"
#include "manifest/UpdateFileInfo.h"
#include "platform/http/UpdateIntf.h"

class CConfigFile;

class CStagedFileCheck;

// What a run is given.
struct S_RunSetup {
    int nUpdateType = 0;
    CQOVAUpdateIntf* pUpdateIntf = nullptr;  // the run's transport; outlives the run
    std::shared_ptr<CQOVAUpdateIntf> pTransport;   // its owner, when the setup made it (LoadRunSetup)
    std::string strTargetPath;    // directory whose files are replaced
    std::string strDownloadPath;  // staging directory for fetched files
    std::string strAppPath;       // directory of Update.exe, ending in '\'
    std::string strUpdateName;    // the data set's directory name (-d:); names its signature record
    std::string strVersion;       // installed version (Config.dat)
    std::string strRegion;        // region of this installation (Config.dat)
    bool bPathsUsable = true;     // false: the data-set name would leave the installation
};

// The setup of a run of this installation (the directory of Update.exe), in
// one place for every road: the road's paths for the kind and data set
// (bPathsUsable false for a name that would leave the installation),
// version, region and servers from Config.dat, and a transport of its own
// made from them with UserConfig.dat's connection count.
S_RunSetup LoadRunSetup(ERoad eRoad, int nUpdateType, const std::string& strUpdateName);

struct S_RunOutcome {
    ERunStage eStage = ERunStage::Start;
    ERunResult eResult = ERunResult::Offered;
    ESignatureCheck eSignature = ESignatureCheck::Valid;
    S_TransferFailure transfer;     // FetchFailed, and Damaged by a body of the wrong length
    std::string strFile;            // Damaged, Unreadable, InstallFailed
    DWORD dwError = 0;              // Unreadable, InstallFailed
    bool bRolledBack = false;       // InstallFailed: every replaced file was put back
};

class CUpdateRun {
public:
    CUpdateRun(const S_RunSetup& setup, const S_RoadPolicy& policy);
    ~CUpdateRun();
    CUpdateRun(const CUpdateRun&) = delete;
    CUpdateRun& operator=(const CUpdateRun&) = delete;

    // start, manifest and compare. Offered when files are to be installed.
    const S_RunOutcome& Check();

    // After Check: the changed files, and those of them not staged yet, in manifest order.
    const std::vector<S_UpdateFileInfo>& ChangedFiles() const { return m_vecChanged; }
    const std::vector<S_UpdateFileInfo>& FilesToFetch() const { return m_vecToFetch; }
    const S_ManifestHead& Head() const { return m_head; }

    // The fetch on the caller's thread. False (FetchFailed) when a file was not delivered.
    bool Fetch();
    // The fetch itself, on any thread (the dialog's download thread: the
    // installed files a patch needs are read there), each file by its ways
    // until staged under its name; reports of the transport to hNotifyWnd.
    // False when a file was not delivered: failure says why.
    bool FetchWays(HWND hNotifyWnd, UINT nNotifyMsg, const std::function<bool()>& fnStopRequested,
                   S_TransferFailure& failure);
    // A fetch elsewhere (the dialog's download thread) on the run's transport
    // begins, and has stored every file: the log's "fetch done" line.
    void FetchStarted();
    void FetchDone();
    // The fetch ran elsewhere (the dialog's download thread) and ended so. A
    // body of another length than the manifest's SIZE is a bad download, not
    // a connection failure.
    void FetchFailed(const S_TransferFailure& failure);
    void FetchCancelled();

    // check and install: every staged file is checked, then fnBeforeFiles
    // runs, then the files are put in place, all or nothing, and the traces
    // written. True when Installed (or, with nothing to install, the traces
    // alone were written).
    bool Install(const std::function<void()>& fnBeforeFiles = nullptr);

    // What the road does now that the run has ended as it did.
    S_EndActions Actions() const { return EndActionsFor(m_policy.eRoad, m_outcome.eResult); }
    // end: the staging directory as Actions() says, the log's last line. Once.
    void End();

    const S_RunOutcome& Outcome() const { return m_outcome; }
    const S_RunSetup& Setup() const { return m_setup; }
    const CUpdateLog& Log() const { return m_log; }

private:
    const S_RunOutcome& Stop(ERunStage eStage, ERunResult eResult);
    // The stages, in order; each false (or its outcome) when the run ends there.
    bool Start();
    bool TakeManifest();
    const S_RunOutcome& Compare();
    bool CheckStagedFiles();
    // The way each file of FilesToFetch comes first (install/FetchWays.h); chosen once.
    void PlanFetch();
    bool PlaceFiles(const S_InstallTraces& traces);

    // False when an interrupted installation could not be undone yet.
    bool RecoverInterruptedInstall();
    bool LogManifestResult();
    void CompareWithInstallation();
    bool HeldBackByRollout(CConfigFile& manifest);
    void NormaliseNames();
    void SkipClientState();
    S_InstallTraces MakeTraces() const;
    void AddManifestCopy(S_InstallTraces& traces) const;
    std::string ManifestPath() const { return m_setup.strDownloadPath + m_policy.strManifestName; }
    // " server=…" (or " servers=…") of a staged file, for its log line.
    std::string ServerField(const std::string& strFile) const;

    S_RunSetup m_setup;
    S_RoadPolicy m_policy;
    CUpdateLog m_log;
    S_RunOutcome m_outcome;
    S_FetchedManifest m_fetched;
    S_ManifestHead m_head;
    std::vector<S_UpdateFileInfo> m_vecChanged;
    std::vector<S_UpdateFileInfo> m_vecToFetch;
    std::unique_ptr<CStagedFileCheck> m_pCheck;   // one digest object for the run
    std::unique_ptr<CFetchWays> m_pWays;          // set by PlanFetch
    S_FetchWaysResult m_waysResult;               // of the last FetchWays
    DWORD m_dwStartTick = 0;
    DWORD m_dwFetchStartTick = 0;
    std::vector<S_ServerTally> m_vecTallyBefore;   // the transport's tally when the fetch began
    std::string m_strFetchServers;                 // the servers the fetch took files from, comma-separated
    bool m_bEnded = false;
};

// The log lines of a silent run refused before it starts because its data-set
// name would leave the installation (no CUpdateRun is made for such a name).
void LogRefusedName(const std::string& strAppPath, ERoad eRoad, int nUpdateType, const std::string& strUpdateName);

// Deletes every "*.bak" file at and below strAppDir, whichever run left it.
// Best effort: a backup still in use stays until a later run (and says so in the log).
void DeleteBackups(const std::string& strAppDir);
