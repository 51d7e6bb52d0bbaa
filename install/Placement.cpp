#include "install/Placement.h"

#include "install/FileInstaller.h"
#include "install/InstallJournal.h"
#include "install/UpdateLog.h"
#include "platform/base/FailureLog.h"
#include "platform/base/Text.h"

namespace {

bool Exists(const std::string& strPath) { return GetFileAttributesW(Utf8ToWide(strPath).c_str()) != INVALID_FILE_ATTRIBUTES; }

std::vector<S_JournalFile> MakePlan(const S_Placement& placement) {
    const std::string strRollbackSuffix = ".~" + std::to_string(GetCurrentProcessId()) + ".old.bak";
    std::vector<S_JournalFile> vecPlan;
    for (const std::string& strName : placement.vecNames) {
        S_JournalFile file;
        file.strTarget = placement.strTargetDir + strName;
        file.strRollback = file.strTarget + strRollbackSuffix;
        file.bExisted = Exists(file.strTarget);
        vecPlan.push_back(file);
    }
    return vecPlan;
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
    // Without the commit a kill from here on undoes a complete installation: worth a line, not the run.
    LogIfFalse(log, "Commit", InstallJournalPath(placement.traces.strAppPath), journal.Commit(placement.traces));
    WriteInstallTraces(placement.traces);
    journal.End();
    DropRollbackCopies(placement.traces.strAppPath, vecPlan);
    log.Write("install", "done" + LogField("files", vecPlan.size()) + LogField("moved-aside", progress.nMovedAside) +
                             LogField("waited-ms", progress.dwWaitedMs) +
                             LogField("version", placement.traces.strNewVersion));
}

void Undo(const std::vector<S_JournalFile>& vecPlan, CInstallJournal& journal, const S_Progress& progress,
          const CUpdateLog& log, S_PlacementResult& result) {
    // The file that failed was never replaced: its kept copy is just dropped.
    DeleteFileLogged(log, vecPlan[progress.nPlaced].strRollback);
    const std::vector<S_JournalFile> vecDone(vecPlan.begin(), vecPlan.begin() + progress.nPlaced);
    std::string strStuck;
    unsigned long dwStuckError = 0;
    size_t nRestored = 0;
    result.bRolledBack = RollBackFiles(vecDone, strStuck, dwStuckError, nRestored);
    // An installation that could not be undone keeps its journal: the next run undoes the rest.
    if (result.bRolledBack) journal.End();
    log.Write("install", "failed" + LogField("file", result.strFile) + LogField("error", result.dwError) +
                             LogField("waited-ms", progress.dwWaitedMs) + LogField("rolled-back", nRestored) +
                             (result.bRolledBack ? "" : LogField("stuck", strStuck) +
                                                            LogField("stuck-error", dwStuckError)));
}

}  // namespace

S_PlacementResult PlaceAllOrNothing(const S_Placement& placement, const CUpdateLog& log) {
    S_PlacementResult result;
    const std::vector<S_JournalFile> vecPlan = MakePlan(placement);
    CInstallJournal journal(placement.traces.strAppPath);
    if (!journal.Begin(vecPlan, &result.dwError)) {
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
        Undo(vecPlan, journal, progress, log, result);
    }
    if (placement.traces.bWriteRecord) WriteInstallRecord(placement.traces, 0);
    return result;
}
