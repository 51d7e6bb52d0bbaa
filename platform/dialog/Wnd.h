#pragma once
// CWnd: a thin wrapper of a window handle. A CWnd either only names a window
// (Attach) or also routes its messages through the virtual WindowProc
// (SubclassWindow), which is how the skin widgets take over their controls.
#include <windows.h>

#include <map>
#include <memory>

#include "platform/dialog/AfxString.h"
#include "platform/base/Text.h"

// WM_CTLCOLORMSGBOX .. WM_CTLCOLORSTATIC: a control asks its parent for colours.
inline bool IsCtlColorMessage(UINT nMsg) { return nMsg >= WM_CTLCOLORMSGBOX && nMsg <= WM_CTLCOLORSTATIC; }

class CWnd {
public:
    CWnd() = default;
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND m_hWnd = nullptr;
    operator HWND() const { return m_hWnd; }

    // Names a window without touching its window procedure.
    BOOL Attach(HWND hWnd);
    HWND Detach();
    // Routes the window's messages through WindowProc until UnsubclassWindow
    // or the window's WM_NCDESTROY. Fails when the object already has a window.
    BOOL SubclassWindow(HWND hWnd);
    HWND UnsubclassWindow();
    // The object that subclassed or owns hWnd, or nullptr.
    static CWnd* FromHandlePermanent(HWND hWnd);

    // The bound member object for the child when there is one, else a wrapper
    // owned by this object that lives as long as the window. nullptr when the
    // window has no such child.
    CWnd* GetDlgItem(int nID) const;

    BOOL ShowWindow(int nCmdShow) { return ::ShowWindow(m_hWnd, nCmdShow); }
    BOOL IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
    void SetWindowText(const char* pszText) { ::SetWindowTextW(m_hWnd, Utf8ToWide(pszText ? pszText : "").c_str()); }
    void GetWindowText(CString& rString) const;
    void GetWindowRect(LPRECT pRect) const { ::GetWindowRect(m_hWnd, pRect); }
    void GetClientRect(LPRECT pRect) const { ::GetClientRect(m_hWnd, pRect); }
    void MoveWindow(int x, int y, int nWidth, int nHeight, BOOL bRepaint = TRUE) {
        ::MoveWindow(m_hWnd, x, y, nWidth, nHeight, bRepaint);
    }
    void MoveWindow(LPCRECT pRect, BOOL bRepaint = TRUE) {
        MoveWindow(pRect->left, pRect->top, pRect->right - pRect->left, pRect->bottom - pRect->top, bRepaint);
    }
    HFONT GetFont() const { return reinterpret_cast<HFONT>(::SendMessageW(m_hWnd, WM_GETFONT, 0, 0)); }

    // Called with a message the parent received about this control
    // (WM_DRAWITEM, WM_CTLCOLOR*); true when handled, with the result in *pResult.
    virtual bool OnChildNotify(UINT nMsg, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    // Offers a parent's WM_DRAWITEM or WM_CTLCOLOR* to the object of the
    // control it concerns. True when that object handled it.
    static bool ReflectToChild(UINT nMsg, WPARAM wParam, LPARAM lParam, LRESULT* pResult);

protected:
    // Runs once a window has been subclassed, before its next message.
    virtual void PreSubclassWindow() {}
    // Messages of a subclassed window; the default passes them on.
    virtual LRESULT WindowProc(UINT nMsg, WPARAM wParam, LPARAM lParam);
    // The window's own handling of the message being processed.
    virtual LRESULT Default();
    LRESULT CallSuper(UINT nMsg, WPARAM wParam, LPARAM lParam);
    // Marks hWnd as belonging to this object (FromHandlePermanent).
    void BindHandle(HWND hWnd);
    void UnbindHandle();

    MSG m_currentMsg = {};

private:
    static LRESULT CALLBACK SubclassProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);

    WNDPROC m_pfnSuper = nullptr;
    mutable std::map<HWND, std::unique_ptr<CWnd>> m_tempChildren;
};
