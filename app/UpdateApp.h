#pragma once
// The application object: reads the command line (the help needs nothing
// else), takes the single-instance mutex and runs one update to its end
// inside InitInstance, which always returns FALSE so that no message loop
// follows; the exit code says how a silent run ended.
#include <windows.h>

#include "app/InstallationLock.h"
#include "platform/base/Win32Handles.h"
#include "platform/dialog/WinApp.h"

class CUpdateApp : public CWinApp {
public:
    CUpdateApp() = default;
    ~CUpdateApp() override = default;   // m_hMutex releases and closes the mutex

    BOOL InitInstance() override;
    // The process's exit code: a silent run's ESilentExit, 0 for the dialog and the help.
    int ExitInstance() override { return m_nExitCode; }

    // Creates and owns the named single-instance mutex until destruction. False
    // when another updater already holds it; nothing is kept then.
    bool AcquireInstanceMutex();

private:
    UniqueOwnedMutex m_hMutex;
    CInstallationLock m_installationLock;   // after the mutex: released first
    int m_nExitCode = 0;
};
