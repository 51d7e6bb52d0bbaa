#include "install/UpdateRun.h"

#include <windows.h>
#include <shlwapi.h>

#include <set>

#include "config/ClientConfig.h"
#include "config/Rollout.h"
#include "install/InstallJournal.h"
#include "install/MainClient.h"
#include "install/Placement.h"
#include "install/StagedFileCheck.h"
#include "install/UpdatePaths.h"
#include "install/UpdateRecord.h"
#include "manifest/CompareDataFiles.h"
#include "manifest/CompareProgramFiles.h"
#include "manifest/ReleaseNames.h"
#include "manifest/VersionOrder.h"
#include "platform/base/FailureLog.h"
#include "platform/base/Text.h"
#include "platform/fs/DirectoryEx.h"
#include "platform/http/UpdateIntf.h"
#include "platform/ini/ConfigFile.h"

namespace {

const char* SignatureText(ESignatureCheck eCheck) { return SignatureCheckText(eCheck); }

bool Exists(const std::string& strPath) { return GetFileAttributesW(Utf8ToWide(strPath).c_str()) != INVALID_FILE_ATTRIBUTES; }

bool ListsFile(const std::vector<S_UpdateFileInfo>& vecFiles, const char* pszName) {
    for (const S_UpdateFileInfo& info : vecFiles) {
        if (SameTextIgnoringCase(info.strFileName, pszName)) return true;
    }
    return false;
}

// The fields of a fetch line for what it took from each server: the
// transport's tally counts since it was made, so the fetch's share is the
// difference.
std::string TallyFields(const std::vector<S_ServerTally>& vecBefore, const std::vector<S_ServerTally>& vecAfter) {
    std::string strServers;
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
        if (!tally.strRedirectedTo.empty()) strServers += LogField("redirected-to", tally.strRedirectedTo);
    }
    return strServers;
}

// The servers that delivered anything between two tallies, comma-separated.
std::string FetchServers(const std::vector<S_ServerTally>& vecBefore, const std::vector<S_ServerTally>& vecAfter) {
    std::string strServers;
    for (size_t i = 0; i < vecAfter.size(); ++i) {
        const unsigned int nBefore = i < vecBefore.size() ? vecBefore[i].nFiles : 0;
        if (vecAfter[i].nFiles == nBefore) continue;
        strServers += (strServers.empty() ? "" : ",") + vecAfter[i].strServer;
    }
    return strServers;
}

// A body of another length than the manifest's SIZE: both sizes.
std::string SizeFields(const S_TransferFailure& failure) {
    if (failure.eReason != ETransferFailure::ContentMismatch || failure.nExpected == S_TransferFailure::kNoLength)
        return std::string();
    const char* pszServed = failure.bAnnounced ? "announced" : failure.bReceivedMore ? "received-at-least" : "received";
    return LogField("expected", failure.nExpected) + LogField(pszServed, failure.nReceived);
}

bool IsHeldError(DWORD dwError) {
    // ERROR_ALREADY_EXISTS: the file's ".bak" name is taken by a backup something holds.
    return dwError == ERROR_SHARING_VIOLATION || dwError == ERROR_LOCK_VIOLATION || dwError == ERROR_ACCESS_DENIED ||
           dwError == ERROR_USER_MAPPED_FILE || dwError == ERROR_ALREADY_EXISTS;
}

