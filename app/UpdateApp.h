#pragma once
// The application object: takes the single-instance mutex, reads the command
// line and runs one update to its end inside InitInstance, which always
// returns FALSE so that no message loop follows.
#include <windows.h>

#include "platform/base/Win32Handles.h"
#include "platform/dialog/WinApp.h"

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

class CUpdateApp : public CWinApp {
public:
    CUpdateApp() = default;
    ~CUpdateApp() override = default;   // m_hMutex releases and closes the mutex

    BOOL InitInstance() override;

    // Creates and owns the named single-instance mutex until destruction. False
    // when another updater already holds it; nothing is kept then.
    bool AcquireInstanceMutex();

private:
    UniqueOwnedMutex m_hMutex;
};
