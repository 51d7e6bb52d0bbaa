#pragma once
// Putting one file in place so that a crash, a kill or a full disk never leaves
// a truncated installed file: at every moment the target is either its old or
// its new contents.
//
//   1. strSource is copied beside the target under a temporary name (same
//      directory, so the final move is a rename on one volume), flushed to disk;
//   2. the temporary file is moved over the target (MoveFileExW with
//      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
//   3. when that move fails because the target is in use (a running program
//      holds it), the target is renamed to its own name with ".bak" appended
//      and the new file moved in; the next update run deletes the ".bak".
//      Should that last move fail, the old file is renamed back.
//
// The temporary name is the target's name followed by ".~<process id>.bak": a
// process killed between steps 1 and 2 leaves a name the next run's "*.bak"
// clean-up removes. On every other path no temporary file is left behind.
// The target's directory is created when missing. A target that is a
// directory is never replaced.
#include <string>

// True when strTarget now holds the contents of strSource.
bool InstallFile(const std::string& strSource, const std::string& strTarget);
