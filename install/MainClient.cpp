#include "install/MainClient.h"

#include <shellapi.h>
#include <shlwapi.h>

void CloseMainClient() {
    if (HWND hClient = ::FindWindowA("QOVACLIENT", nullptr)) ::SendMessageA(hClient, WM_CLOSE, 0, 0);
}

void StartMainClient(const std::string& strAppPath, DWORD nDelayMs) {
    const std::string strClient = strAppPath + "QOVAClient.exe";
    if (!::PathFileExistsA(strClient.c_str())) return;
    if (nDelayMs) ::Sleep(nDelayMs);
    ::ShellExecuteA(nullptr, "OPEN", strClient.c_str(), "", "", SW_SHOW);
}
