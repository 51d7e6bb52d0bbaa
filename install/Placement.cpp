#include "install/Placement.h"

#include "install/FileInstaller.h"
#include "install/InstallJournal.h"
#include "install/UpdateLog.h"
#include "platform/base/FailureLog.h"
#include "platform/base/Text.h"
#include "platform/fs/FileContents.h"
#include "platform/fs/FileDigest.h"

#include <bcrypt.h>

namespace {

bool Exists(const std::string& strPath) { return GetFileAttributesW(LongPathW(strPath).c_str()) != INVALID_FILE_ATTRIBUTES; }

// Each target, its kept-copy name and the new contents it will hold, so that a
// later run can tell the file this run put there from one put there since.
// False (with the staged file) when a staged file cannot be read.
bool MakePlan(const S_Placement& placement, std::vector<S_JournalFile>& vecPlan, std::string& strFailed) {
    const unsigned long dwPid = GetCurrentProcessId();
    CFileDigest digest(BCRYPT_SHA256_ALGORITHM);
    for (const std::string& strName : placement.vecNames) {
        S_JournalFile file;
        file.strTarget = placement.strTargetDir + strName;
        file.bExisted = Exists(file.strTarget);
        file.strRollback = KeptCopyName(file.strTarget, dwPid, file.bExisted);
        const std::string strSource = placement.strSourceDir + strName;
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        if (!GetFileAttributesExW(LongPathW(strSource).c_str(), GetFileExInfoStandard, &data) ||
            digest.GetFileDigest(strSource.c_str(), file.strNewSha256) != 0) {
            strFailed = strName;
            return false;
        }
        file.nNewSize = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        file.bKnownContents = true;
        vecPlan.push_back(file);
    }
    return true;
}

// How far the files went.
struct S_Progress {
    size_t nPlaced = 0;
    size_t nMovedAside = 0;
    DWORD dwWaitedMs = 0;
};

// Places the plan's files in order up to the first that fails.
S_Progress PlaceEach(const S_Placement& placement, const std::vector<S_JournalFile>& vecPlan,
                     const CUpdateLog& log, S_PlacementResult& result) {
    S_Progress progress;
    for (; progress.nPlaced < vecPlan.size(); ++progress.nPlaced) {
        const S_JournalFile& file = vecPlan[progress.nPlaced];
        const std::string& strName = placement.vecNames[progress.nPlaced];
        const S_PlaceResult placed =
            PlaceFile(placement.strSourceDir + strName, file.strTarget, file.strRollback, S_LockWait(), &log);
        progress.dwWaitedMs += placed.dwWaitedMs;
        if (placed.bMovedAside) ++progress.nMovedAside;
        if (!placed.bOk) {
            result.strFile = strName;
            result.dwError = placed.dwError;
            break;
        }
    }
    return progress;
}

void Finish(const S_Placement& placement, const std::vector<S_JournalFile>& vecPlan, CInstallJournal& journal,
            const S_Progress& progress, const CUpdateLog& log) {
    const std::string& strApp = placement.traces.strAppPath;
    const bool bCommitted = LogIfFalse(log, "Commit", InstallJournalPath(strApp), journal.Commit(placement.traces));
    // A journal still saying "install" must not outlive the kept copies: without
    // them no later run can take this complete release away, even when the
    // journal cannot be deleted either.
    if (!bCommitted) DropRollbackCopies(strApp, vecPlan);
    WriteInstallTraces(placement.traces);
    journal.End();
    if (bCommitted) DropRollbackCopies(strApp, vecPlan);
    log.Write("install", "done" + LogField("files", vecPlan.size()) + LogField("moved-aside", progress.nMovedAside) +
                             LogField("waited-ms", progress.dwWaitedMs) +
                             LogField("version", placement.traces.strNewVersion));
}

void Undo(const std::string& strApp, const std::vector<S_JournalFile>& vecPlan, CInstallJournal& journal,
          const S_Progress& progress, const CUpdateLog& log, S_PlacementResult& result) {
    // The file that failed was never replaced, unless its old contents could not
    // be moved back after a move aside: then its kept copy goes back in.
    const S_JournalFile& failed = vecPlan[progress.nPlaced];
    bool bFailedBack = true;
    unsigned long dwFailedBackError = 0;
    if (failed.bExisted && !Exists(failed.strTarget) && Exists(failed.strRollback)) {
        const S_PlaceResult back = PutBackFile(failed.strRollback, failed.strTarget, S_LockWait(), &log);
        bFailedBack = back.bOk;
        dwFailedBackError = back.dwError;
    } else {
        DeleteFileLogged(log, failed.strRollback);
    }
    const std::vector<S_JournalFile> vecDone(vecPlan.begin(), vecPlan.begin() + progress.nPlaced);
    std::string strStuck = bFailedBack ? std::string() : failed.strTarget;
    unsigned long dwStuckError = dwFailedBackError;
    size_t nRestored = 0;
    std::string strOtherStuck;
    unsigned long dwOtherError = 0;
    result.bRolledBack = RollBackFiles(log, vecDone, strOtherStuck, dwOtherError, nRestored) && bFailedBack;
    if (strStuck.empty()) {
        strStuck = strOtherStuck;
        dwStuckError = dwOtherError;
    }
    // An installation that could not be undone keeps its journal: the next run undoes the rest.
    if (result.bRolledBack) {
        DropRollbackCopies(strApp, vecDone);
        journal.End();
    }
    // What was put back, by name (below the installation): "rolled-back=0" alone
    // cannot tell "nothing had been replaced yet" from "nothing could be put back".
    std::string strPutBack;
    const size_t kMaxNames = 8;
    for (size_t i = 0; i < vecDone.size() && i < kMaxNames; ++i) {
        const std::string& strTarget = vecDone[i].strTarget;
        const bool bBelow = strTarget.compare(0, strApp.size(), strApp) == 0;
        strPutBack += (i ? "," : "") + (bBelow ? strTarget.substr(strApp.size()) : strTarget);
    }
    if (vecDone.size() > kMaxNames) strPutBack += ",+" + std::to_string(vecDone.size() - kMaxNames);
    log.Write("install", "failed" + LogField("file", result.strFile) + LogField("error", result.dwError) +
                             LogField("waited-ms", progress.dwWaitedMs) + LogField("rolled-back", nRestored) +
                             LogField("replaced", vecDone.size()) + LogField("put-back", strPutBack) +
                             LogField("old-release", result.bRolledBack ? "back" : "mixed") +
                             (result.bRolledBack ? "" : LogField("stuck", strStuck) +
                                                            LogField("stuck-error", dwStuckError)));
}

}  // namespace

