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

class CUpdateLog;

// One file of the installation: where its old contents are kept while the run
// lasts, and what it holds once the new contents are in place.
struct S_JournalFile {
    std::string strTarget;
    std::string strRollback;   // KeptCopyName(strTarget, pid, bExisted)
    bool bExisted = false;     // the target was there before the run
    bool bKnownContents = false;      // journals before format 2 do not say:
    unsigned long long nNewSize = 0;  // the new contents' size
    std::string strNewSha256;         // and SHA-256 (lower-case hexadecimal)
};

// The name the road keeps a target's old contents under: "<target>.~<pid>.old.bak",
// or for a target that was not there an empty "<target>.~<pid>.none.bak".
// A journal's entry may name no other.
std::string KeptCopyName(const std::string& strTarget, unsigned long dwPid, bool bExisted);

// At most this many files in one journal; one that lists more is not acted on.
constexpr size_t kMaxJournalFiles = 100000;
// A committed journal moves the accepted Signed time forward, never further than this past now.
constexpr long long kMaxSignedAheadSeconds = 3600;

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
    Unreadable,   // a journal that cannot be read now (held), or an installation whose final path
                  // cannot be had: it stays, untouched, with its kept copies
    Damaged,      // a journal that is not one: removed, nothing done
};

struct S_RecoveryResult {
    ERecovery eRecovery = ERecovery::None;
    size_t nFiles = 0;          // files put back (RolledBack, Stuck)
    size_t nLeft = 0;           // entries not acted on: outside the installation, or holding other contents
    std::string strFile;        // the file that could not be put back (Stuck), the journal (Unreadable)
    unsigned long dwError = 0;  // and why
};

// Undoes or finishes what an interrupted run left; to be called before the
// run deletes any "*.bak" file, since the kept old contents are named so.
// The journal lies in UPDATE\, which others may write: it can only put
// this installation back. Every entry must name a file whose directory lies
// below strAppPath and outside UPDATE\ by its final path, with the road's
// kept-copy name; a file whose target no longer holds the new contents the
// entry names is left alone; a committed journal's traces only move forward.
// Each entry not acted on gets a log line.
S_RecoveryResult RecoverInterruptedInstall(const std::string& strAppPath);

// Deletes the kept old contents of a finished installation ("*.bak"), best effort.
void DropRollbackCopies(const std::string& strAppPath, const std::vector<S_JournalFile>& vecFiles);

// Puts back the old contents of vecFiles, last first; false (with the file and
// its error) when one could not be put back after the waits. A target that no
// longer holds the contents its entry names is left alone (nLeft, logged).
bool RollBackFiles(const CUpdateLog& log, const std::vector<S_JournalFile>& vecFiles, std::string& strFailedFile,
                   unsigned long& dwError, size_t& nRestored, size_t* pnLeft = nullptr);
