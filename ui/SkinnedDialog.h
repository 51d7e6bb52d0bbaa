#pragma once
// CSkinnedDialog: the skeleton both skinned dialogs (CDlgUpdate, CDlgNotify)
// share. Their template gives their layout at every display scale
// (LayoutDialog); they have no caption, so a press in the top band moves the
// window (DragByTopBand); static texts are drawn without a background in the
// dialog's text colour; OnInitDialog sets the window text, the face and the
// close mark's images.
//
// A derived dialog answers its own messages in OnDialogMessage (its message
// map); what that leaves goes to the skeleton, then to CImageDialog. It calls
// CSkinnedDialog::OnInitDialog and ::DoDataExchange first from its own.
#include <windows.h>

#include "platform/dialog/MessageMap.h"
#include "platform/skin/ImageButtonX.h"
#include "platform/skin/ImageDialog.h"
#include "platform/skin/StaticText.h"
#include "ui/DialogLayout.h"

class CSkinnedDialog : public CImageDialog {
public:
    struct S_Skin {
        UINT nTemplateId;            // IDD_UPDATE or IDD_NOTIFY
        UINT nFaceId;                // the face picture
        const char* pszWindowText;   // UTF-8
        COLORREF crText;             // of the static texts
        UINT nCloseMarkId;           // the close mark's control
    };

protected:
    explicit CSkinnedDialog(const S_Skin& skin);

    // The derived dialog's own messages; false for one it leaves.
    virtual bool OnDialogMessage(UINT nMsg, WPARAM wParam, LPARAM lParam, LRESULT* pResult) = 0;

    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    bool GetLayout(UINT nDpi, SkinWindowLayout& layout) override;

    // The layout at the dialog's present DPI.
    SDialogLayout Layout() const;
    // A text at the dialog text size in crColor, bold or not.
    static void SkinText(CStaticText& text, COLORREF crColor, bool bBold);

    CImageButtonX m_btnCloseX;

private:
    bool OnMessage(UINT nMsg, WPARAM wParam, LPARAM lParam, LRESULT* pResult) final;
    static const MessageMap<CSkinnedDialog>& GetMessageMap();
    HBRUSH OnCtlColor(HDC hdc, HWND hWnd, UINT nCtlColor);
    void OnLButtonDown(UINT nFlags, POINT point);

    const S_Skin m_skin;
};
