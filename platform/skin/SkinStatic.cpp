#include "platform/skin/SkinStatic.h"

#include "platform/skin/AlphaBitmap.h"
#include "platform/skin/ImageDialog.h"
#include "platform/skin/MemoryCanvas.h"

void CSkinStatic::Repaint() {
    if (m_hWnd) ::InvalidateRect(m_hWnd, nullptr, FALSE);
}

LRESULT CSkinStatic::WindowProc(UINT nMsg, WPARAM wParam, LPARAM lParam) {
    switch (nMsg) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC hdc = ::BeginPaint(m_hWnd, &ps);
        if (hdc) Paint(hdc);
        ::EndPaint(m_hWnd, &ps);
        return 0;
    }
    case WM_PRINTCLIENT:
        Paint(reinterpret_cast<HDC>(wParam));
        return 0;
    case WM_ERASEBKGND:
        return TRUE;  // Paint covers every pixel
    case WM_SETTEXT: {
        // Store the text without the static's immediate repaint, which would
        // draw it over the face; then repaint, and tell a screen reader that
        // holds the control that its name changed.
        LRESULT lResult = ::DefWindowProcW(m_hWnd, nMsg, wParam, lParam);
        Repaint();
        ::NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, m_hWnd, OBJID_CLIENT, CHILDID_SELF);
        return lResult;
    }
    default:
        return CWnd::WindowProc(nMsg, wParam, lParam);
    }
}

void CSkinStatic::Paint(HDC hdcTarget) {
    RECT rc;
    ::GetClientRect(m_hWnd, &rc);
    CMemoryCanvas canvas(hdcTarget, rc.right, rc.bottom);
    if (!canvas.IsValid()) return;
    PaintParentFace(m_hWnd, canvas.Dc(), rc.right, rc.bottom);
    DrawContent(canvas.Dc(), rc);
    canvas.CopyTo(hdcTarget, 0, 0);
}
