#include "install/UpdateRun.h"

#include <windows.h>
#include <shlwapi.h>

#include "download/RemoteFetch.h"
#include "install/FileInstaller.h"
#include "install/InstallJournal.h"
#include "install/MainClient.h"
#include "install/StagedFileCheck.h"
#include "install/UpdatePaths.h"
#include "install/UpdateRecord.h"
#include "manifest/CompareDataFiles.h"
#include "manifest/CompareProgramFiles.h"
#include "manifest/VersionOrder.h"
#include "platform/base/Text.h"
#include "platform/fs/DirectoryEx.h"
#include "platform/http/UpdateIntf.h"
#include "platform/ini/ConfigFile.h"

namespace {

const char kProgramManifest[] = "UpdateConfig.ini";
const char kDataManifest[] = "config.ini";

const char* RoadText(ERoad eRoad) {
    switch (eRoad) {
    case ERoad::SilentProgram: return "silent-program";
    case ERoad::SilentData: return "silent-data";
    case ERoad::Dialog: return "dialog";
    }
    return "?";
}

const char* SignatureText(ESignatureCheck eCheck) { return SignatureCheckText(eCheck); }

bool Exists(const std::string& strPath) { return GetFileAttributesW(Utf8ToWide(strPath).c_str()) != INVALID_FILE_ATTRIBUTES; }

bool ListsFile(const std::vector<S_UpdateFileInfo>& vecFiles, const char* pszName) {
    for (const S_UpdateFileInfo& info : vecFiles) {
        if (SameTextIgnoringCase(info.strFileName, pszName)) return true;
    }
    return false;
}

}  // namespace

S_RoadPolicy PolicyFor(ERoad eRoad, int nUpdateType) {
    S_RoadPolicy policy;
    policy.eRoad = eRoad;
    switch (eRoad) {
    case ERoad::SilentProgram:
        policy.strManifestName = kProgramManifest;
        policy.eVersionRule = EVersionRule::Manifest;
        policy.bRegistry = true;
        policy.strRecordPattern = "%Y-%m-%d";
        break;
    case ERoad::SilentData:
        policy.eLayout = EManifestLayout::Data;
        policy.strManifestName = kDataManifest;
        policy.eManifestCopy = EManifestCopy::IntoTarget;
        break;
    case ERoad::Dialog:
        // The dialog reads the program manifest's form for every kind.
        policy.strManifestName = kProgramManifest;
        policy.eVersionRule = nUpdateType == 1 ? EVersionRule::OnlyGreater : EVersionRule::None;
        policy.bRegistry = nUpdateType == 1;
        policy.eManifestCopy = nUpdateType == 1 ? EManifestCopy::None : EManifestCopy::IntoAppDir;
        policy.strRecordPattern = "%Y-%m-%d %H:%M:%S";
        policy.bCloseClientFirst = true;
        break;
    }
    return policy;
}

S_RunSetup MakeRunSetup(int nUpdateType, CQOVAUpdateIntf* pUpdateIntf, const std::string& strAppPath,
                        const std::string& strTargetPath, const std::string& strDownloadPath,
                        const std::string& strUpdateName, const std::string& strVersion, const std::string& strRegion) {
    S_RunSetup setup;
    setup.nUpdateType = nUpdateType;
    setup.pUpdateIntf = pUpdateIntf;
    setup.strAppPath = strAppPath;
    setup.strTargetPath = strTargetPath;
    setup.strDownloadPath = strDownloadPath;
    setup.strUpdateName = strUpdateName;
    setup.strVersion = strVersion;
    setup.strRegion = strRegion;
    return setup;
}

