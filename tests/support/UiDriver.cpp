#include "support/UiDriver.h"

#include <oleacc.h>

#include "platform/base/Text.h"
#include "support/ProcessStart.h"

#include <cstdio>
#include <memory>
#include <vector>

bool WaitForDisplay(DWORD dwTimeoutMs) {
    HMODULE hNtdll = ::GetModuleHandleA("ntdll.dll");
    if (!hNtdll || !::GetProcAddress(hNtdll, "wine_get_version")) return true;
    HWND hDesktop = ::GetDesktopWindow();  // starts the desktop process when needed
    DWORD dwStart = ::GetTickCount();
    for (;;) {
        // The desktop names its display by a GUID atom; the driver is ready
        // once the GUID's registry key names it.
        ATOM atom = static_cast<ATOM>(reinterpret_cast<ULONG_PTR>(::GetPropA(hDesktop, "__wine_display_device_guid")));
        char szGuid[64] = {};
        if (atom && ::GlobalGetAtomNameA(atom, szGuid, sizeof(szGuid))) {
            std::string strKey = std::string("System\\CurrentControlSet\\Control\\Video\\{") + szGuid + "}\\0000";
            HKEY hKey = nullptr;
            if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, strKey.c_str(), 0, KEY_QUERY_VALUE, &hKey) == ERROR_SUCCESS) {
                UniqueHKey key(hKey);
                if (::RegQueryValueExA(hKey, "GraphicsDriver", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
                    return true;
            }
        }
        if (::GetTickCount() - dwStart >= dwTimeoutMs) return false;
        ::Sleep(20);
    }
}

namespace {
// Before main, so before any test draws or creates a window.
[[maybe_unused]] const bool g_bDisplayReady = WaitForDisplay(15000);
}  // namespace

UiProcess::~UiProcess() { Kill(); }

bool UiProcess::Start(const std::string& strCommandLine) {
    Kill();
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!StartProcess(nullptr, Utf8ToWide(strCommandLine), FALSE, 0, si, pi)) {
        // Rare under load; the error says which (a missing image, a child that died starting).
        std::fprintf(stderr, "UiProcess: CreateProcessW failed (error %lu): %s\n", ::GetLastError(),
                     strCommandLine.c_str());
        return false;
    }
    ::CloseHandle(pi.hThread);
    m_process.reset(pi.hProcess);
    m_dwProcessId = pi.dwProcessId;
    return true;
}

bool UiProcess::Wait(DWORD dwTimeoutMs, DWORD* pdwExitCode) {
    if (!m_process) return false;
    if (::WaitForSingleObject(m_process.get(), dwTimeoutMs) != WAIT_OBJECT_0) return false;
    DWORD dwCode = 0;
    ::GetExitCodeProcess(m_process.get(), &dwCode);
    if (pdwExitCode) *pdwExitCode = dwCode;
    m_process.reset();
    return true;
}

void UiProcess::Kill() {
    if (!m_process) return;
    if (::WaitForSingleObject(m_process.get(), 0) == WAIT_TIMEOUT) {
        ::TerminateProcess(m_process.get(), 255);
        ::WaitForSingleObject(m_process.get(), 5000);
    }
    m_process.reset();
}

bool WaitUntil(const std::function<bool()>& fnDone, DWORD dwTimeoutMs) {
    DWORD dwStart = ::GetTickCount();
    for (;;) {
        if (fnDone()) return true;
        if (::GetTickCount() - dwStart >= dwTimeoutMs) return false;
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&msg);
        ::Sleep(20);
    }
}

namespace {
struct FindRequest {
    const std::string* pText;
    DWORD dwProcessId;
    HWND hFound;
};

// A dialog answers late while its thread is busy (its first paint on a loaded
// machine, a file in use waited for during the install): the read waits for
// the answer, and one that never comes is said, never read as an empty text.
const UINT kTextAnswerMs = 15000;

std::string WindowTextOf(HWND hWnd) {
    DWORD_PTR nLength = 0;
    DWORD_PTR nCopied = 0;
    std::vector<wchar_t> buffer;
    if (::SendMessageTimeoutW(hWnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kTextAnswerMs, &nLength)) {
        buffer.assign(nLength + 1, L'\0');
        if (::SendMessageTimeoutW(hWnd, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                                  SMTO_ABORTIFHUNG, kTextAnswerMs, &nCopied))
            return WideToUtf8(buffer.data());
    }
    const DWORD dwError = ::GetLastError();
    if (::IsWindow(hWnd))  // a window that has gone has no text, as callers expect
        std::fprintf(stderr, "WindowTextOf: window %p gave no text within %u ms (error %lu)\n",
                     static_cast<void*>(hWnd), kTextAnswerMs, dwError);
    return std::string();
}

BOOL CALLBACK MatchWindow(HWND hWnd, LPARAM lParam) {
    FindRequest* pRequest = reinterpret_cast<FindRequest*>(lParam);
    if (pRequest->dwProcessId) {
        DWORD dwPid = 0;
        ::GetWindowThreadProcessId(hWnd, &dwPid);
        if (dwPid != pRequest->dwProcessId) return TRUE;
    }
    if (!::IsWindowVisible(hWnd)) return TRUE;  // still in WM_INITDIALOG, not placed yet
    wchar_t szText[256] = {};
    ::GetWindowTextW(hWnd, szText, 256);
    if (*pRequest->pText != WideToUtf8(szText)) return TRUE;
    pRequest->hFound = hWnd;
    return FALSE;
}
}  // namespace

HWND FindTopWindow(const std::string& strText, DWORD dwTimeoutMs, DWORD dwProcessId) {
    FindRequest request = {&strText, dwProcessId, nullptr};
    WaitUntil(
        [&] {
            ::EnumWindows(&MatchWindow, reinterpret_cast<LPARAM>(&request));
            return request.hFound != nullptr;
        },
        dwTimeoutMs);
    return request.hFound;
}