S_PlacementResult PlaceAllOrNothing(const S_Placement& placement, const CUpdateLog& log) {
    S_PlacementResult result;
    std::vector<S_JournalFile> vecPlan;
    CInstallJournal journal(placement.traces.strAppPath);
    std::string strUnreadable;
    if (!MakePlan(placement, vecPlan, strUnreadable)) {
        result.dwError = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_READ_FAULT;
        result.strFile = strUnreadable;
        result.bRolledBack = true;
        log.Write("install", "failed" + LogField("file", result.strFile) + LogField("error", result.dwError) +
                                 " reason=staged-unreadable");
    } else if (!journal.Begin(vecPlan, &result.dwError)) {
        // Without the journal a killed run could leave a mix: nothing is touched.
        result.strFile = InstallJournalPath(placement.traces.strAppPath);
        result.bRolledBack = true;
        log.Write("install", "failed" + LogField("file", result.strFile) + LogField("error", result.dwError) +
                                 " reason=journal");
    } else {
        const S_Progress progress = PlaceEach(placement, vecPlan, log, result);
        if (progress.nPlaced == vecPlan.size()) {
            Finish(placement, vecPlan, journal, progress, log);
            result.bPlaced = true;
            return result;
        }
        Undo(placement.traces.strAppPath, vecPlan, journal, progress, log, result);
    }
    if (placement.traces.bWriteRecord) WriteInstallRecord(placement.traces, 0);
    return result;
}