S_EndActions EndActionsFor(ERoad eRoad, ERunResult eResult) {
    S_EndActions actions;
    const bool bDialog = eRoad == ERoad::Dialog;
    switch (eResult) {
    case ERunResult::Offered:
        actions.eDialogState = EDialogState::Offer;
        break;
    case ERunResult::UpToDate:
        // The dialog's check leaves the fetched manifest staged.
        actions.bDeleteStaging = !bDialog;
        actions.eDialogState = EDialogState::UpToDate;
        break;
    case ERunResult::Installed:
    case ERunResult::InstallFailed:
        // The client was asked to close (dialog) or may have been: it runs again either way.
        actions.bRestartClient = eRoad != ERoad::SilentData;
        actions.dwRestartDelayMs = bDialog ? 0 : 5000;
        actions.bDeleteStaging = true;
        actions.eDialogState = eResult == ERunResult::Installed ? EDialogState::Closed : EDialogState::UpdateError;
        break;
    case ERunResult::UnsafeName:
    case ERunResult::ManifestRefused:
    case ERunResult::TrustBroken:
        // Kept as the fetch left it: a refused manifest is already deleted.
        actions.eDialogState = EDialogState::UpdateError;
        break;
    case ERunResult::ManifestUnavailable:
        actions.eDialogState = EDialogState::ConnectionFailed;
        break;
    case ERunResult::FetchFailed:
        // The dialog's next opening continues what arrived; a silent run starts afresh.
        actions.bDeleteStaging = !bDialog;
        actions.eDialogState = EDialogState::ConnectionFailed;
        break;
    case ERunResult::Damaged:
        actions.bDeleteStaging = !bDialog;
        actions.eDialogState = EDialogState::UpdateError;
        break;
    case ERunResult::Cancelled:
        actions.eDialogState = EDialogState::Closed;
        break;
    }
    return actions;
}

bool ShouldNotify(const S_ManifestHead& head, const std::string& strVersion, const std::string& strRegion) {
    const bool bRegionChanged = head.strRegion != strRegion;
    const bool bNewer = IsVersionGreater(head.strVersion, strVersion);
    return bRegionChanged || (bNewer && head.nNotify != 0);
}

const char* RunResultText(ERunResult eResult) {
    switch (eResult) {
    case ERunResult::Offered: return "offered";
    case ERunResult::UpToDate: return "up-to-date";
    case ERunResult::Installed: return "installed";
    case ERunResult::UnsafeName: return "unsafe-name";
    case ERunResult::ManifestUnavailable: return "manifest-unavailable";
    case ERunResult::ManifestRefused: return "manifest-refused";
    case ERunResult::TrustBroken: return "trust-broken";
    case ERunResult::FetchFailed: return "fetch-failed";
    case ERunResult::Damaged: return "damaged";
    case ERunResult::InstallFailed: return "install-failed";
    case ERunResult::Cancelled: return "cancelled";
    }
    return "?";
}

const char* RunStageText(ERunStage eStage) {
    switch (eStage) {
    case ERunStage::Start: return "start";
    case ERunStage::Manifest: return "manifest";
    case ERunStage::Compare: return "compare";
    case ERunStage::Fetch: return "fetch";
    case ERunStage::Check: return "check";
    case ERunStage::Install: return "install";
    case ERunStage::End: return "end";
    }
    return "?";
}

void DeleteBackups(const std::string& strAppDir) {
    std::vector<std::string> vecBackups;
    CDirectoryEx::SearchFile(strAppDir, true, "*.bak", vecBackups);
    for (const std::string& strPath : vecBackups) DeleteFileW(Utf8ToWide(strPath).c_str());   // best effort
}

CUpdateRun::CUpdateRun(const S_RunSetup& setup, const S_RoadPolicy& policy)
    : m_setup(setup), m_policy(policy), m_log(setup.strAppPath), m_dwStartTick(GetTickCount()) {}

CUpdateRun::~CUpdateRun() = default;

const S_RunOutcome& CUpdateRun::Stop(ERunStage eStage, ERunResult eResult) {
    m_outcome.eStage = eStage;
    m_outcome.eResult = eResult;
    return m_outcome;
}

