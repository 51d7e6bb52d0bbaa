// A dialog on the update dialog's template that shows every skin widget the
// update dialog uses, set up as in its offer state, with the progress bar at 2
// of 5. The UI tests look at it before the real update dialog exists.
//
// Messages the tests send: WM_APP + 1 switches to the up-to-date pictures,
// WM_APP + 2 sets the progress position to wParam.
#include <windows.h>

#include "platform/dialog/MessageMap.h"
#include "platform/skin/ImageButtonX.h"
#include "platform/skin/ImageDialog.h"
#include "platform/skin/PNGPicture.h"
#include "platform/skin/ProgressBar.h"
#include "platform/skin/StaticText.h"
#include "ui/DialogLayout.h"
#include "ui/DragByTopBand.h"
#include "ui/resource.h"

namespace {

const COLORREF kDark = RGB(51, 51, 51);
const COLORREF kWhite = RGB(255, 255, 255);

class CSkinShowcase : public CImageDialog {
public:
    CSkinShowcase() : CImageDialog(IDD_UPDATE, nullptr) {}

protected:
    void DoDataExchange(CDataExchange* pDX) override {
        CImageDialog::DoDataExchange(pDX);
        DDX_Control(pDX, IDC_BTN_CLOSE, m_btnClose);
        DDX_Control(pDX, IDC_BTN_UPDATE, m_btnUpdate);
        DDX_Control(pDX, IDC_BTN_CLOSEX, m_btnCloseX);
        DDX_Control(pDX, IDC_PROGRESS, m_progress);
        DDX_Control(pDX, IDC_PIC_ICON, m_picIcon);
        DDX_Control(pDX, IDC_PIC_HEADING, m_picHeading);
        DDX_Control(pDX, IDC_TXT_TITLE, m_txtTitle);
        DDX_Control(pDX, IDC_TXT_NEWVERSION, m_txtNewVersion);
        DDX_Control(pDX, IDC_TXT_MESSAGE, m_txtMessage);
    }

    BOOL OnInitDialog() override {
        CImageDialog::OnInitDialog();
        SetWindowText("QOVA皮肤控件");
        SetBackPicture(kSkinSplitEdges, IDP_UPDATE_FACE, nullptr, false);
        m_picIcon.SetPicture(IDP_ICON_OFFER, nullptr);
        m_picHeading.SetPicture(IDP_HEAD_OFFER, nullptr);
        m_txtTitle.SetFontSize(CStaticText::kDialogTextPixels, CStaticText::kSizePixels);
        m_txtTitle.SetTextColor(RGB(233, 247, 254));
        m_txtTitle.SetAligns(CStaticText::kAlignLeft);
        m_txtTitle.SetBold(true);
        for (CImageButtonX* pButton : {&m_btnClose, &m_btnUpdate}) {
            pButton->SetNormalImage(IDP_BTN_NORMAL, nullptr);
            pButton->SetOverImage(IDP_BTN_HOVER, nullptr);
            pButton->SetSelectImage(IDP_BTN_PRESSED, nullptr);
            pButton->SetTextColor(CImageButtonX::kNormal, kDark);
            pButton->SetTextColor(CImageButtonX::kHover, kWhite);
            pButton->SetTextColor(CImageButtonX::kPressed, kWhite);
            pButton->SetShowText(true);
        }
        m_btnCloseX.SetNormalImage(IDP_CLOSEX_NORMAL, nullptr);
        m_btnCloseX.SetOverImage(IDP_CLOSEX_HOVER, nullptr);
        m_btnCloseX.SetSelectImage(IDP_CLOSEX_PRESSED, nullptr);
        m_txtNewVersion.SetFontSize(CStaticText::kDialogTextPixels, CStaticText::kSizePixels);
        m_txtNewVersion.SetTextColor(kDark);
        m_txtNewVersion.SetBold(true);
        m_txtNewVersion.SetWindowText("4.0.1008.0801");
        m_txtMessage.SetFontSize(CStaticText::kDialogTextPixels, CStaticText::kSizePixels);
        m_txtMessage.SetTextColor(kDark);
        m_progress.SetBmpResource(IDB_PROGRESS_TRACK, IDB_PROGRESS_LEFT, IDB_PROGRESS_MIDDLE, IDB_PROGRESS_RIGHT);
        m_progress.SetRange(0, 5);
        m_progress.SetProgress(2);
        return TRUE;
    }

