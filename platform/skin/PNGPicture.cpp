#include "platform/skin/PNGPicture.h"

#include "platform/skin/ImageDialog.h"
#include "platform/skin/SkinDpi.h"

bool CPNGPicture::SetPicture(UINT nResId, HINSTANCE hInst) {
    bool bLoaded = m_picture.LoadPng(nResId, hInst, SkinDpiOf(m_hWnd));
    m_nResId = bLoaded ? nResId : 0;
    m_hInst = hInst;
    FitToPicture();
    return bLoaded;
}

void CPNGPicture::PreSubclassWindow() {
    // A picture chosen before binding was loaded for the system DPI.
    if (m_nResId) SetPicture(m_nResId, m_hInst);
    else FitToPicture();
}

LRESULT CPNGPicture::WindowProc(UINT nMsg, WPARAM wParam, LPARAM lParam) {
    if (nMsg == WM_DPICHANGED_AFTERPARENT && m_nResId) SetPicture(m_nResId, m_hInst);
    return CSkinStatic::WindowProc(nMsg, wParam, lParam);
}

void CPNGPicture::FitToPicture() {
    if (!m_hWnd) return;
    HWND hParent = ::GetParent(m_hWnd);
    RECT rcOld;
    ::GetWindowRect(m_hWnd, &rcOld);
    ::MapWindowPoints(nullptr, hParent, reinterpret_cast<LPPOINT>(&rcOld), 2);
    if (m_picture.IsLoaded()) {
        ::SetWindowPos(m_hWnd, nullptr, 0, 0, m_picture.Width(), m_picture.Height(),
                       SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOREDRAW);
    }
    // The old picture may have been larger: repaint the face over both places.
    RECT rcNew;
    ::GetWindowRect(m_hWnd, &rcNew);
    ::MapWindowPoints(nullptr, hParent, reinterpret_cast<LPPOINT>(&rcNew), 2);
    RECT rcBoth;
    ::UnionRect(&rcBoth, &rcOld, &rcNew);
    ::RedrawWindow(hParent, &rcBoth, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void CPNGPicture::DrawContent(HDC hdc, const RECT&) { m_picture.Draw(hdc, 0, 0); }
