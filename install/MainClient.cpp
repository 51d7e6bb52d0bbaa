#include "install/MainClient.h"
#include "platform/base/FailureLog.h"
#include "platform/base/Text.h"

#include <shellapi.h>
#include <shlwapi.h>

void CloseMainClient() {
    if (HWND hClient = ::FindWindowW(L"QOVACLIENT", nullptr)) ::SendMessageW(hClient, WM_CLOSE, 0, 0);
}

void StartMainClient(const std::string& strAppPath, DWORD nDelayMs, const IFailureSink* pLog) {
    const std::string strClient = strAppPath + "QOVAClient.exe";
    const std::wstring wstrClient = Utf8ToWide(strClient);
    if (!::PathFileExistsW(wstrClient.c_str())) return;
    if (nDelayMs) ::Sleep(nDelayMs);
    // The Ex form, for the reason of a failure: the update stands, the user starts the client.
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = L"OPEN";
    info.lpFile = wstrClient.c_str();
    info.lpParameters = L"";
    info.lpDirectory = L"";
    info.nShow = SW_SHOW;
    LogIfFalse(pLog, "ShellExecuteExW", strClient, ::ShellExecuteExW(&info));
}
