#include "platform/skin/ImageDialog.h"

#include "platform/skin/BitmapDC.h"
#include "platform/skin/SkinContrast.h"
#include "platform/skin/SkinDpi.h"
#include "platform/skin/SkinLayout.h"

CImageDialog::CImageDialog(UINT nIDTemplate, CWnd* pParentWnd) : CDialog(nIDTemplate, pParentWnd) {}

CImageDialog::~CImageDialog() = default;

bool CImageDialog::SetBackPicture(int nImageType, UINT nResId, HINSTANCE hInst, bool bFlag) {
    if (!m_picture.LoadPng(nResId, hInst, GetDpi())) return false;
    m_nPictureId = nResId;
    m_hPictureInst = hInst;
    m_nImageType = nImageType;
    m_face.reset();
    if (m_hWnd) {
        if (bFlag) {
            ::SetWindowPos(m_hWnd, nullptr, 0, 0, m_picture.Width(), m_picture.Height(),
                           SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
        ::RedrawWindow(m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
    }
    return true;
}

bool CImageDialog::EnsureFace() {
    if (!m_hWnd || !m_picture.IsLoaded()) return false;
    RECT rc;
    ::GetClientRect(m_hWnd, &rc);
    SIZE size = {rc.right - rc.left, rc.bottom - rc.top};
    if (size.cx <= 0 || size.cy <= 0) return false;
    if (m_face && size.cx == m_faceSize.cx && size.cy == m_faceSize.cy) return true;

    HDC hdcWindow = ::GetDC(m_hWnd);
    if (!hdcWindow) return false;
    UniqueGdiObject face(::CreateCompatibleBitmap(hdcWindow, size.cx, size.cy));
    CBitmapDC faceDc(hdcWindow, face.get());
    ::ReleaseDC(m_hWnd, hdcWindow);
    if (!faceDc) return false;
    HDC hdcFace = faceDc.Get();
    if (SkinHighContrast()) {
        // The system's window colour under the system's text colours, whatever the scheme.
        ::FillRect(hdcFace, &rc, ::GetSysColorBrush(COLOR_WINDOW));
        m_face = std::move(face);
        m_faceSize = size;
        return true;
    }
    ::FillRect(hdcFace, &rc, ::GetSysColorBrush(COLOR_BTNFACE));  // under any transparent pixels
    std::vector<SkinSpan> xs = SkinAxisSpans(m_nImageType, m_picture.Width(), size.cx);
    std::vector<SkinSpan> ys = SkinAxisSpans(m_nImageType, m_picture.Height(), size.cy);
    for (const SkinSpan& y : ys)
        for (const SkinSpan& x : xs)
            m_picture.Draw(hdcFace, x.nDst, y.nDst, x.nDstLen, y.nDstLen, x.nSrc, y.nSrc, x.nSrcLen, y.nSrcLen);
    m_face = std::move(face);
    m_faceSize = size;
    return true;
}

void CImageDialog::PaintFace(HDC hdc) {
    CBitmapDC faceDc(hdc, m_face.get());
    if (faceDc) ::BitBlt(hdc, 0, 0, m_faceSize.cx, m_faceSize.cy, faceDc.Get(), 0, 0, SRCCOPY);
}

bool CImageDialog::PaintFaceUnder(HWND hChild, HDC hdc) {
    if (!EnsureFace()) return false;
    POINT origin = {0, 0};
    ::MapWindowPoints(hChild, m_hWnd, &origin, 1);
    CBitmapDC faceDc(hdc, m_face.get());
    if (!faceDc) return false;
    RECT rc;
    ::GetClientRect(hChild, &rc);
    ::BitBlt(hdc, 0, 0, rc.right, rc.bottom, faceDc.Get(), origin.x, origin.y, SRCCOPY);
    return true;
}

HBRUSH CImageDialog::OnCtlColor(HDC hdc, HWND, UINT nCtlColor) {
    switch (nCtlColor) {
    case CTLCOLOR_DLG:
    case CTLCOLOR_STATIC:
    case CTLCOLOR_BTN:
        // Drawn over the face: no background of their own.
        ::SetBkMode(hdc, TRANSPARENT);
        return static_cast<HBRUSH>(::GetStockObject(NULL_BRUSH));
    default:
        return ::GetSysColorBrush(COLOR_WINDOW);
    }
}

UINT CImageDialog::GetDpi() const { return m_nDpi ? m_nDpi : SkinWindowDpi(m_hWnd); }

bool CImageDialog::GetLayout(UINT, SkinWindowLayout&) { return false; }

BOOL CImageDialog::OnInitDialog() {
    m_nDpi = SkinWindowDpi(m_hWnd);  // before the data exchange: the widgets load for it
    SkinTakeOverDialogScaling(m_hWnd);
    BOOL bResult = CDialog::OnInitDialog();
    ApplyLayout(nullptr);
    return bResult;
}

SIZE CImageDialog::FrameExtent() const {
    RECT rcWindow;
    RECT rcClient;
    ::GetWindowRect(m_hWnd, &rcWindow);
    ::GetClientRect(m_hWnd, &rcClient);
    return SIZE{(rcWindow.right - rcWindow.left) - rcClient.right, (rcWindow.bottom - rcWindow.top) - rcClient.bottom};
}

void CImageDialog::ApplyLayout(const RECT* prcWindow) {
    SkinWindowLayout layout;
    if (GetLayout(m_nDpi, layout)) {
        if (layout.nFontHeight > 0) SetDialogFont(layout.nFontHeight);
        // Children come in template order; one that is not where the layout
        // expects it stays in its template place.
        HWND hChild = ::GetWindow(m_hWnd, GW_CHILD);
        for (const SkinControlPlace& place : layout.controls) {
            if (!hChild) break;
            if (static_cast<WORD>(::GetDlgCtrlID(hChild)) == static_cast<WORD>(place.nId)) {
                ::SetWindowPos(hChild, nullptr, place.rc.left, place.rc.top, place.rc.right - place.rc.left,
                               place.rc.bottom - place.rc.top, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOREDRAW);
            }
            hChild = ::GetWindow(hChild, GW_HWNDNEXT);
        }
        if (!prcWindow) {
            const SIZE frame = FrameExtent();
            ::SetWindowPos(m_hWnd, nullptr, 0, 0, layout.size.cx + frame.cx, layout.size.cy + frame.cy,
                           SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
    }
    if (prcWindow) {
        ::SetWindowPos(m_hWnd, nullptr, prcWindow->left, prcWindow->top, prcWindow->right - prcWindow->left,
                       prcWindow->bottom - prcWindow->top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void CImageDialog::SetDialogFont(int nHeight) {
    LOGFONTW lf = {};
    HGDIOBJ hCurrent = reinterpret_cast<HGDIOBJ>(::SendMessageW(m_hWnd, WM_GETFONT, 0, 0));
    if (!hCurrent || !::GetObjectW(hCurrent, sizeof(lf), &lf)) return;
    if (lf.lfHeight == -nHeight && !m_font) return;  // the template's font is that size already
    lf.lfHeight = -nHeight;
    lf.lfWidth = 0;
    UniqueGdiObject font(::CreateFontIndirectW(&lf));
    if (!font) return;
    for (HWND hChild = ::GetWindow(m_hWnd, GW_CHILD); hChild; hChild = ::GetWindow(hChild, GW_HWNDNEXT))
        ::SendMessageW(hChild, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), FALSE);
    m_font = std::move(font);  // the children have let go of the old one
}

void CImageDialog::OnDpiChanged(UINT nDpi, const RECT& rcSuggested) {
    if (nDpi == 0) return;
    m_nDpi = nDpi;
    if (m_nPictureId) m_picture.LoadPng(m_nPictureId, m_hPictureInst, m_nDpi);
    m_face.reset();
    ApplyLayout(&rcSuggested);
    for (HWND hChild = ::GetWindow(m_hWnd, GW_CHILD); hChild; hChild = ::GetWindow(hChild, GW_HWNDNEXT))
        ::SendMessageW(hChild, WM_DPICHANGED_AFTERPARENT, 0, 0);
    ::RedrawWindow(m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void CImageDialog::DoDataExchange(CDataExchange* pDX) { CDialog::DoDataExchange(pDX); }

void CImageDialog::OnOK() {}

void CImageDialog::SetDefaultButton(UINT nId, UINT nFallbackId) {
    m_nDefaultId = nId;
    m_nDefaultFallbackId = nFallbackId;
}

UINT CImageDialog::DefaultButton() const {
    // The focused button is the default, as a focused push button is in any
    // dialog (Tab to "close", Enter closes); the dialog manager does not know
    // that of owner-drawn buttons.
    HWND hFocus = ::GetFocus();
    if (m_hWnd && hFocus && ::GetParent(hFocus) == m_hWnd && ::IsWindowVisible(hFocus) && ::IsWindowEnabled(hFocus) &&
        (::SendMessageW(hFocus, WM_GETDLGCODE, 0, 0) & DLGC_BUTTON))
        return static_cast<UINT>(::GetDlgCtrlID(hFocus));
    // A hidden button must not be pressed by Enter: it stands for a step the dialog has left.
    for (UINT nId : {m_nDefaultId, m_nDefaultFallbackId}) {
        HWND hButton = nId && m_hWnd ? ::GetDlgItem(m_hWnd, static_cast<int>(nId)) : nullptr;
        if (hButton && ::IsWindowVisible(hButton) && ::IsWindowEnabled(hButton)) return nId;
    }
    return 0;
}

bool CImageDialog::OnMessage(UINT nMsg, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    switch (nMsg) {
    case DM_GETDEFID: {
        const UINT nId = DefaultButton();
        // Without one the dialog manager sends IDOK, which OnOK ignores.
        *pResult = nId ? MAKELRESULT(nId, DC_HASDEFID) : 0;
        return true;
    }
    case WM_ERASEBKGND:
        if (!EnsureFace()) return false;
        PaintFace(reinterpret_cast<HDC>(wParam));
        *pResult = TRUE;
        return true;
    case WM_PRINTCLIENT:
        if (EnsureFace()) PaintFace(reinterpret_cast<HDC>(wParam));
        return false;
    case WM_SIZE:
        m_face.reset();  // re-rendered at the new size on the next erase
        return false;
    case WM_NEXTDLGCTL:
        // Tab or an arrow: from now on the focus is shown.
        if (!LOWORD(lParam)) ShowFocusCues(true);
        return false;
    case WM_CHANGEUISTATE:
    case WM_UPDATEUISTATE:
        OnUiStateChange(wParam);
        return false;
    case WM_SETTINGCHANGE:
    case WM_SYSCOLORCHANGE:
        // High contrast turned on or off, or its colours changed: everything is drawn anew.
        m_face.reset();
        ::RedrawWindow(m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
        return false;
    case WM_DPICHANGED:
        OnDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        *pResult = 0;
        return true;
    case WM_GETDPISCALEDSIZE:
        if (!SuggestDpiScaledSize(static_cast<UINT>(wParam), *reinterpret_cast<SIZE*>(lParam))) return false;
        *pResult = TRUE;
        return true;
    default:
        break;
    }
    if (IsCtlColorMessage(nMsg)) {
        *pResult = reinterpret_cast<LRESULT>(
            OnCtlColor(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam), nMsg - WM_CTLCOLORMSGBOX));
        return true;
    }
    return CDialog::OnMessage(nMsg, wParam, lParam, pResult);
}

void CImageDialog::OnUiStateChange(WPARAM wParam) {
    if (!(HIWORD(wParam) & UISF_HIDEFOCUS)) return;
    if (LOWORD(wParam) == UIS_CLEAR) ShowFocusCues(true);
    else if (LOWORD(wParam) == UIS_SET) ShowFocusCues(false);
}

bool CImageDialog::SuggestDpiScaledSize(UINT nDpi, SIZE& size) {
    // Windows then suggests the layout's size in WM_DPICHANGED.
    SkinWindowLayout layout;
    if (!GetLayout(nDpi, layout)) return false;
    const SIZE frame = FrameExtent();
    size.cx = layout.size.cx + frame.cx;
    size.cy = layout.size.cy + frame.cy;
    return true;
}

void CImageDialog::ShowFocusCues(bool bShow) {
    if (bShow == m_bFocusCues) return;
    m_bFocusCues = bShow;
    HWND hFocus = ::GetFocus();
    if (hFocus && ::GetParent(hFocus) == m_hWnd) ::InvalidateRect(hFocus, nullptr, FALSE);
}

bool SkinShowsFocusCue(HWND hWnd) {
    if (SkinHighContrast()) return true;
    const CImageDialog* pDialog = dynamic_cast<const CImageDialog*>(CWnd::FromHandlePermanent(::GetParent(hWnd)));
    if (pDialog) return pDialog->ShowsFocusCues();
    return !(::SendMessageW(hWnd, WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS);
}

UINT SkinDpiOf(HWND hWnd) {
    if (!hWnd) return SkinSystemDpi();
    const CImageDialog* pDialog = dynamic_cast<const CImageDialog*>(CWnd::FromHandlePermanent(::GetParent(hWnd)));
    return pDialog ? pDialog->GetDpi() : SkinWindowDpi(hWnd);
}

void PaintParentFace(HWND hChild, HDC hdc, int cx, int cy) {
    CImageDialog* pDialog = dynamic_cast<CImageDialog*>(CWnd::FromHandlePermanent(::GetParent(hChild)));
    if (pDialog && pDialog->PaintFaceUnder(hChild, hdc)) return;
    RECT rc = {0, 0, cx, cy};
    ::FillRect(hdc, &rc, ::GetSysColorBrush(COLOR_BTNFACE));
}
