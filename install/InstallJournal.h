#pragma once
// An installation is all or nothing, also across a killed process: before the
// first installed file is touched, UPDATE\Install.journal lists every file to
// be put in place and where its old contents are kept; once every file is in
// place the journal is rewritten as committed, with the traces the update
// leaves (version, registry, record, data-set manifest, accepted signature);
// then the traces are written and the journal goes. The journal is replaced
// atomically at each step, so it is always one or the other.
//
// The next run of any road starts by looking for it: an installation that was
// not committed is undone (every old file put back), a committed one is
// finished (the traces written again). Either way no mix of two releases is
// left, whichever road runs next.
#include <windows.h>

#include <string>
#include <vector>

#include "install/InstallTraces.h"

// One file of the installation: where its old contents are kept while the run lasts.
struct S_JournalFile {
    std::string strTarget;
    std::string strRollback;   // "<target>.~<pid>.old.bak"
    bool bExisted = false;     // the target was there before the run
};

// UPDATE\Install.journal below strAppPath.
std::string InstallJournalPath(const std::string& strAppPath);

// The journal of one installation.
class CInstallJournal {
public:
    explicit CInstallJournal(const std::string& strAppPath);

    // Lists the files before the first is touched. False when it could not be
    // written (with pdwError, why): then nothing may be installed.
    bool Begin(const std::vector<S_JournalFile>& vecFiles, DWORD* pdwError = nullptr);
    // Every file is in place: from now on the next run finishes rather than undoes.
    bool Commit(const S_InstallTraces& traces);
    // The installation is over (finished or undone).
    void End();

private:
    std::string m_strAppPath;
    std::string m_strPath;
    std::vector<S_JournalFile> m_vecFiles;
};

// What the start of a run found of an interrupted installation.
enum class ERecovery {
    None,         // no journal
    RolledBack,   // every old file is back
    Finished,     // the committed installation's traces are written
    Stuck,        // a file could not be put back: the journal stays for the next run
    Damaged,      // a journal that cannot be read: removed, nothing done
};

struct S_RecoveryResult {
    ERecovery eRecovery = ERecovery::None;
    size_t nFiles = 0;          // files put back (RolledBack, Stuck)
    std::string strFile;        // the file that could not be put back (Stuck)
    unsigned long dwError = 0;  // and why
};

// Undoes or finishes what an interrupted run left; to be called before the
// run deletes any "*.bak" file, since the kept old contents are named so.
S_RecoveryResult RecoverInterruptedInstall(const std::string& strAppPath);

// Deletes the kept old contents of a finished installation ("*.bak"), best effort.
void DropRollbackCopies(const std::string& strAppPath, const std::vector<S_JournalFile>& vecFiles);

// Puts back the old contents of vecFiles, last first; false (with the file and
// its error) when one could not be put back after the waits.
bool RollBackFiles(const std::vector<S_JournalFile>& vecFiles, std::string& strFailedFile, unsigned long& dwError,
                   size_t& nRestored);
