#pragma once
// Putting one file in place so that a crash, a kill or a full disk never leaves
// a truncated installed file: at every moment the target is either its old or
// its new contents.
//
//   1. strSource is copied beside the target under a temporary name (same
//      directory, so the final move is a rename on one volume), created new
//      and flushed to disk;
//   2. with a rollback name, the target's old contents are kept there first (a
//      hard link, else a flushed copy moved into that name), so the run can put
//      them back; a target that is not there gets an empty file of that name;
//   3. the temporary file is moved over the target (MoveFileExW with
//      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
//   4. when that move fails because the target is in use (a running program
//      holds it), the target is renamed to its own name with ".bak" appended
//      and the new file moved in; the next update run deletes the ".bak".
//      Should that last move fail, the old file is renamed back.
//
// Something that holds a file without delete sharing (a virus scanner, an
// indexer, a backup agent) usually lets go within seconds: a step that fails
// with a sharing, lock or access error is tried again after 50 ms, doubling to
// 1 s, for up to 10 s per file in all. Any other failure ends at once.
//
// The temporary name is the target's name followed by ".~<16 random hex
// digits>.bak", created with CREATE_NEW: nobody can plant a link there to have
// the copy written through to another file, and a process killed between
// steps 1 and 3 leaves a name the next run's "*.bak" clean-up removes. Paths
// of any length are taken (platform/fs/FileContents.h LongPathW). On every other path no temporary file is left behind.
// The target's directory is created when missing. A target that is a
// directory is never replaced.
#include <windows.h>

#include <string>

class IFailureSink;

// How long a held file is waited for.
struct S_LockWait {
    DWORD dwFirstPauseMs = 50;
    DWORD dwLongestPauseMs = 1000;
    DWORD dwBudgetMs = 10000;   // per file, all attempts together
};

// How putting one file in place (or back) went.
struct S_PlaceResult {
    bool bOk = false;
    DWORD dwError = 0;      // the Win32 error that ended it, when it failed
    DWORD dwWaitedMs = 0;   // time spent waiting for a held file
    bool bMovedAside = false;   // the old file is now "<target>.bak" (it was in use)
};

// The sharing and lock errors a brief hold produces, which are worth waiting out.
bool IsHeldFileError(DWORD dwError);

// Puts strSource in place at strTarget. With strRollback not empty and the
// target present, its old contents are first kept at strRollback (a name that
// must not exist yet), to be put back with RestoreFile or dropped with
// DeleteFileW once the run is over. A temporary file that cannot be removed
// again goes to pLog (platform/base/FailureLog.h).
S_PlaceResult PlaceFile(const std::string& strSource, const std::string& strTarget, const std::string& strRollback,
                        const S_LockWait& wait = S_LockWait(), const IFailureSink* pLog = nullptr);

// Undoes PlaceFile for one file: the kept contents at strKept are moved over
// strTarget. A target in use is moved aside (to a fresh "*.bak" name, deleted
// by the next run) and the kept contents moved in, as installing does; a held
// file is waited out as PlaceFile does.
S_PlaceResult PutBackFile(const std::string& strKept, const std::string& strTarget, const S_LockWait& wait = S_LockWait(),
                          const IFailureSink* pLog = nullptr);

// Removes a file that PlaceFile made new; one in use is moved aside to a fresh
// "*.bak" name instead. Waits as above; a target that is not there is success.
S_PlaceResult RemoveTargetFile(const std::string& strTarget, const S_LockWait& wait = S_LockWait());

// PlaceFile without a rollback copy. True when strTarget now holds the contents of strSource.
bool InstallFile(const std::string& strSource, const std::string& strTarget);