    bool OnMessage(UINT nMsg, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override {
        return GetMessageMap().Dispatch(*this, nMsg, wParam, lParam, pResult) ||
               CImageDialog::OnMessage(nMsg, wParam, lParam, pResult);
    }

private:
    static const MessageMap<CSkinShowcase>& GetMessageMap() {
        static const MessageMap<CSkinShowcase> map = {
            MapBnClicked<CSkinShowcase>(IDC_BTN_CLOSE, &CSkinShowcase::OnBtnClose),
            MapBnClicked<CSkinShowcase>(IDC_BTN_CLOSEX, &CSkinShowcase::OnBtnClose),
            MapLButtonDown<CSkinShowcase>(&CSkinShowcase::OnLButtonDown),
            MapCtlColor<CSkinShowcase>(&CSkinShowcase::OnCtlColor),
            MapMessage<CSkinShowcase>(WM_APP + 1, &CSkinShowcase::OnShowUpToDate),
            MapMessage<CSkinShowcase>(WM_APP + 2, &CSkinShowcase::OnSetProgress),
        };
        return map;
    }

    void OnBtnClose() { EndDialog(IDOK); }
    bool GetLayout(UINT nDpi, SkinWindowLayout& layout) override {
        layout = LayoutDialog(IDD_UPDATE, nDpi);
        return true;
    }
    void OnLButtonDown(UINT nFlags, POINT point) {
        DragByTopBand(m_hWnd, point, LayoutDialog(IDD_UPDATE, GetDpi()).nBandHeight);
        CImageDialog::OnLButtonDown(nFlags, point);
    }
    HBRUSH OnCtlColor(HDC hdc, HWND hWnd, UINT nCtlColor) {
        HBRUSH hBrush = CImageDialog::OnCtlColor(hdc, hWnd, nCtlColor);
        if (nCtlColor != CTLCOLOR_STATIC) return hBrush;
        ::SetBkMode(hdc, TRANSPARENT);
        ::SetTextColor(hdc, kDark);
        return static_cast<HBRUSH>(::GetStockObject(NULL_BRUSH));
    }
    LRESULT OnShowUpToDate(WPARAM, LPARAM) {
        m_picIcon.SetPicture(IDP_ICON_UPTODATE, nullptr);
        m_picHeading.SetPicture(IDP_HEAD_UPTODATE, nullptr);
        m_txtMessage.SetWindowText("您安装的QOVA已经是最新版本！");
        m_txtNewVersion.ShowWindow(SW_HIDE);
        GetDlgItem(IDC_TXT_CANUPDATE)->ShowWindow(SW_HIDE);
        GetDlgItem(IDC_TXT_QUESTION)->ShowWindow(SW_HIDE);
        m_btnUpdate.ShowWindow(SW_HIDE);
        return 0;
    }
    LRESULT OnSetProgress(WPARAM wParam, LPARAM) {
        m_progress.SetProgress(static_cast<int>(wParam));
        return m_progress.GetFilledWidth();
    }

    CImageButtonX m_btnClose;
    CImageButtonX m_btnUpdate;
    CImageButtonX m_btnCloseX;
    CProgressBar m_progress;
    CPNGPicture m_picIcon;
    CPNGPicture m_picHeading;
    CStaticText m_txtTitle;
    CStaticText m_txtNewVersion;
    CStaticText m_txtMessage;
};

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    CSkinShowcase dlg;
    return static_cast<int>(dlg.DoModal());
}
