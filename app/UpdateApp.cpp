#include "app/UpdateApp.h"
#include "platform/base/Text.h"

#include <commctrl.h>

#include <string>

#include "app/CommandLine.h"
#include "platform/base/CommandLineArgs.h"
#include "platform/base/Win32Handles.h"
#include "app/SilentUpdater.h"
#include "platform/fs/DirectoryEx.h"
#include "ui/DlgUpdate.h"

namespace {

const wchar_t kInstanceMutexName[] = L"WIN32.QVOAUpdateWizard.Instance.Once";
const char kRegistryKey[] = "应用程序向导生成的本地应用程序";

// The silent run's exit code (ESilentExit).
int RunSilent(const S_CommandLine& cmd) {
    CSilentUpdater updater;
    if (IsProgramUpdate(cmd.nUpdateType)) {
        // The program files have one fixed name; a -d: value plays no part.
        const std::string strName = "Program";
        if (updater.InitProgram(kProgramUpdateType, strName)) updater.UpdateProgram();
    } else {
        // A name that would leave the application directory updates nothing; the log says so.
        if (updater.InitData(cmd.nUpdateType, cmd.strUpdateName)) {
            updater.UpdateData();
        } else {
            std::string strAppPath;
            CDirectoryEx::GetApplicationPath(strAppPath);
            LogRefusedName(strAppPath, ERoad::SilentData, cmd.nUpdateType, cmd.strUpdateName);
        }
    }
    return static_cast<int>(SilentExitFor(updater.EndResult()));
}

// A GUI program has no console of its own: the text goes to a redirected
// standard output (a file or a pipe, as a script captures it), else to the
// console of the program that started it, else into a message box.
void ShowUsage() {
    const std::string strText = CommandLineUsage();
    const std::wstring strWide = Utf8ToWide(strText);
    DWORD dwWritten = 0;
    const HANDLE hOut = GetStdHandle(STD_OUTPUT_HANDLE);
    if (hOut && hOut != INVALID_HANDLE_VALUE) {
        const DWORD dwType = GetFileType(hOut);
        if (dwType == FILE_TYPE_CHAR &&
            WriteConsoleW(hOut, strWide.c_str(), static_cast<DWORD>(strWide.size()), &dwWritten, nullptr)) {
            return;
        }
        if ((dwType == FILE_TYPE_DISK || dwType == FILE_TYPE_PIPE || dwType == FILE_TYPE_CHAR) &&
            WriteFile(hOut, strText.data(), static_cast<DWORD>(strText.size()), &dwWritten, nullptr)) {
            return;
        }
    }
    if (AttachConsole(ATTACH_PARENT_PROCESS)) {
        bool bWritten = false;
        {
            UniqueFile hConsole(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                            nullptr, OPEN_EXISTING, 0, nullptr));
            bWritten = hConsole && WriteConsoleW(hConsole.get(), strWide.c_str(), static_cast<DWORD>(strWide.size()),
                                                 &dwWritten, nullptr);
        }
        FreeConsole();
        if (bWritten) return;
    }
    MessageBoxW(nullptr, strWide.c_str(), L"Update.exe", MB_OK | MB_ICONINFORMATION);
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

    // Parsing is pure: the arguments decide the help and the exit code, nothing else yet.
    const S_CommandLine cmd = ParseCommandLine(GetCommandLineArguments());
    if (cmd.bHelp) {
        // Neither the mutex nor the lock: help never waits for or blocks a run.
        ShowUsage();
        return FALSE;
    }

    // A second updater leaves at once without a word; so does one while a run
    // of another session or user holds this installation. A silent one says
    // so in its exit code; the dialog's stays 0.
    const int nBusy = cmd.bSilent ? static_cast<int>(ESilentExit::Busy) : 0;
    if (!AcquireInstanceMutex()) {
        m_nExitCode = nBusy;
        return FALSE;
    }
    std::string strAppPath;
    CDirectoryEx::GetApplicationPath(strAppPath);
    if (!m_installationLock.Acquire(strAppPath)) {
        m_nExitCode = nBusy;
        return FALSE;
    }

    if (cmd.bSilent) {
        m_nExitCode = RunSilent(cmd);
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