std::string WindowText(HWND hWnd) { return WindowTextOf(hWnd); }

std::string ControlText(HWND hDlg, int nId) {
    HWND hControl = ::GetDlgItem(hDlg, nId);
    return hControl ? WindowTextOf(hControl) : std::string();
}

bool ControlVisible(HWND hDlg, int nId) {
    HWND hControl = ::GetDlgItem(hDlg, nId);
    return hControl && ::IsWindowVisible(hControl);
}

RECT ControlRect(HWND hDlg, int nId) {
    RECT rc = {0, 0, 0, 0};
    HWND hControl = ::GetDlgItem(hDlg, nId);
    if (!hControl) return rc;
    ::GetWindowRect(hControl, &rc);
    ::MapWindowPoints(nullptr, hDlg, reinterpret_cast<LPPOINT>(&rc), 2);
    return rc;
}

bool ClickControl(HWND hDlg, int nId) {
    HWND hControl = ::GetDlgItem(hDlg, nId);
    if (!hControl) return false;
    RECT rc;
    ::GetClientRect(hControl, &rc);
    LPARAM lParam = MAKELPARAM(rc.right / 2, rc.bottom / 2);
    return ::PostMessageA(hControl, WM_LBUTTONDOWN, MK_LBUTTON, lParam) &&
           ::PostMessageA(hControl, WM_LBUTTONUP, 0, lParam);
}

namespace {
bool SendMouse(DWORD dwFlags, POINT ptScreen) {
    // Absolute coordinates are normalised to 0..65535 over the primary screen.
    int cx = ::GetSystemMetrics(SM_CXSCREEN);
    int cy = ::GetSystemMetrics(SM_CYSCREEN);
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dx = static_cast<LONG>((ptScreen.x * 65536LL + cx - 1) / cx);
    input.mi.dy = static_cast<LONG>((ptScreen.y * 65536LL + cy - 1) / cy);
    input.mi.dwFlags = dwFlags | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE;
    return ::SendInput(1, &input, sizeof(input)) == 1;
}
}  // namespace

bool MoveMouseTo(POINT ptScreen) {
    if (!SendMouse(0, ptScreen)) return false;
    ::Sleep(50);
    return true;
}

bool DragWithMouse(HWND hWnd, POINT ptClient, int dx, int dy) {
    POINT pt = ptClient;
    ::ClientToScreen(hWnd, &pt);
    if (!MoveMouseTo(pt) || !SendMouse(MOUSEEVENTF_LEFTDOWN, pt)) return false;
    ::Sleep(150);
    const int kSteps = 5;
    for (int i = 1; i <= kSteps; ++i) {
        POINT ptStep = {pt.x + dx * i / kSteps, pt.y + dy * i / kSteps};
        SendMouse(0, ptStep);
        ::Sleep(50);
    }
    POINT ptEnd = {pt.x + dx, pt.y + dy};
    bool bOk = SendMouse(MOUSEEVENTF_LEFTUP, ptEnd);
    ::Sleep(150);
    return bOk;
}

bool MoveWindowTo(HWND hWnd, int x, int y) {
    ::SetWindowPos(hWnd, HWND_TOP, x, y, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
    return WaitUntil(
        [&] {
            RECT rc;
            return ::GetWindowRect(hWnd, &rc) && rc.left == x && rc.top == y;
        },
        3000);
}

bool TypeKeys(HWND hWnd, const std::string& strKeys) {
    ::SetForegroundWindow(hWnd);
    if (!WaitUntil([&] { return ::GetForegroundWindow() == hWnd; }, 3000)) return false;
    for (char ch : strKeys) {
        const WORD wVk = ch == '^' ? VK_TAB : ch == '>' ? VK_RIGHT : static_cast<WORD>(ch);  // Tab, Enter, Esc, Space: their codes
        const WORD keys[] = {VK_SHIFT, wVk, wVk, VK_SHIFT};
        INPUT inputs[4] = {};
        for (int i = 0; i < 4; ++i) {
            inputs[i].type = INPUT_KEYBOARD;
            inputs[i].ki.wVk = keys[i];
            inputs[i].ki.dwFlags = i < 2 ? 0 : KEYEVENTF_KEYUP;
        }
        const UINT nFirst = ch == '^' ? 0 : 1, nCount = ch == '^' ? 4 : 2;  // Shift only around Shift+Tab
        if (::SendInput(nCount, inputs + nFirst, sizeof(INPUT)) != nCount) return false;
        ::Sleep(200);
    }
    return true;
}

HWND FocusOf(HWND hWnd) {
    GUITHREADINFO info = {sizeof(info)};
    return ::GetGUIThreadInfo(::GetWindowThreadProcessId(hWnd, nullptr), &info) ? info.hwndFocus : nullptr;
}

std::string AccessibleName(HWND hWnd) {
    IAccessible* pAcc = nullptr;  // __uuidof: MinGW's IID_IAccessible is a DLL import, not the GUID itself
    if (FAILED(::AccessibleObjectFromWindow(hWnd, OBJID_CLIENT, __uuidof(IAccessible), reinterpret_cast<void**>(&pAcc))))
        return "<none>";
    std::unique_ptr<IAccessible, void (*)(IAccessible*)> owner(pAcc, [](IAccessible* p) { p->Release(); });
    VARIANT self = {};
    self.vt = VT_I4;  // CHILDID_SELF
    BSTR name = nullptr;
    const std::string strName = pAcc->get_accName(self, &name) == S_OK && name ? WideToUtf8(name) : "";
    ::SysFreeString(name);
    return strName;
}
