#include "platform/skin/StaticText.h"

#include "platform/base/Text.h"
#include "platform/skin/ImageDialog.h"
#include "platform/skin/SkinContrast.h"
#include "platform/skin/SkinDpi.h"

void CStaticText::SetFontSize(int nSize, int nFlag) {
    m_nFontSize = nSize;
    m_nFontFlag = nFlag;
    Changed(true);
}

void CStaticText::SetTextColor(COLORREF crColor) {
    m_crText = crColor;
    Changed(false);
}

void CStaticText::SetBold(bool bBold) {
    m_bBold = bBold;
    Changed(true);
}

void CStaticText::SetUnderline(bool bUnderline) {
    m_bUnderline = bUnderline;
    Changed(true);
}

void CStaticText::SetAligns(int nAlign) {
    m_nAlign = (nAlign == kAlignCenter || nAlign == kAlignRight) ? nAlign : kAlignLeft;
    Changed(false);
}

void CStaticText::SetHoverCursor(HCURSOR hCursor) {
    m_hHoverCursor = hCursor;
    AllowMouse();
}

void CStaticText::Changed(bool bFont) {
    if (bFont) m_font.reset();
    Repaint();
}

void CStaticText::AllowMouse() {
    // A static without SS_NOTIFY is transparent to the mouse: no cursor, no clicks.
    if (!m_hWnd || !m_hHoverCursor) return;
    LONG_PTR style = ::GetWindowLongPtrW(m_hWnd, GWL_STYLE);
    if (!(style & SS_NOTIFY)) ::SetWindowLongPtrW(m_hWnd, GWL_STYLE, style | SS_NOTIFY);
}

void CStaticText::PreSubclassWindow() {
    AllowMouse();
    Changed(true);
}

HFONT CStaticText::GetDrawFont() {
    if (!m_hWnd) return nullptr;
    if (m_font) return static_cast<HFONT>(m_font.get());
    LOGFONTW lf = {};
    HGDIOBJ hBase = GetFont() ? static_cast<HGDIOBJ>(GetFont()) : ::GetStockObject(DEFAULT_GUI_FONT);
    ::GetObjectW(hBase, sizeof(lf), &lf);
    if (m_nFontSize > 0) {
        const int nPerInch = m_nFontFlag == kSizePoints ? 72 : static_cast<int>(kSkinDesignDpi);
        lf.lfHeight = -::MulDiv(m_nFontSize, static_cast<int>(SkinDpiOf(m_hWnd)), nPerInch);
        lf.lfWidth = 0;
    }
    lf.lfWeight = m_bBold ? FW_BOLD : FW_NORMAL;
    lf.lfUnderline = m_bUnderline ? TRUE : FALSE;
    m_font.reset(::CreateFontIndirectW(&lf));
    return static_cast<HFONT>(m_font.get());
}

LRESULT CStaticText::WindowProc(UINT nMsg, WPARAM wParam, LPARAM lParam) {
    switch (nMsg) {
    case WM_SETFONT:
        m_font.reset();
        break;
    case WM_DPICHANGED_AFTERPARENT:
        Changed(true);
        break;
    case WM_ENABLE:
        Repaint();
        break;
    case WM_SETCURSOR:
        if (m_hHoverCursor) {
            ::SetCursor(m_hHoverCursor);
            return TRUE;
        }
        break;
    default:
        break;
    }
    return CSkinStatic::WindowProc(nMsg, wParam, lParam);
}

void CStaticText::DrawContent(HDC hdc, const RECT& rcClient) {
    CString text;
    GetWindowText(text);
    UINT nFormat = DT_WORDBREAK | DT_EXPANDTABS;
    if (m_nAlign == kAlignCenter) nFormat |= DT_CENTER;
    else if (m_nAlign == kAlignRight) nFormat |= DT_RIGHT;
    if (::GetWindowLongPtrW(m_hWnd, GWL_STYLE) & SS_NOPREFIX) nFormat |= DT_NOPREFIX;

    HGDIOBJ hOldFont = ::SelectObject(hdc, GetDrawFont());
    ::SetBkMode(hdc, TRANSPARENT);
    ::SetTextColor(hdc, ::IsWindowEnabled(m_hWnd) ? SkinTextColor(m_crText, COLOR_WINDOWTEXT) : ::GetSysColor(COLOR_GRAYTEXT));
    RECT rc = rcClient;
    ::DrawTextW(hdc, Utf8ToWide(text.GetString()).c_str(), -1, &rc, nFormat);
    ::SelectObject(hdc, hOldFont);
}
