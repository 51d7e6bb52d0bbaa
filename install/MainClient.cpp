#include "install/MainClient.h"
#include "platform/base/Text.h"

#include <shellapi.h>
#include <shlwapi.h>

void CloseMainClient() {
    if (HWND hClient = ::FindWindowW(L"QOVACLIENT", nullptr)) ::SendMessageW(hClient, WM_CLOSE, 0, 0);
}

void StartMainClient(const std::string& strAppPath, DWORD nDelayMs) {
    const std::string strClient = strAppPath + "QOVAClient.exe";
    if (!::PathFileExistsW(Utf8ToWide(strClient).c_str())) return;
    if (nDelayMs) ::Sleep(nDelayMs);
    ::ShellExecuteW(nullptr, L"OPEN", Utf8ToWide(strClient).c_str(), L"", L"", SW_SHOW);
}
