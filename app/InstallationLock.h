#pragma once
// One run at a time on one installation, across sessions and users: a global
// mutex named after the installation's directory, held beside the session's
// single-instance mutex (which stays as it is). A scheduled task in session 0
// and a user's dialog would otherwise both undo and redo the same journal.
#include <windows.h>

#include <string>

#include "platform/base/Win32Handles.h"

// Releases the mutex (harmless when this thread does not own it) and closes it.
// CreateMutexW gives NULL on failure; INVALID_HANDLE_VALUE is no mutex either
// (it is the current-process pseudo handle), so both mean "nothing held".
struct ReleaseMutexFn {
    void operator()(HANDLE h) const {
        if (h == INVALID_HANDLE_VALUE) return;
        ::ReleaseMutex(h);
        ::CloseHandle(h);
    }
};
using UniqueOwnedMutex = UniqueAny<HANDLE, ReleaseMutexFn, nullptr>;

// "Global\QOVAUpdate." and 32 hexadecimal digits: the first 128 bits of the
// SHA-256 of the directory's path as the file system resolves it (junctions,
// 8.3 names, "\\?\", letter case folded), so that every spelling of one
// installation names one lock. A directory that cannot be opened is named by
// its full path, folded the same way.
std::wstring InstallationLockName(const std::string& strAppDir);

class CInstallationLock {
public:
    // Takes the lock of strAppDir until destruction. False when another run
    // holds it, or when it exists and may not be opened (another user's run).
    // Any other failure is ignored, as for the single-instance mutex.
    bool Acquire(const std::string& strAppDir);

private:
    UniqueOwnedMutex m_hMutex;
};