bool CUpdateRun::RecoverInterruptedInstall() {
    const S_RecoveryResult recovery = ::RecoverInterruptedInstall(m_setup.strAppPath);
    switch (recovery.eRecovery) {
    case ERecovery::None:
        break;
    case ERecovery::RolledBack:
        m_log.Write("recover", "rolled-back" + LogField("files", recovery.nFiles));
        break;
    case ERecovery::Finished:
        m_log.Write("recover", "finished" + LogField("files", recovery.nFiles));
        break;
    case ERecovery::Stuck:
        m_log.Write("recover", "stuck" + LogField("file", recovery.strFile) + LogField("error", recovery.dwError));
        m_outcome.strFile = recovery.strFile;
        m_outcome.dwError = recovery.dwError;
        return false;
    case ERecovery::Damaged:
        m_log.Write("recover", "damaged-journal removed");
        break;
    }
    return true;
}

const S_RunOutcome& CUpdateRun::Check() {
    const unsigned int nConnections = m_setup.pUpdateIntf ? m_setup.pUpdateIntf->GetConnections() : 0;
    m_log.Write("start", std::string(RoadText(m_policy.eRoad)) + LogField("kind", m_setup.nUpdateType) +
                             LogField("set", m_setup.strUpdateName) + LogField("version", m_setup.strVersion) +
                             LogField("connections", nConnections));
    // Before the backups go: the old contents of an interrupted installation
    // are kept under "*.bak" names, and while one cannot be put back nothing
    // else may happen to the installation.
    if (!RecoverInterruptedInstall()) return Stop(ERunStage::Start, ERunResult::InstallFailed);
    DeleteBackups(m_setup.strAppPath);
    if (!m_setup.bPathsUsable) {
        m_log.Write("start", "refused" + LogField("set", m_setup.strUpdateName) + " reason=unsafe-name");
        return Stop(ERunStage::Start, ERunResult::UnsafeName);
    }

    S_ManifestRequest request;
    request.nUpdateType = m_setup.nUpdateType;
    request.pUpdateIntf = m_setup.pUpdateIntf;
    request.strAppPath = m_setup.strAppPath;
    request.strDownloadPath = m_setup.strDownloadPath;
    request.strManifestName = m_policy.strManifestName;
    request.layout = m_policy.eLayout;
    request.strRecordName = SignatureRecordName(m_setup.nUpdateType, m_setup.strUpdateName, m_policy.strManifestName);
    const bool bFetched = FetchManifest(request, m_fetched);
    // Which server served what: a refusal by one server does not end the run while another is left.
    for (const S_FetchedManifest::S_Refusal& refusal : m_fetched.vecRefused) {
        m_log.Write("manifest", "not-taken" + LogField("name", m_policy.strManifestName) +
                                    LogField("server", refusal.strServer) +
                                    LogField("reason", SignatureText(refusal.eReason)));
    }
    switch (m_fetched.eResult) {
    case EManifestFetch::Accepted:
        m_log.Write("manifest", "accepted" + LogField("name", m_policy.strManifestName) +
                                    LogField("signed", m_fetched.bSigned ? 1 : 0) +
                                    LogField("server", m_fetched.strServer));
        break;
    case EManifestFetch::Unavailable:
        m_log.Write("manifest", "unavailable" + LogField("name", m_policy.strManifestName) +
                                    LogField("reason", TransferFailureText(m_fetched.failure.eReason)) +
                                    LogField("server", m_fetched.failure.strServer));
        return Stop(ERunStage::Manifest, ERunResult::ManifestUnavailable);
    case EManifestFetch::Refused:
        m_outcome.eSignature = m_fetched.eSignature;
        m_log.Write("manifest", "refused" + LogField("name", m_policy.strManifestName) +
                                    LogField("reason", SignatureText(m_fetched.eSignature)));
        return Stop(ERunStage::Manifest, ERunResult::ManifestRefused);
    case EManifestFetch::TrustBroken:
        m_log.Write("manifest", "not-asked reason=\"PublicKey cannot be read\"");
        return Stop(ERunStage::Manifest, ERunResult::TrustBroken);
    }
    if (!bFetched) return Stop(ERunStage::Manifest, ERunResult::ManifestUnavailable);

    m_vecChanged.clear();
    if (m_policy.eLayout == EManifestLayout::Program) {
        S_UpdateCheckInfo checkInfo{m_setup.strTargetPath, ManifestPath(), m_setup.strVersion, m_setup.strRegion,
                                    DigestCachePath(m_setup.strAppPath)};
        CompareProgramFiles(checkInfo, m_vecChanged);   // an empty list is all that matters
    } else {
        CompareDataFiles(ManifestPath(), m_setup.strTargetPath, m_vecChanged, DigestCachePath(m_setup.strAppPath));
    }
    CConfigFile manifest(ManifestPath());
    manifest.ReadString("Version", "VERSION", "", m_head.strVersion);
    manifest.ReadString("Version", "REGION", "", m_head.strRegion);
    m_head.nNotify = manifest.ReadInteger("Version", "NOTIFIY", 0);

    m_pCheck = std::make_unique<CStagedFileCheck>(m_fetched.bSigned ? EStagedDigest::Sha256 : EStagedDigest::Md5);
    m_vecToFetch = SelectFilesToFetch(*m_pCheck, m_setup.strDownloadPath, m_vecChanged);
    m_log.Write("compare", LogField("changed", m_vecChanged.size()).substr(1) +
                               LogField("staged", m_vecChanged.size() - m_vecToFetch.size()) +
                               LogField("to-fetch", m_vecToFetch.size()) + LogField("offered", m_head.strVersion));
    if (m_vecChanged.empty()) {
        RecordAcceptedManifest(m_setup.strAppPath, m_fetched);   // nothing was missing
        return Stop(ERunStage::Compare, ERunResult::UpToDate);
    }
    return Stop(ERunStage::Compare, ERunResult::Offered);
}

