// Shows the upgrade notification dialog for the UI tests.
// Usage: NotifyGui.exe <installed version> <new version> [web-site URL]
// The exit code is DoModal's result (6 upgrade now, 7 later, -1 not shown).
#include <windows.h>

#include <cstdlib>

#include "ui/DlgNotify.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    CDlgNotify dlg;
    if (__argc > 1) dlg.m_strCurVersion = __argv[1];
    if (__argc > 2) dlg.m_strNewVersion = __argv[2];
    if (__argc > 3) dlg.m_strWebSiteURL = __argv[3];
    return static_cast<int>(dlg.DoModal());
}
