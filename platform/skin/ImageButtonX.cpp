#include "platform/skin/ImageButtonX.h"

#include "platform/base/Text.h"
#include "platform/skin/ImageDialog.h"
#include "platform/skin/MemoryCanvas.h"
#include "platform/skin/SkinContrast.h"
#include "platform/skin/SkinDpi.h"
#include "platform/skin/SkinLayout.h"

bool CImageButtonX::SetNormalImage(UINT nResId, HINSTANCE hInst) { return SetFace(kNormal, nResId, hInst); }
bool CImageButtonX::SetOverImage(UINT nResId, HINSTANCE hInst) { return SetFace(kHover, nResId, hInst); }
bool CImageButtonX::SetSelectImage(UINT nResId, HINSTANCE hInst) { return SetFace(kPressed, nResId, hInst); }

bool CImageButtonX::SetFace(int nState, UINT nResId, HINSTANCE hInst) {
    m_nFaceIds[nState - 1] = nResId;
    m_hFaceInst[nState - 1] = hInst;
    bool bLoaded = m_faces[nState - 1].LoadPng(nResId, hInst, SkinDpiOf(m_hWnd));
    Repaint();
    return bLoaded;
}

void CImageButtonX::LoadFaces() {
    const UINT nDpi = SkinDpiOf(m_hWnd);
    for (int i = 0; i < 3; ++i)
        if (m_nFaceIds[i]) m_faces[i].LoadPng(m_nFaceIds[i], m_hFaceInst[i], nDpi);
    Repaint();
}

void CImageButtonX::SetTextColor(int nState, COLORREF crColor) {
    if (nState < kNormal || nState > kPressed) return;
    m_crText[nState - 1] = crColor;
    Repaint();
}

COLORREF CImageButtonX::GetTextColor(int nState) const {
    return nState >= kNormal && nState <= kPressed ? m_crText[nState - 1] : RGB(0, 0, 0);
}

void CImageButtonX::SetShowText(bool bShow) {
    m_bShowText = bShow;
    Repaint();
}

void CImageButtonX::Repaint() {
    if (m_hWnd) ::InvalidateRect(m_hWnd, nullptr, FALSE);
}

void CImageButtonX::PreSubclassWindow() {
    // The faces are drawn by us: make sure the button asks for WM_DRAWITEM.
    LONG_PTR style = ::GetWindowLongPtrW(m_hWnd, GWL_STYLE);
    if ((style & BS_TYPEMASK) != BS_OWNERDRAW)
        ::SetWindowLongPtrW(m_hWnd, GWL_STYLE, (style & ~static_cast<LONG_PTR>(BS_TYPEMASK)) | BS_OWNERDRAW);
    LoadFaces();  // faces chosen before binding were loaded for the system DPI
}

LRESULT CImageButtonX::WindowProc(UINT nMsg, WPARAM wParam, LPARAM lParam) {
    switch (nMsg) {
    case WM_DPICHANGED_AFTERPARENT:
        LoadFaces();
        break;
    case WM_MOUSEMOVE:
        if (!m_bHover) {
            m_bHover = true;
            TRACKMOUSEEVENT track = {sizeof(track), TME_LEAVE, m_hWnd, 0};
            ::TrackMouseEvent(&track);
            Repaint();
        }
        break;
    case WM_MOUSELEAVE:
        m_bHover = false;
        Repaint();
        break;
    case WM_ERASEBKGND:
        return TRUE;  // WM_DRAWITEM paints every pixel
    case WM_LBUTTONDBLCLK:
        // A quick second click is a click, not a double-click notification.
        return CallSuper(WM_LBUTTONDOWN, wParam, lParam);
    case WM_GETDLGCODE:
        // The arrows move along the buttons as Tab does; the dialog manager
        // would otherwise move the focus into the statics of the group.
        return CallSuper(nMsg, wParam, lParam) | DLGC_WANTARROWS;
    case WM_KEYDOWN:
        if (wParam == VK_LEFT || wParam == VK_UP || wParam == VK_RIGHT || wParam == VK_DOWN) {
            ::SendMessageW(::GetParent(m_hWnd), WM_NEXTDLGCTL, wParam == VK_LEFT || wParam == VK_UP, FALSE);
            return 0;
        }
        break;
    case BM_SETSTYLE:
        // A dialog manager that marks a default push button must not take the owner drawing away.
        return CallSuper(nMsg, (wParam & ~static_cast<WPARAM>(BS_TYPEMASK)) | BS_OWNERDRAW, lParam);
    case WM_UPDATEUISTATE: {
        // The focus cue shows once the keyboard is used.
        LRESULT lResult = CallSuper(nMsg, wParam, lParam);
        Repaint();
        return lResult;
    }
    default:
        break;
    }
    return CWnd::WindowProc(nMsg, wParam, lParam);
}

