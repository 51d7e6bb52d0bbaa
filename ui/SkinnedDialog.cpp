#include "ui/SkinnedDialog.h"

#include <utility>

#include "platform/skin/SkinContrast.h"
#include "ui/ButtonSkins.h"
#include "ui/DragByTopBand.h"

CSkinnedDialog::CSkinnedDialog(const S_Skin& skin, DialogMessageFn fnDialogMessage)
    : CImageDialog(skin.nTemplateId, nullptr), m_skin(skin), m_fnDialogMessage(std::move(fnDialogMessage)) {}

const MessageMap<CSkinnedDialog>& CSkinnedDialog::GetMessageMap() {
    static const MessageMap<CSkinnedDialog> map = {
        MapCtlColor<CSkinnedDialog>(&CSkinnedDialog::OnCtlColor),
        MapLButtonDown<CSkinnedDialog>(&CSkinnedDialog::OnLButtonDown),
    };
    return map;
}

bool CSkinnedDialog::OnMessage(UINT nMsg, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    return m_fnDialogMessage(nMsg, wParam, lParam, pResult) ||
           GetMessageMap().Dispatch(*this, nMsg, wParam, lParam, pResult) ||
           CImageDialog::OnMessage(nMsg, wParam, lParam, pResult);
}

void CSkinnedDialog::DoDataExchange(CDataExchange* pDX) {
    CImageDialog::DoDataExchange(pDX);
    DDX_Control(pDX, m_skin.nAcceptId, m_btnAccept);
    DDX_Control(pDX, m_skin.nDeclineId, m_btnDecline);
    DDX_Control(pDX, m_skin.nCloseMarkId, m_btnCloseX);
}

BOOL CSkinnedDialog::OnInitDialog() {
    CImageDialog::OnInitDialog();
    SetWindowText(m_skin.pszWindowText);
    SetBackPicture(kSkinSplitEdges, m_skin.nFaceId, nullptr, false);
    SkinCaptionButton(m_btnDecline);
    SkinCaptionButton(m_btnAccept);
    SkinCloseMark(m_btnCloseX);
    return TRUE;
}

bool CSkinnedDialog::GetLayout(UINT nDpi, SkinWindowLayout& layout) {
    layout = LayoutDialog(m_skin.nTemplateId, nDpi);
    return true;
}

SDialogLayout CSkinnedDialog::Layout() const { return LayoutDialog(m_skin.nTemplateId, GetDpi()); }

void CSkinnedDialog::SkinText(CStaticText& text, COLORREF crColor, bool bBold) {
    text.SetFontSize(CStaticText::kDialogTextPixels, CStaticText::kSizePixels);
    text.SetTextColor(crColor);
    text.SetBold(bBold);
}

HBRUSH CSkinnedDialog::OnCtlColor(HDC hdc, HWND hWnd, UINT nCtlColor) {
    HBRUSH hBrush = CImageDialog::OnCtlColor(hdc, hWnd, nCtlColor);
    if (nCtlColor == CTLCOLOR_STATIC) {
        ::SetBkMode(hdc, TRANSPARENT);
        ::SetTextColor(hdc, SkinTextColor(m_skin.crText, COLOR_WINDOWTEXT));
        return static_cast<HBRUSH>(::GetStockObject(NULL_BRUSH));
    }
    return hBrush;
}

void CSkinnedDialog::OnLButtonDown(UINT nFlags, POINT point) {
    DragByTopBand(m_hWnd, point, Layout().nBandHeight);
    CImageDialog::OnLButtonDown(nFlags, point);
}