bool CUpdateRun::Fetch() {
    std::vector<std::string> vecNames;
    for (const S_UpdateFileInfo& info : m_vecToFetch) vecNames.push_back(info.strFileName);
    const std::vector<unsigned long long> vecSizes = ManifestSizesOf(m_vecToFetch, vecNames);
    unsigned long long nBytes = 0;
    for (unsigned long long nSize : vecSizes) nBytes += nSize == kUnknownSize ? 0 : nSize;
    if (vecNames.empty()) return true;
    const DWORD dwStart = GetTickCount();
    const std::vector<S_ServerTally> vecBefore = m_setup.pUpdateIntf ? m_setup.pUpdateIntf->Tally()
                                                                     : std::vector<S_ServerTally>();
    S_TransferFailure failure;
    if (!GetRemoteFiles(m_setup.nUpdateType, m_setup.pUpdateIntf, m_setup.strDownloadPath, vecNames, &failure,
                        SizeBounds(vecSizes))) {
        FetchFailed(failure);
        return false;
    }
    // What this fetch took from each server (the tally counts since the transport was made).
    std::string strServers;
    const std::vector<S_ServerTally> vecAfter = m_setup.pUpdateIntf->Tally();
    for (size_t i = 0; i < vecAfter.size(); ++i) {
        S_ServerTally tally = vecAfter[i];
        if (i < vecBefore.size()) {
            tally.nFiles -= vecBefore[i].nFiles;
            tally.nBytes -= vecBefore[i].nBytes;
            tally.nResumedBytes -= vecBefore[i].nResumedBytes;
        }
        if (tally.nFiles == 0 && tally.nBytes == 0) continue;
        strServers += LogField("server", tally.strServer) + LogField("server-files", tally.nFiles) +
                      LogField("received", tally.nBytes) + LogField("resumed", tally.nResumedBytes);
    }
    m_log.Write("fetch", "done" + LogField("files", vecNames.size()) + LogField("bytes", nBytes) +
                             LogField("ms", GetTickCount() - dwStart) + strServers);
    return true;
}