bool CImageButtonX::OnChildNotify(UINT nMsg, WPARAM, LPARAM lParam, LRESULT* pResult) {
    if (nMsg == WM_DRAWITEM) {
        DrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        *pResult = TRUE;
        return true;
    }
    if (nMsg == WM_CTLCOLORBTN) {
        *pResult = reinterpret_cast<LRESULT>(::GetStockObject(NULL_BRUSH));
        return true;
    }
    return false;
}

void CImageButtonX::DrawItem(const DRAWITEMSTRUCT& draw) {
    RECT rcItem = draw.rcItem;
    int cx = rcItem.right - rcItem.left;
    int cy = rcItem.bottom - rcItem.top;
    CMemoryCanvas canvas(draw.hDC, cx, cy);
    if (!canvas.IsValid()) return;
    HDC hdc = canvas.Dc();
    PaintParentFace(m_hWnd, hdc, cx, cy);

    bool bDisabled = (draw.itemState & ODS_DISABLED) != 0;
    int nState = kNormal;
    if (!bDisabled && (draw.itemState & ODS_SELECTED)) nState = kPressed;
    else if (!bDisabled && m_bHover) nState = kHover;
    m_nDrawState = nState;

    const bool bHighContrast = SkinHighContrast();
    if (bHighContrast) {
        DrawSystemFace(hdc, cx, cy, nState, bDisabled);
    } else {
        const CAlphaBitmap* pFace = &m_faces[nState - 1];
        if (!pFace->IsLoaded()) pFace = &m_faces[kNormal - 1];
        if (pFace->IsLoaded()) {
            RECT rc = SkinFitImage(pFace->Width(), pFace->Height(), cx, cy);
            pFace->Draw(hdc, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, 0, 0, pFace->Width(),
                        pFace->Height());
        }
    }

    // In high contrast every button says what it is: a face without text would be a picture only.
    if (m_bShowText || bHighContrast) {
        COLORREF crText = bDisabled ? ::GetSysColor(COLOR_GRAYTEXT) : m_crText[nState - 1];
        if (bHighContrast && !bDisabled) crText = ::GetSysColor(nState == kNormal ? COLOR_BTNTEXT : COLOR_HIGHLIGHTTEXT);
        CString text;
        GetWindowText(text);
        HGDIOBJ hOldFont = ::SelectObject(hdc, GetFont() ? static_cast<HGDIOBJ>(GetFont()) : ::GetStockObject(DEFAULT_GUI_FONT));
        ::SetBkMode(hdc, TRANSPARENT);
        ::SetTextColor(hdc, crText);
        RECT rcText = {0, 0, cx, cy};
        ::DrawTextW(hdc, Utf8ToWide(text.GetString()).c_str(), -1, &rcText, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
        ::SelectObject(hdc, hOldFont);
    }
    if ((draw.itemState & ODS_FOCUS) && SkinShowsFocusCue(m_hWnd)) {
        // Inside the face's rounded edge, at the dialog's scale.
        const int nInset = ::MulDiv(4, static_cast<int>(SkinDpiOf(m_hWnd)), static_cast<int>(kSkinDesignDpi));
        RECT rcFocus = {nInset, nInset, cx - nInset, cy - nInset};
        ::DrawFocusRect(hdc, &rcFocus);
    }
    canvas.CopyTo(draw.hDC, rcItem.left, rcItem.top);
}

void CImageButtonX::DrawSystemFace(HDC hdc, int cx, int cy, int nState, bool bDisabled) const {
    // The system's button colours, framed in its text colour; hover and pressed highlighted.
    RECT rc = {0, 0, cx, cy};
    const bool bLit = !bDisabled && nState != kNormal;
    ::FillRect(hdc, &rc, ::GetSysColorBrush(bLit ? COLOR_HIGHLIGHT : COLOR_BTNFACE));
    ::FrameRect(hdc, &rc, ::GetSysColorBrush(COLOR_BTNTEXT));
}
