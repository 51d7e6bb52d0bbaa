#include "platform/dialog/Wnd.h"
#include "platform/base/Text.h"

#include <vector>

namespace {
// Window property that names the object of a window; properties, unlike
// GWLP_USERDATA, are free on every window class.
const wchar_t kObjectProp[] = L"QovaCWnd";
}  // namespace

CWnd::~CWnd() {
    if (m_pfnSuper) UnsubclassWindow();
    else if (m_hWnd) Detach();
}

void CWnd::BindHandle(HWND hWnd) {
    m_hWnd = hWnd;
    ::SetPropW(hWnd, kObjectProp, this);
}

void CWnd::UnbindHandle() {
    if (m_hWnd && ::GetPropW(m_hWnd, kObjectProp) == this) ::RemovePropW(m_hWnd, kObjectProp);
    m_tempChildren.clear();
    m_hWnd = nullptr;
}

BOOL CWnd::Attach(HWND hWnd) {
    if (m_hWnd || !hWnd || FromHandlePermanent(hWnd)) return FALSE;
    BindHandle(hWnd);
    return TRUE;
}

HWND CWnd::Detach() {
    HWND hWnd = m_hWnd;
    UnbindHandle();
    return hWnd;
}

BOOL CWnd::SubclassWindow(HWND hWnd) {
    if (m_hWnd || !::IsWindow(hWnd) || FromHandlePermanent(hWnd)) return FALSE;
    BindHandle(hWnd);
    m_pfnSuper = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::SubclassProc)));
    if (!m_pfnSuper) {
        UnbindHandle();
        return FALSE;
    }
    PreSubclassWindow();
    return TRUE;
}

HWND CWnd::UnsubclassWindow() {
    HWND hWnd = m_hWnd;
    if (hWnd && m_pfnSuper) ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
    m_pfnSuper = nullptr;
    UnbindHandle();
    return hWnd;
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd) {
    return hWnd ? static_cast<CWnd*>(::GetPropW(hWnd, kObjectProp)) : nullptr;
}

CWnd* CWnd::GetDlgItem(int nID) const {
    HWND hChild = ::GetDlgItem(m_hWnd, nID);
    if (!hChild) return nullptr;
    if (CWnd* pBound = FromHandlePermanent(hChild)) return pBound;
    std::unique_ptr<CWnd>& pTemp = m_tempChildren[hChild];
    if (!pTemp) {
        pTemp.reset(new CWnd);
        pTemp->m_hWnd = hChild;  // a plain name: not bound, so it never claims the window
    }
    return pTemp.get();
}

void CWnd::GetWindowText(CString& rString) const {
    int nLength = ::GetWindowTextLengthW(m_hWnd);
    std::vector<wchar_t> buffer(static_cast<size_t>(nLength) + 1, L'\0');
    ::GetWindowTextW(m_hWnd, buffer.data(), nLength + 1);
    rString = WideToUtf8(buffer.data()).c_str();
}

bool CWnd::OnChildNotify(UINT, WPARAM, LPARAM, LRESULT*) { return false; }

bool CWnd::ReflectToChild(UINT nMsg, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    HWND hChild = nullptr;
    if (nMsg == WM_DRAWITEM) {
        const DRAWITEMSTRUCT* pDraw = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (pDraw) hChild = pDraw->hwndItem;
    } else if (IsCtlColorMessage(nMsg)) {
        hChild = reinterpret_cast<HWND>(lParam);
    }
    CWnd* pChild = FromHandlePermanent(hChild);
    return pChild && pChild->OnChildNotify(nMsg, wParam, lParam, pResult);
}

LRESULT CWnd::CallSuper(UINT nMsg, WPARAM wParam, LPARAM lParam) {
    if (m_pfnSuper) return ::CallWindowProcW(m_pfnSuper, m_hWnd, nMsg, wParam, lParam);
    return ::DefWindowProcW(m_hWnd, nMsg, wParam, lParam);
}

LRESULT CWnd::Default() {
    return CallSuper(m_currentMsg.message, m_currentMsg.wParam, m_currentMsg.lParam);
}

LRESULT CWnd::WindowProc(UINT nMsg, WPARAM wParam, LPARAM lParam) { return CallSuper(nMsg, wParam, lParam); }

LRESULT CALLBACK CWnd::SubclassProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) {
    CWnd* pWnd = FromHandlePermanent(hWnd);
    if (!pWnd || !pWnd->m_pfnSuper) return ::DefWindowProcW(hWnd, nMsg, wParam, lParam);
    WNDPROC pfnSuper = pWnd->m_pfnSuper;
    LRESULT lResult = 0;
    MSG saved = pWnd->m_currentMsg;
    pWnd->m_currentMsg = MSG{hWnd, nMsg, wParam, lParam, 0, {0, 0}};
    try {
        lResult = pWnd->WindowProc(nMsg, wParam, lParam);
    } catch (...) {
        // Nothing may unwind through the system's dispatch: fall back to the control's own handling.
        lResult = ::CallWindowProcW(pfnSuper, hWnd, nMsg, wParam, lParam);
    }
    pWnd->m_currentMsg = saved;
    if (nMsg == WM_NCDESTROY) {
        // The window is gone: give the class back its procedure and forget the handle.
        if (FromHandlePermanent(hWnd) == pWnd) pWnd->UnsubclassWindow();
    }
    return lResult;
}
