#include "support/ReportWindow.h"

#include <algorithm>

namespace {

const char kClassName[] = "QOVATestReportWindow";

void DispatchPending() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

}  // namespace

ReportWindow::ReportWindow(UINT nMsg) : m_nMsg(nMsg) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = &ReportWindow::WndProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kClassName;
    RegisterClassA(&wc);  // fails harmlessly when an earlier window registered it
    m_hWnd = CreateWindowExA(0, kClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, this);
}

ReportWindow::~ReportWindow() {
    if (m_hWnd) DestroyWindow(m_hWnd);
}

size_t ReportWindow::Count(WPARAM wParam, LPARAM lParam) const {
    return static_cast<size_t>(std::count(m_vecReports.begin(), m_vecReports.end(), S_Report{wParam, lParam}));
}

LRESULT CALLBACK ReportWindow::WndProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) {
    if (nMsg == WM_NCCREATE) {
        auto* pCreate = reinterpret_cast<CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(pCreate->lpCreateParams));
    }
    auto* pThis = reinterpret_cast<ReportWindow*>(GetWindowLongPtrA(hWnd, GWLP_USERDATA));
    if (pThis && nMsg == pThis->m_nMsg) {
        pThis->m_vecReports.push_back(S_Report{wParam, lParam});
        if (pThis->m_fnHandler) pThis->m_fnHandler(wParam, lParam);
        return 0;
    }
    return DefWindowProcA(hWnd, nMsg, wParam, lParam);
}

bool PumpUntil(const std::function<bool()>& fnDone, DWORD dwTimeoutMs) {
    const ULONGLONG nDeadline = GetTickCount64() + dwTimeoutMs;
    for (;;) {
        DispatchPending();
        if (fnDone()) return true;
        ULONGLONG nNow = GetTickCount64();
        if (nNow >= nDeadline) return false;
        // Wakes for any message; the short cap re-checks conditions that no message signals.
        DWORD dwWait = static_cast<DWORD>(std::min<ULONGLONG>(nDeadline - nNow, 20));
        MsgWaitForMultipleObjects(0, nullptr, FALSE, dwWait, QS_ALLINPUT);
    }
}

void PumpFor(DWORD dwMs) {
    PumpUntil([] { return false; }, dwMs);
}