// One thing a first-line agent can check or do about how the run ended.
std::string EndHint(const S_RunOutcome& outcome, const S_FetchedManifest& fetched) {
    const std::string strFile = outcome.strFile.empty() ? std::string("a file") : outcome.strFile;
    switch (outcome.eResult) {
    case ERunResult::Offered: return "the dialog offered the release";
    case ERunResult::UpToDate:
    case ERunResult::Installed: return "nothing to do";
    case ERunResult::HeldBack: return "a staged rollout has not reached this installation yet: nothing to do";
    case ERunResult::UnsafeName: return "-d: must name a directory below the installation";
    case ERunResult::ManifestUnavailable: return "check the network and ServerIP, then UpdateTool check";
    case ERunResult::ManifestRefused:
        switch (outcome.eSignature) {
        case ESignatureCheck::OtherKey: return "another key: compare PublicKey in Config.dat with the publisher's";
        case ESignatureCheck::BadSignature: return "changed after signing: check the mirror with UpdateTool check";
        case ESignatureCheck::Expired: return "the signature expired: the publisher signs the release again";
        case ESignatureCheck::Replayed: return "an older release is served: check the mirror with UpdateTool check";
        case ESignatureCheck::NoSignature: return "no .sig beside the manifest: check the mirror with UpdateTool check";
        case ESignatureCheck::BadRecord: return "Config.dat's signature record is damaged: restore Config.dat";
        default: return "check the mirror with UpdateTool check";
        }
    case ERunResult::TrustBroken:
        return fetched.bConfigDamaged ? "Config.dat is damaged: restore it from the installer or a backup"
                                      : "set PublicKey again with UpdateTool config set";
    case ERunResult::FetchFailed:
    case ERunResult::Damaged: return "check the mirror with UpdateTool check";
    case ERunResult::LocalFailure: return "check free disk space and write access to the installation";
    case ERunResult::Unreadable: return "a program holds " + strFile + ": close it and run again";
    case ERunResult::InstallFailed:
        return IsHeldError(outcome.dwError) ? "a program holds " + strFile + ": close it and run again"
                                            : "check free disk space and write access for " + strFile;
    case ERunResult::RecoverStuck: return "a program holds " + strFile + ": close it and run again";
    case ERunResult::Cancelled: return "run the update again";
    }
    return "-";
}

// A line per server that TLS refused since vecBefore: it failed like a dead
// one, so a run that another server served would not say it otherwise.
void LogTlsRefusals(const CUpdateLog& log, const char* pszStage, const std::vector<S_ServerTally>& vecBefore,
                    const std::vector<S_ServerTally>& vecAfter) {
    for (size_t i = 0; i < vecAfter.size(); ++i) {
        if (vecAfter[i].nTlsRefusals == (i < vecBefore.size() ? vecBefore[i].nTlsRefusals : 0)) continue;
        const S_TransferFailure& refusal = vecAfter[i].lastTlsRefusal;
        log.Write(pszStage, "server-refused" + LogField("server", vecAfter[i].strServer) +
                                LogField("reason", TransferFailureText(refusal.eReason)) +
                                LogField("error", refusal.dwError) +
                                LogField("certificate", CertificateProblemText(refusal.dwCertificate, refusal.dwError)));
    }
}

}  // namespace

S_RunSetup LoadRunSetup(ERoad eRoad, int nUpdateType, const std::string& strUpdateName) {
    S_RunSetup setup;
    setup.nUpdateType = nUpdateType;
    setup.strUpdateName = strUpdateName;
    CDirectoryEx::GetApplicationPath(setup.strAppPath);
    const bool bProgram =
        eRoad == ERoad::SilentProgram || (eRoad == ERoad::Dialog && IsProgramUpdate(nUpdateType));
    setup.bPathsUsable =
        GetUpdatePaths(setup.strAppPath, bProgram, strUpdateName, setup.strTargetPath, setup.strDownloadPath);
    // The server list lives only until the transport has taken what it needs.
    std::vector<S_UpdateSerivceAddr> vecServers;
    bool bUseProxy = true;
    ReadClientConfig(setup.strAppPath, setup.strVersion, setup.strRegion, vecServers, bUseProxy);
    setup.pTransport = std::make_shared<CQOVAUpdateIntf>(vecServers, bUseProxy);
    setup.pTransport->SetConnections(ReadConnectionCount(setup.strAppPath));
    setup.pUpdateIntf = setup.pTransport.get();
    return setup;
}

void LogRefusedName(const std::string& strAppPath, ERoad eRoad, int nUpdateType, const std::string& strUpdateName) {
    const CUpdateLog log(strAppPath);
    log.Write("start", std::string(RoadText(eRoad)) + LogField("update-exe", ProgramFileVersion()) +
                           LogField("kind", nUpdateType) + LogField("set", strUpdateName));
    log.Write("start", "refused" + LogField("set", strUpdateName) + " reason=unsafe-name");
    S_RunOutcome outcome;
    outcome.eResult = ERunResult::UnsafeName;
    log.Write("end", std::string(RunResultText(outcome.eResult)) + LogField("stage", RunStageText(ERunStage::Start)) +
                         LogField("exit", static_cast<unsigned int>(SilentExitFor(outcome.eResult))) +
                         LogField("hint", EndHint(outcome, S_FetchedManifest())));
}

