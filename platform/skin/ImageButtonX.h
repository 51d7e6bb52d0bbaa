#pragma once
// CImageButtonX: an owner-drawn push button with three faces (normal, hover,
// pressed) drawn with alpha over the dialog's face, and optionally its window
// text centred on top in the colour of the state. Hover is tracked with
// TrackMouseEvent. The parent forwards WM_DRAWITEM to the object. The faces
// are the drawings for the dialog's DPI, and are drawn anew when it changes.
//
// Keyboard: the focused button shows a dotted focus cue inside its face once
// the keyboard is used (WM_UPDATEUISTATE; always in high contrast); Space
// presses it, the arrows move on like Tab. Its window text is its name for
// assistive technology (an owner-drawn button reads as a push button). In
// high contrast it is drawn in the system's button colours with its text.
#include <windows.h>

#include "platform/dialog/Wnd.h"
#include "platform/skin/AlphaBitmap.h"

class CImageButtonX : public CWnd {
public:
    enum State { kNormal = 1, kHover = 2, kPressed = 3 };

    CImageButtonX() = default;

    // PNG resource ids of the faces (hInst nullptr: the application). False when missing.
    bool SetNormalImage(UINT nResId, HINSTANCE hInst);
    bool SetOverImage(UINT nResId, HINSTANCE hInst);
    bool SetSelectImage(UINT nResId, HINSTANCE hInst);
    // Caption colour for state 1 (normal), 2 (hover) or 3 (pressed); other states are ignored.
    virtual void SetTextColor(int nState, COLORREF crColor);
    void SetShowText(bool bShow);

    COLORREF GetTextColor(int nState) const;
    // The state the button is drawn in now.
    int GetDrawState() const { return m_nDrawState; }

    bool OnChildNotify(UINT nMsg, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;

protected:
    void PreSubclassWindow() override;
    LRESULT WindowProc(UINT nMsg, WPARAM wParam, LPARAM lParam) override;

private:
    void DrawItem(const DRAWITEMSTRUCT& draw);
    void DrawSystemFace(HDC hdc, int cx, int cy, int nState, bool bDisabled) const;
    bool SetFace(int nState, UINT nResId, HINSTANCE hInst);
    void LoadFaces();
    void Repaint();

    CAlphaBitmap m_faces[3];
    UINT m_nFaceIds[3] = {0, 0, 0};  // 0: not set
    HINSTANCE m_hFaceInst[3] = {nullptr, nullptr, nullptr};
    COLORREF m_crText[3] = {RGB(0, 0, 0), RGB(0, 0, 0), RGB(0, 0, 0)};
    bool m_bShowText = false;
    bool m_bHover = false;
    int m_nDrawState = kNormal;
};
