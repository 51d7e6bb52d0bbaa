#include "ui/DlgNotify.h"

#include <shellapi.h>

#include "ui/resource.h"

namespace {
const COLORREF kTextColor = RGB(13, 61, 102);
}  // namespace

RECT PlaceAboveTaskbar(const RECT& rcTaskbar, const RECT& rcDialog, const RECT& rcDesktop,
                       const RECT& rcWorkArea, int nMargin) {
    int nWidth = rcDialog.right - rcDialog.left;
    int nHeight = rcDialog.bottom - rcDialog.top;
    int nDesktopWidth = rcDesktop.right - rcDesktop.left;
    RECT rc;
    if (::IsRectEmpty(&rcTaskbar)) {
        rc.left = rcWorkArea.right - nWidth - nMargin;
        rc.top = rcWorkArea.bottom - nHeight - nMargin;
    } else {
        rc.left = nDesktopWidth - nWidth - nMargin;
        rc.top = rcTaskbar.top - nHeight - nMargin;
    }
    rc.right = rc.left + nWidth;
    rc.bottom = rc.top + nHeight;
    return rc;
}

CDlgNotify::CDlgNotify()
    : CSkinnedDialog({IDD_NOTIFY, IDP_NOTIFY_FACE, "QOVA升级通知", kTextColor, IDC_BTN_UPGRADE, IDC_BTN_LATER,
                      IDC_BTN_CLOSE},
                     GetMessageMap(), this) {}

CDlgNotify::~CDlgNotify() = default;

const MessageMap<CDlgNotify>& CDlgNotify::GetMessageMap() {
    static const MessageMap<CDlgNotify> map = {
        MapBnClicked<CDlgNotify>(IDC_BTN_UPGRADE, &CDlgNotify::OnBtnUpgrade),
        MapBnClicked<CDlgNotify>(IDC_BTN_LATER, &CDlgNotify::OnBtnLater),
        MapBnClicked<CDlgNotify>(IDC_BTN_CLOSE, &CDlgNotify::OnBtnLater),
        MapBnClicked<CDlgNotify>(IDCANCEL, &CDlgNotify::OnBtnLater),  // Esc: as the close mark
        MapBnClicked<CDlgNotify>(IDC_LINK, &CDlgNotify::OnLinkClicked),
    };
    return map;
}

void CDlgNotify::DoDataExchange(CDataExchange* pDX) {
    CSkinnedDialog::DoDataExchange(pDX);
    DDX_Text(pDX, IDC_TXT_CURVERSION, m_strCurVersion);
    DDX_Text(pDX, IDC_TXT_NOTIFY_NEWVER, m_strNewVersion);
    DDX_Control(pDX, IDC_TXT_CURVERSION, m_txtCurVersion);
    DDX_Control(pDX, IDC_TXT_NOTIFY_NEWVER, m_txtNewVersion);
}

BOOL CDlgNotify::OnInitDialog() {
    CSkinnedDialog::OnInitDialog();
    SkinText(m_txtCurVersion, kTextColor, true);
    SkinText(m_txtNewVersion, kTextColor, true);
    SkinText(m_txtLink, kTextColor, false);
    m_txtLink.SetUnderline(true);
    m_txtLink.SetHoverCursor(::LoadCursorW(nullptr, MAKEINTRESOURCEW(32649)));  // IDC_HAND

    SetDefaultButton(IDC_BTN_UPGRADE);
    PlaceAboveTaskbar();
    return TRUE;
}

void CDlgNotify::PlaceAboveTaskbar() {
    RECT rcTaskbar = {0, 0, 0, 0};
    if (HWND hTaskbar = ::FindWindowW(L"Shell_TrayWnd", nullptr)) ::GetWindowRect(hTaskbar, &rcTaskbar);
    RECT rcDialog;
    GetWindowRect(&rcDialog);
    RECT rcDesktop;
    ::GetWindowRect(::GetDesktopWindow(), &rcDesktop);
    RECT rcWorkArea = rcDesktop;
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &rcWorkArea, 0);
    const int nMargin = Layout().nTaskbarMargin;
    RECT rc = ::PlaceAboveTaskbar(rcTaskbar, rcDialog, rcDesktop, rcWorkArea, nMargin);
    MoveWindow(rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, TRUE);
}

void CDlgNotify::OnBtnUpgrade() { EndDialog(IDYES); }

void CDlgNotify::OnBtnLater() { EndDialog(IDNO); }

void CDlgNotify::OnLinkClicked() {
    if (m_strWebSiteURL.IsEmpty()) return;  // nothing to open
    ::ShellExecuteW(nullptr, L"open", Utf8ToWide(m_strWebSiteURL.GetString()).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}