void DeleteBackups(const std::string& strAppDir) {
    std::vector<std::string> vecBackups;
    CDirectoryEx::SearchFile(strAppDir, true, "*.bak", vecBackups);
    const CUpdateLog log(strAppDir);
    for (const std::string& strPath : vecBackups) DeleteFileLogged(log, strPath);
}

CUpdateRun::CUpdateRun(const S_RunSetup& setup, const S_RoadPolicy& policy)
    : m_setup(setup), m_policy(policy), m_log(setup.strAppPath), m_dwStartTick(GetTickCount()) {}

CUpdateRun::~CUpdateRun() = default;

const S_RunOutcome& CUpdateRun::Stop(ERunStage eStage, ERunResult eResult) {
    m_outcome.eStage = eStage;
    m_outcome.eResult = eResult;
    return m_outcome;
}

const S_RunOutcome& CUpdateRun::Check() {
    if (!Start() || !TakeManifest()) return m_outcome;
    return Compare();
}

// start: before the backups go, an interrupted installation is undone or
// finished (its old contents are kept under "*.bak" names); while one cannot
// be put back nothing else may happen to the installation.
bool CUpdateRun::Start() {
    // Before the first log line and the journal: an earlier version kept them in UPDATE\.
    const int nMoved = MoveEarlierState(m_setup.strAppPath);
    const unsigned int nConnections = m_setup.pUpdateIntf ? m_setup.pUpdateIntf->GetConnections() : 0;
    m_log.Write("start", std::string(RoadText(m_policy.eRoad)) + LogField("update-exe", ProgramFileVersion()) +
                             LogField("kind", m_setup.nUpdateType) +
                             LogField("set", m_setup.strUpdateName) + LogField("version", m_setup.strVersion) +
                             LogField("connections", nConnections));
    if (nMoved > 0) m_log.Write("start", "state-moved" + LogField("files", nMoved) + LogField("to", kStateDir));
    if (!RecoverInterruptedInstall()) {
        // Nothing else: no backup deleted (the kept copies are among them), no manifest, no clean-up, no client.
        Stop(ERunStage::Start, ERunResult::RecoverStuck);
        return false;
    }
    DeleteBackups(m_setup.strAppPath);
    if (!m_setup.bPathsUsable) {
        m_log.Write("start", "refused" + LogField("set", m_setup.strUpdateName) + " reason=unsafe-name");
        Stop(ERunStage::Start, ERunResult::UnsafeName);
        return false;
    }
    return true;
}