void CUpdateRun::FetchFailed(const S_TransferFailure& failure) {
    m_outcome.transfer = failure;
    m_log.Write("fetch", "failed" + LogField("file", failure.strRemoteFile) +
                             LogField("reason", TransferFailureText(failure.eReason)) +
                             LogField("server", failure.strServer) + LogField("status", failure.dwStatus) +
                             LogField("error", failure.dwError));
    if (failure.eReason == ETransferFailure::ContentMismatch) {
        m_outcome.strFile = failure.strRemoteFile;
        Stop(ERunStage::Fetch, ERunResult::Damaged);
        return;
    }
    Stop(ERunStage::Fetch, ERunResult::FetchFailed);
}

void CUpdateRun::FetchCancelled() {
    m_log.Write("fetch", "cancelled");
    Stop(ERunStage::Fetch, ERunResult::Cancelled);
}

void CUpdateRun::SizeMismatch(const std::string& strFile) {
    m_outcome.strFile = strFile;
    m_log.Write("check", "damaged" + LogField("file", strFile) + " reason=size");
    Stop(ERunStage::Fetch, ERunResult::Damaged);
}

bool CUpdateRun::CheckStagedFiles() {
    for (const S_UpdateFileInfo& info : m_vecChanged) {
        const std::string strStaged = m_setup.strDownloadPath + info.strFileName;
        if (m_pCheck->IsIntact(strStaged, info)) continue;
        // A download may have been continued from a part of another version of
        // the file: nothing of it is kept to be continued or reused.
        DeleteFileW(Utf8ToWide(strStaged).c_str());   // best effort: the next check fetches it again anyway
        m_outcome.strFile = info.strFileName;
        m_log.Write("check", "damaged" + LogField("file", info.strFileName) +
                                 LogField("digest", m_fetched.bSigned ? "SHA256" : "MD5"));
        Stop(ERunStage::Check, ERunResult::Damaged);
        return false;
    }
    return true;
}

