#pragma once
// The install stage's all or nothing: the changed files of a run go from the
// staging directory into the target directory under the journal
// (install/InstallJournal.h), and the traces (install/InstallTraces.h) are
// written once every file is in place. When a file cannot be put in place,
// every file replaced so far is put back and the record says the update failed.
#include <windows.h>

#include <string>
#include <vector>

#include "install/InstallTraces.h"

class CUpdateLog;

struct S_Placement {
    std::string strSourceDir;            // the staging directory, ending in '\'
    std::string strTargetDir;            // the directory whose files are replaced, ending in '\'
    std::vector<std::string> vecNames;   // the files, relative to both, in manifest order
    S_InstallTraces traces;              // traces.strAppPath: the installation (journal, log)
};

struct S_PlacementResult {
    bool bPlaced = false;       // every file is in place and the traces are written
    std::string strFile;        // otherwise the file (or the journal) that failed
    DWORD dwError = 0;          // and why
    bool bRolledBack = false;   // otherwise: every replaced file is back
};

// Puts every file in place, or none; the log gets "install done" or
// "install failed" with the figures.
S_PlacementResult PlaceAllOrNothing(const S_Placement& placement, const CUpdateLog& log);
