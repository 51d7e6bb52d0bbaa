#pragma once
// The one road of an update, run by the silent program update, the silent
// data update and the update dialog alike:
//
//   start    recover an interrupted installation, delete old backups
//   manifest FetchManifest (with a PublicKey: its .sig and the check)
//   compare  CompareProgramFiles or CompareDataFiles; staged copies an
//            interrupted run left with the right digest are kept
//   fetch    the rest (the silent roads here, the dialog on its download thread)
//   check    every staged file against the manifest, before anything is touched
//   install  all or nothing (install/InstallJournal.h), then the traces
//   end      the staging directory as the road wants it; the log's last line
//
// What differs between the roads is data (S_RoadPolicy). How a run ended is a
// typed outcome (S_RunOutcome) naming the stage and the reason; the log
// (UPDATE\Update.log) gets a line for each stage.
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "download/ManifestFetch.h"
#include "install/UpdateLog.h"
#include "manifest/UpdateFileInfo.h"
#include "platform/http/UpdateIntf.h"

class CStagedFileCheck;

enum class ERoad {
    SilentProgram,   // Update.exe -silent
    SilentData,      // Update.exe -silent -t:<kind> -d:<name>
    Dialog,          // Update.exe [-t:<kind> -d:<name>]
};

// Which version Config.dat takes after a complete installation.
enum class EVersionRule {
    Manifest,      // the manifest's, also a lower one offered with UNCONDITIONALUPDATE
    OnlyGreater,   // the manifest's when greater in plain text order, else none
    None,          // none at all
};

// Where a data set's manifest goes once every file is in place.
enum class EManifestCopy {
    None,
    IntoTarget,    // the staged manifest into the data set's directory
    IntoAppDir,    // the staged "config.ini", when staged, into the application directory
};

struct S_RoadPolicy {
    ERoad eRoad = ERoad::SilentProgram;
    EManifestLayout eLayout = EManifestLayout::Program;   // which comparison
    std::string strManifestName;                         // "UpdateConfig.ini" or "config.ini"
    EVersionRule eVersionRule = EVersionRule::None;
    bool bRegistry = false;                              // InstallPath and Version under HKLM\SOFTWARE\QOVA
    std::string strRecordPattern;                        // UpdateRecord.dat section name; empty: no record
    EManifestCopy eManifestCopy = EManifestCopy::None;
    bool bCloseClientFirst = false;                      // WM_CLOSE to the client before the first file
};

S_RoadPolicy PolicyFor(ERoad eRoad, int nUpdateType);

// What a run is given.
struct S_RunSetup {
    int nUpdateType = 0;
    CQOVAUpdateIntf* pUpdateIntf = nullptr;  // the caller's; outlives the run
    std::string strTargetPath;    // directory whose files are replaced
    std::string strDownloadPath;  // staging directory for fetched files
    std::string strAppPath;       // directory of Update.exe, ending in '\'
    std::string strUpdateName;    // the data set's directory name (-d:); names its signature record
    std::string strVersion;       // installed version (Config.dat)
    std::string strRegion;        // region of this installation (Config.dat)
    bool bPathsUsable = true;     // false: the data-set name would leave the installation
};

// The setup of a run from the caller's members, in one place for every road.
S_RunSetup MakeRunSetup(int nUpdateType, CQOVAUpdateIntf* pUpdateIntf, const std::string& strAppPath,
                        const std::string& strTargetPath, const std::string& strDownloadPath,
                        const std::string& strUpdateName, const std::string& strVersion, const std::string& strRegion);

enum class ERunStage { Start, Manifest, Compare, Fetch, Check, Install, End };

enum class ERunResult {
    Offered,               // files differ and may be installed (the check's result)
    UpToDate,              // the manifest was accepted and nothing differs
    Installed,             // every file is in place and the traces are written
    UnsafeName,            // the data-set name would leave the installation
    ManifestUnavailable,   // no server delivered the manifest
    ManifestRefused,       // its signature check failed (eSignature)
    TrustBroken,           // the installation's PublicKey cannot be read
    FetchFailed,           // a file that no server delivered
    Damaged,               // a staged file that is not the manifest's (strFile)
    InstallFailed,         // a file that could not be put in place (strFile, dwError): the old release is back
    Cancelled,             // the download was stopped (the dialog closed)
};

struct S_RunOutcome {
    ERunStage eStage = ERunStage::Start;
    ERunResult eResult = ERunResult::Offered;
    ESignatureCheck eSignature = ESignatureCheck::Valid;
    S_TransferFailure transfer;     // FetchFailed, and Damaged by a body of the wrong length
    std::string strFile;            // Damaged, InstallFailed
    DWORD dwError = 0;              // InstallFailed
    bool bRolledBack = false;       // InstallFailed: every replaced file was put back
};

// The manifest's own keys, read once after it is accepted.
struct S_ManifestHead {
    std::string strVersion;   // [Version] VERSION
    std::string strRegion;    // [Version] REGION
    int nNotify = 0;          // [Version] NOTIFIY
};

// What the dialog shows for a result.
enum class EDialogState { Offer, UpToDate, ConnectionFailed, UpdateError, Closed };

// What a road does once its run has ended with a result.
struct S_EndActions {
    bool bRestartClient = false;   // start QOVAClient.exe again
    DWORD dwRestartDelayMs = 0;
    bool bDeleteStaging = false;
    EDialogState eDialogState = EDialogState::UpToDate;   // the dialog's road only
};

S_EndActions EndActionsFor(ERoad eRoad, ERunResult eResult);

// The silent program update asks the user (and offers to close the client)
// when the region changed, or the version went up and the manifest asks for it.
bool ShouldNotify(const S_ManifestHead& head, const std::string& strVersion, const std::string& strRegion);

// Short names of results and stages, as the log writes them.
const char* RunResultText(ERunResult eResult);
const char* RunStageText(ERunStage eStage);

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
    // The fetch ran elsewhere (the dialog's download thread) and ended so. A
    // body of another length than the manifest's SIZE is a bad download, not
    // a connection failure.
    void FetchFailed(const S_TransferFailure& failure);
    void FetchCancelled();
    // A completed file whose size is not the manifest's.
    void SizeMismatch(const std::string& strFile);

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
    const CUpdateLog& Log() const { return m_log; }

private:
    const S_RunOutcome& Stop(ERunStage eStage, ERunResult eResult);
    // False when an interrupted installation could not be undone yet.
    bool RecoverInterruptedInstall();
    bool CheckStagedFiles();
    std::string ManifestPath() const { return m_setup.strDownloadPath + m_policy.strManifestName; }

    S_RunSetup m_setup;
    S_RoadPolicy m_policy;
    CUpdateLog m_log;
    S_RunOutcome m_outcome;
    S_FetchedManifest m_fetched;
    S_ManifestHead m_head;
    std::vector<S_UpdateFileInfo> m_vecChanged;
    std::vector<S_UpdateFileInfo> m_vecToFetch;
    std::unique_ptr<CStagedFileCheck> m_pCheck;   // one digest object for the run
    DWORD m_dwStartTick = 0;
    bool m_bEnded = false;
};

// Deletes every "*.bak" file at and below strAppDir, whichever run left it.
// Failures are ignored: a backup still in use stays until a later run.
void DeleteBackups(const std::string& strAppDir);
