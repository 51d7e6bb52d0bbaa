#pragma once
// The application object: takes the single-instance mutex, reads the command
// line and runs one update to its end inside InitInstance, which always
// returns FALSE so that no message loop follows.
#include <windows.h>

#include "app/InstallationLock.h"
#include "platform/base/Win32Handles.h"
#include "platform/dialog/WinApp.h"

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
    CInstallationLock m_installationLock;   // after the mutex: released first
};
