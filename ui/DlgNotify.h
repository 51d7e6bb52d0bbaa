#pragma once
// CDlgNotify: the upgrade notice a silent program update shows after it has
// installed a new version. It shows the installed and the new version above
// the taskbar at the right edge of the screen and returns the user's answer:
// IDYES for "立即升级", IDNO for "下次升级 ", the close mark and Esc; Enter upgrades.
#include <windows.h>

#include "platform/dialog/AfxString.h"
#include "platform/dialog/MessageMap.h"
#include "platform/skin/StaticText.h"
#include "ui/SkinnedDialog.h"

// The dialog's new rectangle: its size kept, its right edge nMargin pixels
// (5 at 100 %, LayoutDialog's nTaskbarMargin at the dialog's DPI) left of the
// desktop's width and its bottom nMargin pixels above the taskbar's top edge.
// An empty taskbar rectangle (no taskbar, or one that has no size, as under
// Wine) would put it above the screen, where nobody could answer it and a
// silent update would wait for ever: it then goes nMargin pixels inside the
// bottom right corner of the work area instead.
RECT PlaceAboveTaskbar(const RECT& rcTaskbar, const RECT& rcDialog, const RECT& rcDesktop,
                       const RECT& rcWorkArea, int nMargin);

class CDlgNotify : public CSkinnedDialog {
public:
    CDlgNotify();
    ~CDlgNotify() override;

    CString m_strCurVersion;   // installed version, shown in 19510
    CString m_strNewVersion;   // new version, shown in 19515
    CString m_strWebSiteURL;   // opened by the link

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;

    void OnBtnUpgrade();
    void OnBtnLater();
    void OnLinkClicked();

    CStaticText m_txtCurVersion;
    CStaticText m_txtNewVersion;
    CStaticText m_txtLink;  // prepared as a link; the templates have no control for it

private:
    static const MessageMap<CDlgNotify>& GetMessageMap();
    void PlaceAboveTaskbar();
};