bool CUpdateRun::Install(const std::function<void()>& fnBeforeFiles) {
    if (!m_pCheck) return false;   // no accepted manifest
    // Checked as a whole before the first file is touched: a bad download installs nothing.
    if (!CheckStagedFiles()) return false;

    S_InstallTraces traces;
    traces.strAppPath = m_setup.strAppPath;
    traces.strNewVersion = m_head.strVersion;
    traces.strOldVersion = m_setup.strVersion;
    traces.bWriteConfigVersion =
        m_policy.eVersionRule == EVersionRule::Manifest ||
        (m_policy.eVersionRule == EVersionRule::OnlyGreater && IsVersionGreater(m_head.strVersion, m_setup.strVersion));
    traces.bWriteRegistry = m_policy.bRegistry;
    traces.bWriteRecord = !m_policy.strRecordPattern.empty();
    traces.strRecordSection = FormatLocalTime(m_policy.strRecordPattern);
    if (m_policy.eManifestCopy == EManifestCopy::IntoTarget) {
        traces.strManifestCopyFrom = ManifestPath();
        traces.strManifestCopyTo = m_setup.strTargetPath + m_policy.strManifestName;
    } else if (m_policy.eManifestCopy == EManifestCopy::IntoAppDir) {
        const std::string strStaged = m_setup.strDownloadPath + kDataManifest;
        // Of a signed release, only a copy this run checked: a "config.ini"
        // left in the staging directory by another run was never verified.
        if (Exists(strStaged) && (!m_fetched.bSigned || ListsFile(m_vecChanged, kDataManifest))) {
            traces.strManifestCopyFrom = strStaged;
            traces.strManifestCopyTo = m_setup.strAppPath + kDataManifest;
        }
    }
    if (m_fetched.bSigned) {
        traces.strSignatureRecord = m_fetched.strRecordName;
        traces.strSigned = m_fetched.strSigned;
    }
    if (m_vecChanged.empty()) {
        // Nothing to put in place: a data set still takes its manifest.
        traces.bWriteConfigVersion = traces.bWriteRegistry = traces.bWriteRecord = false;
        WriteInstallTraces(traces);
        return true;
    }

    if (m_policy.bCloseClientFirst) CloseMainClient();
    if (fnBeforeFiles) fnBeforeFiles();

    const std::string strRollbackSuffix = ".~" + std::to_string(GetCurrentProcessId()) + ".old.bak";
    std::vector<S_JournalFile> vecPlan;
    for (const S_UpdateFileInfo& info : m_vecChanged) {
        S_JournalFile file;
        file.strTarget = m_setup.strTargetPath + info.strFileName;
        file.strRollback = file.strTarget + strRollbackSuffix;
        file.bExisted = Exists(file.strTarget);
        vecPlan.push_back(file);
    }
    CInstallJournal journal(m_setup.strAppPath);
    if (!journal.Begin(vecPlan)) {
        // Without the journal a killed run could leave a mix: nothing is touched.
        m_outcome.strFile = InstallJournalPath(m_setup.strAppPath);
        m_outcome.dwError = GetLastError();
        m_outcome.bRolledBack = true;
        m_log.Write("install", "failed" + LogField("file", m_outcome.strFile) + LogField("error", m_outcome.dwError) +
                                   " reason=journal");
    } else {
        size_t nPlaced = 0, nMovedAside = 0;
        DWORD dwWaitedMs = 0;
        for (; nPlaced < vecPlan.size(); ++nPlaced) {
            const S_JournalFile& file = vecPlan[nPlaced];
            const S_PlaceResult placed =
                PlaceFile(m_setup.strDownloadPath + m_vecChanged[nPlaced].strFileName, file.strTarget, file.strRollback);
            dwWaitedMs += placed.dwWaitedMs;
            if (placed.bMovedAside) ++nMovedAside;
            if (!placed.bOk) {
                m_outcome.strFile = m_vecChanged[nPlaced].strFileName;
                m_outcome.dwError = placed.dwError;
                break;
            }
        }
        if (nPlaced == vecPlan.size()) {
            journal.Commit(traces);   // best effort: without it a kill from here on undoes a complete installation
            WriteInstallTraces(traces);
            journal.End();
            for (const S_JournalFile& file : vecPlan) DeleteFileW(Utf8ToWide(file.strRollback).c_str());   // best effort: "*.bak"
            m_log.Write("install", "done" + LogField("files", vecPlan.size()) + LogField("moved-aside", nMovedAside) +
                                       LogField("waited-ms", dwWaitedMs) + LogField("version", m_head.strVersion));
            Stop(ERunStage::Install, ERunResult::Installed);
            return true;
        }
        // The file that failed was never replaced: its kept copy is just dropped.
        DeleteFileW(Utf8ToWide(vecPlan[nPlaced].strRollback).c_str());
        const std::vector<S_JournalFile> vecDone(vecPlan.begin(), vecPlan.begin() + nPlaced);
        std::string strStuck;
        unsigned long dwStuckError = 0;
        size_t nRestored = 0;
        m_outcome.bRolledBack = RollBackFiles(vecDone, strStuck, dwStuckError, nRestored);
        // An installation that could not be undone keeps its journal: the next run undoes the rest.
        if (m_outcome.bRolledBack) journal.End();
        m_log.Write("install", "failed" + LogField("file", m_outcome.strFile) + LogField("error", m_outcome.dwError) +
                                   LogField("waited-ms", dwWaitedMs) + LogField("rolled-back", nRestored) +
                                   (m_outcome.bRolledBack ? "" : LogField("stuck", strStuck) +
                                                                     LogField("stuck-error", dwStuckError)));
    }
    if (traces.bWriteRecord) {
        WriteUpdateRecordSection(m_setup.strAppPath, traces.strRecordSection, m_head.strVersion, m_setup.strVersion, 0);
    }
    Stop(ERunStage::Install, ERunResult::InstallFailed);
    return false;
}

void CUpdateRun::End() {
    if (m_bEnded) return;
    m_bEnded = true;
    if (Actions().bDeleteStaging) CDirectoryEx::DeleteDirectory(m_setup.strDownloadPath);
    m_log.Write("end", std::string(RunResultText(m_outcome.eResult)) +
                           LogField("stage", RunStageText(m_outcome.eStage)) +
                           LogField("ms", GetTickCount() - m_dwStartTick));
}