bool CUpdateRun::RecoverInterruptedInstall() {
    const S_RecoveryResult recovery = ::RecoverInterruptedInstall(m_setup.strAppPath);
    switch (recovery.eRecovery) {
    case ERecovery::None:
        break;
    case ERecovery::RolledBack:
        m_log.Write("recover", "rolled-back" + LogField("files", recovery.nFiles) + LogField("left", recovery.nLeft) +
                                   " old-release=back");
        break;
    case ERecovery::Finished:
        m_log.Write("recover", "finished" + LogField("files", recovery.nFiles) + LogField("left", recovery.nLeft));
        break;
    case ERecovery::Unreadable:
        m_log.Write("recover", "unreadable" + LogField("file", recovery.strFile) + LogField("error", recovery.dwError));
        m_outcome.strFile = recovery.strFile;
        m_outcome.dwError = recovery.dwError;
        return false;
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

// manifest: fetched, and with a PublicKey checked, by download/ManifestFetch.
bool CUpdateRun::TakeManifest() {
    S_ManifestRequest request;
    request.nUpdateType = m_setup.nUpdateType;
    request.pUpdateIntf = m_setup.pUpdateIntf;
    request.strAppPath = m_setup.strAppPath;
    request.strDownloadPath = m_setup.strDownloadPath;
    request.strManifestName = m_policy.strManifestName;
    request.layout = m_policy.eLayout;
    request.strRecordName = SignatureRecordName(m_setup.nUpdateType, m_setup.strUpdateName, m_policy.strManifestName);
    request.strStateDir = StateDirPath(m_setup.strAppPath);
    request.pLog = &m_log;
    const std::vector<S_ServerTally> vecBefore =
        m_setup.pUpdateIntf ? m_setup.pUpdateIntf->Tally() : std::vector<S_ServerTally>();
    const bool bFetched = FetchManifest(request, m_fetched);
    if (m_setup.pUpdateIntf) LogTlsRefusals(m_log, "manifest", vecBefore, m_setup.pUpdateIntf->Tally());
    for (const S_ServerTally& tally : m_setup.pUpdateIntf ? m_setup.pUpdateIntf->Tally() : vecBefore) {
        if (bFetched && tally.strServer == m_fetched.strServer && !tally.strRedirectedTo.empty())
            m_log.Write("manifest", "redirected" + LogField("server", tally.strServer) +
                                        LogField("to", tally.strRedirectedTo));
    }
    // Which server served what: a refusal by one server does not end the run while another is left.
    for (const S_FetchedManifest::S_Refusal& refusal : m_fetched.vecRefused) {
        m_log.Write("manifest", "not-taken" + LogField("name", m_policy.strManifestName) +
                                    LogField("server", refusal.strServer) +
                                    LogField("reason", SignatureText(refusal.eReason)));
    }
    if (!LogManifestResult()) return false;
    if (!bFetched) Stop(ERunStage::Manifest, ERunResult::ManifestUnavailable);
    return bFetched;
}

// The manifest's line; false when the run ends with it.
bool CUpdateRun::LogManifestResult() {
    const std::string strName = LogField("name", m_policy.strManifestName);
    switch (m_fetched.eResult) {
    case EManifestFetch::Accepted:
        // A 304: the server said the copy kept from an earlier run is still current.
        m_log.Write("manifest", "accepted" + strName + LogField("signed", m_fetched.bSigned ? 1 : 0) +
                                    LogField("server", m_fetched.strServer) +
                                    (m_fetched.bKeptCopy ? " status=304 copy=kept" : ""));
        return true;
    case EManifestFetch::Unavailable:
        m_log.Write("manifest", "unavailable" + strName +
                                    LogField("reason", TransferFailureText(m_fetched.failure.eReason)) +
                                    LogField("server", m_fetched.failure.strServer));
        Stop(ERunStage::Manifest, ERunResult::ManifestUnavailable);
        return false;
    case EManifestFetch::Refused:
        m_outcome.eSignature = m_fetched.eSignature;
        m_log.Write("manifest", "refused" + strName + LogField("reason", SignatureText(m_fetched.eSignature)));
        Stop(ERunStage::Manifest, ERunResult::ManifestRefused);
        return false;
    case EManifestFetch::TrustBroken:
        m_log.Write("manifest", std::string("not-asked file=Config.dat reason=") +
                                    (m_fetched.bConfigDamaged ? "\"Config.dat is damaged\"" : "\"PublicKey cannot be read\""));
        Stop(ERunStage::Manifest, ERunResult::TrustBroken);
        return false;
    }
    return true;
}

// compare: the changed files, the head of the manifest, and which changed
// files an interrupted run left staged with the right digest.
const S_RunOutcome& CUpdateRun::Compare() {
    CompareWithInstallation();
    NormaliseNames();
    SkipClientState();
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
    if (HeldBackByRollout(manifest)) return Stop(ERunStage::Compare, ERunResult::HeldBack);
    return Stop(ERunStage::Compare, ERunResult::Offered);
}

// A silent run installs a staged release only once its rollout reaches this
// installation's draw; a person asking in the dialog is offered it regardless.
bool CUpdateRun::HeldBackByRollout(CConfigFile& manifest) {
    if (m_policy.eRoad == ERoad::Dialog || m_policy.eLayout != EManifestLayout::Program) return false;
    const std::string* pRollout = manifest.FindValue("Version", kRolloutKey);
    if (!pRollout) return false;
    unsigned nPercent = 0;
    // A value no tool writes halts: installing nowhere is the mistake that can be undone.
    const bool bReadable = ParseRolloutPercent(*pRollout, nPercent);
    if (bReadable && nPercent >= 100) return false;
    unsigned nDraw = 0;
    const bool bKept = ReadRolloutDraw(m_setup.strAppPath, nDraw);
    if (bReadable && RolloutAdmits(nPercent, nDraw)) {
        m_log.Write("compare", "admitted" + LogField("rollout", nPercent) + LogField("draw", nDraw));
        return false;
    }
    m_log.Write("compare", std::string(bReadable && nPercent > 0 ? "held-back" : "halted") +
                               LogField("rollout", *pRollout) + LogField("draw", nDraw) +
                               (bKept ? std::string() : LogField("draw-kept", "no")) +
                               LogField("offered", m_head.strVersion));
    return true;
}

void CUpdateRun::CompareWithInstallation() {
    m_vecChanged.clear();
    if (m_policy.eLayout == EManifestLayout::Data) {
        CompareDataFiles(ManifestPath(), m_setup.strTargetPath, m_vecChanged, DigestCachePath(m_setup.strAppPath));
        return;
    }
    S_UpdateCheckInfo checkInfo{m_setup.strTargetPath, ManifestPath(), m_setup.strVersion, m_setup.strRegion,
                                DigestCachePath(m_setup.strAppPath)};
    // The (empty) list is what counts; a manifest that lists no files still says so.
    if (CompareProgramFiles(checkInfo, m_vecChanged) < 0) {
        m_log.Write("compare", "failed" + LogField("manifest", ManifestPath()) + " reason=\"no FILES to compare\"");
    }
}

// One spelling per file before anything is fetched or journalled: '\' alone
// as the separator, no empty segment, and one entry per file as Windows tells
// files apart (letter case folded); a second entry for the same file is
// refused, else its failure would drop the first one's kept copy.
void CUpdateRun::NormaliseNames() {
    std::set<std::wstring> setSeen;
    std::vector<S_UpdateFileInfo> vecKept;
    for (S_UpdateFileInfo& info : m_vecChanged) {
        std::string strName;
        for (char c : info.strFileName) {
            if (c == '/') c = '\\';
            if (c == '\\' && (strName.empty() || strName.back() == '\\')) continue;
            strName += c;
        }
        while (!strName.empty() && strName.back() == '\\') strName.pop_back();
        if (!setSeen.insert(FoldedCase(Utf8ToWide(strName))).second) {
            m_log.Write("compare", "refused" + LogField("file", info.strFileName) +
                                       " reason=\"a second entry for the same file\"");
            continue;
        }
        info.strFileName = strName;
        vecKept.push_back(std::move(info));
    }
    m_vecChanged.swap(vecKept);
}

// A release never replaces the installation's own state (Config.dat, UPDATE\,
// backups, parts): such an entry is left out, the rest installs.
void CUpdateRun::SkipClientState() {
    const std::string& strApp = m_setup.strAppPath;
    const std::string& strTarget = m_setup.strTargetPath;
    // Names as seen from the application directory: a data set's own Config.dat is not the client's.
    const std::string strPrefix = strTarget.size() >= strApp.size() && strTarget.compare(0, strApp.size(), strApp) == 0
                                      ? strTarget.substr(strApp.size())
                                      : std::string();
    std::vector<S_UpdateFileInfo> vecKept;
    for (S_UpdateFileInfo& info : m_vecChanged) {
        if (IsClientStateName(strPrefix + info.strFileName)) {
            m_log.Write("compare", "skipped" + LogField("file", info.strFileName) + " reason=\"the client's own state\"");
            continue;
        }
        vecKept.push_back(std::move(info));
    }
    m_vecChanged.swap(vecKept);
}

// fetch on the caller's thread.
bool CUpdateRun::Fetch() {
    if (m_vecToFetch.empty()) return true;
    FetchStarted();
    S_TransferFailure failure;
    if (!FetchWays(nullptr, 0, nullptr, failure)) {
        FetchFailed(failure);
        return false;
    }
    FetchDone();
    return true;
}

void CUpdateRun::PlanFetch() {
    if (!m_pWays) {
        S_FetchWaysSetup ways;
        ways.nUpdateType = static_cast<unsigned int>(m_setup.nUpdateType);
        ways.pTransport = m_setup.pUpdateIntf;
        ways.strTargetPath = m_setup.strTargetPath;
        ways.strDownloadPath = m_setup.strDownloadPath;
        ways.bSigned = m_fetched.bSigned;
        // Before an accepted manifest there is no check, and nothing to fetch.
        m_pWays = std::make_unique<CFetchWays>(ways, m_pCheck.get(), m_log);
        m_pWays->Plan(m_vecToFetch);
    }
}

bool CUpdateRun::FetchWays(HWND hNotifyWnd, UINT nNotifyMsg, const std::function<bool()>& fnStopRequested,
                           S_TransferFailure& failure) {
    PlanFetch();
    const bool bFetched = m_pWays->Run(m_waysResult, hNotifyWnd, nNotifyMsg, fnStopRequested);
    failure = m_waysResult.failure;
    return bFetched;
}

void CUpdateRun::FetchStarted() {
    m_dwFetchStartTick = GetTickCount();
    m_vecTallyBefore = m_setup.pUpdateIntf ? m_setup.pUpdateIntf->Tally() : std::vector<S_ServerTally>();
}

void CUpdateRun::FetchDone() {
    const std::vector<S_ServerTally> vecAfter =
        m_setup.pUpdateIntf ? m_setup.pUpdateIntf->Tally() : std::vector<S_ServerTally>();
    LogTlsRefusals(m_log, "fetch", m_vecTallyBefore, vecAfter);
    m_log.Write("fetch", "done" + LogField("files", m_vecToFetch.size()) + LogField("bytes", m_waysResult.nTaken) +
                             LogField("full", m_waysResult.nFull) + LogField("ms", GetTickCount() - m_dwFetchStartTick) +
                             TallyFields(m_vecTallyBefore, vecAfter));
    m_strFetchServers = FetchServers(m_vecTallyBefore, vecAfter);
}

void CUpdateRun::FetchFailed(const S_TransferFailure& failure) {
    m_outcome.transfer = failure;
    if (m_setup.pUpdateIntf) LogTlsRefusals(m_log, "fetch", m_vecTallyBefore, m_setup.pUpdateIntf->Tally());
    m_log.Write("fetch", "failed" + LogField("file", failure.strRemoteFile) +
                             LogField("reason", TransferFailureText(failure.eReason)) +
                             LogField("server", failure.strServer) + LogField("status", failure.dwStatus) +
                             LogField("error", failure.dwError) + SizeFields(failure));
    if (failure.eReason == ETransferFailure::ContentMismatch) {
        m_outcome.strFile = failure.strRemoteFile;
        Stop(ERunStage::Fetch, ERunResult::Damaged);
        return;
    }
    // A download that could not start or store its files is this machine's
    // failure: the dialog must not blame the connection.
    Stop(ERunStage::Fetch,
         failure.eReason == ETransferFailure::LocalWrite ? ERunResult::LocalFailure : ERunResult::FetchFailed);
}

void CUpdateRun::FetchCancelled() {
    m_log.Write("fetch", "cancelled");
    Stop(ERunStage::Fetch, ERunResult::Cancelled);
}

// Where a staged file came from: the server of this run's fetch (one
// server, or the list when several shared it), or an earlier run.
std::string CUpdateRun::ServerField(const std::string& strFile) const {
    if (!ListsFile(m_vecToFetch, strFile.c_str())) return " server=earlier-run";
    if (m_strFetchServers.find(',') != std::string::npos) return LogField("servers", m_strFetchServers);
    return LogField("server", m_strFetchServers.empty() ? std::string("-") : m_strFetchServers);
}

// check: every staged file against the manifest before anything is touched.
bool CUpdateRun::CheckStagedFiles() {
    for (const S_UpdateFileInfo& info : m_vecChanged) {
        const std::string strStaged = m_setup.strDownloadPath + info.strFileName;
        DWORD dwError = ERROR_SUCCESS;
        const EStagedState eState = m_pCheck->Judge(strStaged, info, dwError);
        if (eState == EStagedState::Intact) continue;
        m_outcome.strFile = info.strFileName;
        if (eState == EStagedState::Unreadable) {
            // Nothing is known of its contents: kept, and the run ends for this reason.
            m_outcome.dwError = dwError;
            m_log.Write("check", "unreadable" + LogField("file", info.strFileName) + LogField("error", dwError));
            Stop(ERunStage::Check, ERunResult::Unreadable);
            return false;
        }
        // A download may have been continued from a part of another version of
        // the file: nothing of it is kept to be continued or reused.
        DeleteFileLogged(m_log, strStaged);
        m_log.Write("check", "damaged" + LogField("file", info.strFileName) +
                                 LogField("digest", m_fetched.bSigned ? "SHA256" : "MD5") +
                                 ServerField(info.strFileName));
        Stop(ERunStage::Check, ERunResult::Damaged);
        return false;
    }
    return true;
}

bool CUpdateRun::Install(const std::function<void()>& fnBeforeFiles) {
    if (!m_pCheck) return false;   // no accepted manifest
    // The dialog's offer may have stood until the signature ran out.
    long long nExpires = 0;
    if (m_fetched.bSigned && ParseUtcTime(m_fetched.strExpires, nExpires) && CurrentUtcTime() > nExpires) {
        m_outcome.eSignature = ESignatureCheck::Expired;
        m_log.Write("check", "refused" + LogField("name", m_policy.strManifestName) +
                                 LogField("reason", SignatureText(ESignatureCheck::Expired)));
        Stop(ERunStage::Check, ERunResult::ManifestRefused);
        return false;
    }
    // Checked as a whole before the first file is touched: a bad download installs nothing.
    if (!CheckStagedFiles()) return false;
    S_InstallTraces traces = MakeTraces();
    if (m_vecChanged.empty()) {
        // Nothing to put in place: a data set still takes its manifest.
        traces.bWriteConfigVersion = traces.bWriteRegistry = traces.bWriteRecord = false;
        WriteInstallTraces(traces);
        return true;
    }
    if (m_policy.bCloseClientFirst) CloseMainClient();
    if (fnBeforeFiles) fnBeforeFiles();
    return PlaceFiles(traces);
}

// install: all or nothing (install/Placement.h).
bool CUpdateRun::PlaceFiles(const S_InstallTraces& traces) {
    S_Placement placement;
    placement.strSourceDir = m_setup.strDownloadPath;
    placement.strTargetDir = m_setup.strTargetPath;
    for (const S_UpdateFileInfo& info : m_vecChanged) placement.vecNames.push_back(info.strFileName);
    placement.traces = traces;
    const S_PlacementResult placed = PlaceAllOrNothing(placement, m_log);
    if (placed.bPlaced) {
        Stop(ERunStage::Install, ERunResult::Installed);
        return true;
    }
    m_outcome.strFile = placed.strFile;
    m_outcome.dwError = placed.dwError;
    m_outcome.bRolledBack = placed.bRolledBack;
    Stop(ERunStage::Install, ERunResult::InstallFailed);
    return false;
}

// The traces this road's policy leaves after a complete installation.
S_InstallTraces CUpdateRun::MakeTraces() const {
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
    AddManifestCopy(traces);
    if (m_fetched.bSigned) {
        traces.strSignatureRecord = m_fetched.strRecordName;
        traces.strSigned = m_fetched.strSigned;
    }
    return traces;
}

void CUpdateRun::AddManifestCopy(S_InstallTraces& traces) const {
    if (m_policy.eManifestCopy == EManifestCopy::IntoTarget) {
        traces.strManifestCopyFrom = ManifestPath();
        traces.strManifestCopyTo = m_setup.strTargetPath + m_policy.strManifestName;
    } else if (m_policy.eManifestCopy == EManifestCopy::IntoAppDir) {
        const std::string strStaged = m_setup.strDownloadPath + kDataManifestName;
        // Of a signed release, only a copy this run checked: a "config.ini"
        // left in the staging directory by another run was never verified.
        if (Exists(strStaged) && (!m_fetched.bSigned || ListsFile(m_vecChanged, kDataManifestName))) {
            traces.strManifestCopyFrom = strStaged;
            traces.strManifestCopyTo = m_setup.strAppPath + kDataManifestName;
        }
    }
}

// end: the staging directory as the road wants it, the log's last line.
void CUpdateRun::End() {
    if (m_bEnded) return;
    m_bEnded = true;
    if (Actions().bDeleteStaging) {
        CDirectoryEx::DeleteDirectory(m_setup.strDownloadPath);
        // Best effort: what is left the next run's staging starts from.
        if (Exists(m_setup.strDownloadPath)) LogIfError(m_log, "DeleteDirectory", m_setup.strDownloadPath, ERROR_DIR_NOT_EMPTY);
    }
    const unsigned int nExit = static_cast<unsigned int>(SilentExitFor(m_outcome.eResult));
    const std::string strExit = m_policy.eRoad == ERoad::Dialog ? std::string() : LogField("exit", nExit);
    m_log.Write("end", std::string(RunResultText(m_outcome.eResult)) +
                           LogField("stage", RunStageText(m_outcome.eStage)) +
                           LogField("ms", GetTickCount() - m_dwStartTick) + strExit +
                           LogField("hint", EndHint(m_outcome, m_fetched)));
}
