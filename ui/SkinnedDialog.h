#pragma once
// CSkinnedDialog: the skeleton both skinned dialogs (CDlgUpdate, CDlgNotify)
// share. Their template gives their layout at every display scale
// (LayoutDialog); they have no caption, so a press in the top band moves the
// window (DragByTopBand); static texts are drawn without a background in the
// dialog's text colour; each has two caption buttons, one that takes the
// offer and one that declines it, and a close mark, all three subclassed and
// given their faces here, with the window text and the face picture.
//
// A derived dialog hands its own message map to the constructor; the map is
// asked first, then the skeleton, then CImageDialog. Its OnInitDialog and
// DoDataExchange call the skeleton's first.
#include <windows.h>

#include <functional>

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
        UINT nAcceptId;              // the caption button that takes the offer
        UINT nDeclineId;             // the one that declines it
        UINT nCloseMarkId;           // the close mark's control
    };

protected:
    // pDialog: the derived dialog (not constructed yet; its map is used once it has a window).
    template <class T>
    CSkinnedDialog(const S_Skin& skin, const MessageMap<T>& map, T* pDialog)
        : CSkinnedDialog(skin, [&map, pDialog](UINT nMsg, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
              return map.Dispatch(*pDialog, nMsg, wParam, lParam, pResult);
          }) {}

    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    bool GetLayout(UINT nDpi, SkinWindowLayout& layout) override;

    // The layout at the dialog's present DPI.
    SDialogLayout Layout() const;
    // A text at the dialog text size in crColor, bold or not.
    static void SkinText(CStaticText& text, COLORREF crColor, bool bBold);

    CImageButtonX m_btnAccept;
    CImageButtonX m_btnDecline;
    CImageButtonX m_btnCloseX;

private:
    using DialogMessageFn = std::function<bool(UINT, WPARAM, LPARAM, LRESULT*)>;
    CSkinnedDialog(const S_Skin& skin, DialogMessageFn fnDialogMessage);

    bool OnMessage(UINT nMsg, WPARAM wParam, LPARAM lParam, LRESULT* pResult) final;
    static const MessageMap<CSkinnedDialog>& GetMessageMap();
    HBRUSH OnCtlColor(HDC hdc, HWND hWnd, UINT nCtlColor);
    void OnLButtonDown(UINT nFlags, POINT point);

    const S_Skin m_skin;
    const DialogMessageFn m_fnDialogMessage;
};
