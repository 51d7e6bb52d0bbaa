// Stand-in for the product's main client: one window of class "QOVACLIENT".
// Every start and every WM_CLOSE is appended to QOVAClient.log beside the
// program ("start <pid>", "close <pid>"), and WM_CLOSE ends it. "start" is
// written once the window exists, so a script that sees it can rely on the
// window (and, under Wine, on a running desktop).
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::wstring g_strLogPath;   // UTF-16: the installation may lie below any folder

void AppendLog(const char* pszEvent) {
    char szLine[64];
    std::snprintf(szLine, sizeof(szLine), "%s %lu\r\n", pszEvent, GetCurrentProcessId());
    // Several clients may write at once: open, append, close each time.
    HANDLE hLog = CreateFileW(g_strLogPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hLog == INVALID_HANDLE_VALUE) return;
    DWORD dwWritten = 0;
    WriteFile(hLog, szLine, static_cast<DWORD>(std::strlen(szLine)), &dwWritten, nullptr);
    CloseHandle(hLog);
}

LRESULT CALLBACK ClientProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) {
    switch (nMsg) {
    case WM_CLOSE:
        AppendLog("close");
        DestroyWindow(hWnd);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(hWnd, nMsg, wParam, lParam);
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int nShow) {
    wchar_t szPath[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, szPath, MAX_PATH);
    g_strLogPath = szPath;
    const size_t nDot = g_strLogPath.rfind(L'.');
    g_strLogPath = g_strLogPath.substr(0, nDot) + L".log";

    WNDCLASSA wc = {};
    wc.lpfnWndProc = ClientProc;
    wc.hInstance = hInstance;
    wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));   // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = "QOVACLIENT";
    if (!RegisterClassA(&wc)) return 1;
    HWND hWnd = CreateWindowA("QOVACLIENT", "QOVA Client (stand-in)", WS_OVERLAPPEDWINDOW, 40, 40, 360, 200,
                              nullptr, nullptr, hInstance, nullptr);
    if (!hWnd) return 1;
    ShowWindow(hWnd, nShow);
    AppendLog("start");

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}
