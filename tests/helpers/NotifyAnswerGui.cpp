// Answers the upgrade notification for the demo on a display nobody watches:
// waits for the window "QOVA升级通知", saves its picture, presses "立即升级".
// Usage: NotifyAnswerGui PNG_PATH [TIMEOUT_SECONDS]
// Exit codes: 0 answered, 1 no notification within the time or no answer, 2
// bad usage (after waiting for the display, as every helper does at start-up).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/Screenshot.h"
#include "support/UiDriver.h"
#include "ui/resource.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    if (__argc < 2) return 2;
    const std::string strPng = __argv[1];
    const DWORD dwTimeoutMs = (__argc > 2 ? static_cast<DWORD>(std::atoi(__argv[2])) : 120) * 1000;

    HWND hNotify = FindTopWindow("QOVA升级通知", dwTimeoutMs);
    if (!hNotify) {
        std::fprintf(stderr, "NotifyAnswerGui: no notification within %lu s\n", dwTimeoutMs / 1000);
        return 1;
    }
    // Let it paint before the picture is taken.
    WaitUntil([] { return false; }, 800);
    if (!CaptureWindow(hNotify).SavePng(strPng)) std::fprintf(stderr, "NotifyAnswerGui: no picture taken\n");
    if (!ClickControl(hNotify, IDC_BTN_UPGRADE)) {
        std::fprintf(stderr, "NotifyAnswerGui: could not press 立即升级\n");
        return 1;
    }
    return 0;
}
