#include "app/UpdateApp.h"
#include "platform/base/Text.h"

#include <commctrl.h>

#include <string>

#include "app/CommandLine.h"
#include "platform/base/CommandLineArgs.h"
#include "app/SilentUpdater.h"
#include "platform/fs/DirectoryEx.h"
#include "ui/DlgUpdate.h"

namespace {

const wchar_t kInstanceMutexName[] = L"WIN32.QVOAUpdateWizard.Instance.Once";
const char kRegistryKey[] = "应用程序向导生成的本地应用程序";

void RunSilent(const S_CommandLine& cmd) {
    CSilentUpdater updater;
    if (IsProgramUpdate(cmd.nUpdateType)) {
        // The program files have one fixed name; a -d: value plays no part.
        const std::string strName = "Program";
        if (updater.InitProgram(kProgramUpdateType, strName)) updater.UpdateProgram();
    } else {
        // A name that would leave the application directory updates nothing.
        if (updater.InitData(cmd.nUpdateType, cmd.strUpdateName)) updater.UpdateData();
    }
}

}  // namespace

bool CUpdateApp::AcquireInstanceMutex() {
    SetLastError(ERROR_SUCCESS);
    HANDLE hMutex = CreateMutexW(nullptr, TRUE, kInstanceMutexName);
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        // Someone else's mutex: only closed, since releasing it from a thread
        // that owns it through another handle would end that ownership.
        if (hMutex) CloseHandle(hMutex);
        return false;
    }
    // Any other failure to create it is ignored: the run goes on as the only one.
    m_hMutex.reset(hMutex);
    return true;
}

BOOL CUpdateApp::InitInstance() {
    INITCOMMONCONTROLSEX icc = {};
    static_assert(sizeof(icc) == 8, "INITCOMMONCONTROLSEX is two DWORDs");
    icc.dwSize = sizeof(icc);
    icc.dwICC = ICC_WIN95_CLASSES;
    InitCommonControlsEx(&icc);

    CWinApp::InitInstance();
    // No ActiveX control containment: the program hosts no ActiveX controls.
    SetRegistryKey(kRegistryKey);

    // A second updater leaves at once, before reading a single argument; so
    // does one while a run of another session or user holds this installation.
    if (!AcquireInstanceMutex()) return FALSE;
    std::string strAppPath;
    CDirectoryEx::GetApplicationPath(strAppPath);
    if (!m_installationLock.Acquire(strAppPath)) return FALSE;

    const S_CommandLine cmd = ParseCommandLine(GetCommandLineArguments());
    if (cmd.bSilent) {
        RunSilent(cmd);
        return FALSE;
    }

    // Interactive run: the modal update dialog. It checks the -d: name itself
    // before building any path from it.
    CDlgUpdate dlg;
    dlg.m_nUpdateType = cmd.nUpdateType;
    dlg.m_strUpdateName = cmd.strUpdateName;
    dlg.DoModal();
    return FALSE;
}
