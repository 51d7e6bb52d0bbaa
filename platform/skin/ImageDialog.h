#pragma once
// CImageDialog: a dialog whose face is a picture. The face is rendered once
// into a memory bitmap of the client size and copied in one BitBlt on every
// erase, so nothing flickers; the skin widgets copy the part under themselves
// from the same bitmap (PaintParentFace), so they look transparent.
//
// Keyboard (DialogBoxParamW's modal loop runs IsDialogMessage): Tab and
// Shift+Tab move between the visible buttons in template order; Enter
// presses the focused button, else the default button the derived dialog
// names for its state (SetDefaultButton), or does nothing while none is
// shown; Esc and Alt+F4 end it with IDCANCEL as the framework does. Focus
// cues are hidden until Tab or an arrow is used, or the system clears
// UISF_HIDEFOCUS (WM_CHANGEUISTATE, WM_UPDATEUISTATE). The dialog keeps that
// state itself: Wine's prefix asks for cues at all times (SPI_GETKEYBOARDCUES)
// and would show them to a mouse user from the start.
//
// High contrast: the face is the system's window colour (SkinContrast.h).
//
// Display scale: the dialog takes its window's DPI when it opens and each one
// WM_DPICHANGED brings later (a per-monitor aware program dragged to a monitor
// of another scale). A derived dialog describes itself at any DPI (GetLayout);
// the dialog applies that when it opens and, at a DPI change, at the
// rectangle Windows suggests, with the dialog font, the face and every skin
// widget's images (WM_DPICHANGED_AFTERPARENT) drawn for the new scale.
#include <windows.h>

#include "platform/base/Win32Handles.h"
#include "platform/dialog/Dialog.h"
#include "platform/skin/AlphaBitmap.h"
#include "platform/skin/SkinLayout.h"

class CImageDialog : public CDialog {
public:
    CImageDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    ~CImageDialog() override;

    // Takes PNG resource nResId of hInst (nullptr: the application) as the face.
    // nImageType (SkinImageType): kSkinStretch stretches the picture over the
    // window; kSkinSplitEdges draws it at 1:1 with its halves anchored to the edges. bFlag true
    // also sizes the window to the picture. False when the picture is missing.
    bool SetBackPicture(int nImageType, UINT nResId, HINSTANCE hInst, bool bFlag);

    // Copies the face under the child window hChild into hdc (the child's own
    // coordinates). False when there is no face to copy.
    bool PaintFaceUnder(HWND hChild, HDC hdc);

    HBRUSH OnCtlColor(HDC hdc, HWND hWnd, UINT nCtlColor);

    // The button Enter presses while no button has the focus: nId, or nFallbackId while nId is hidden or
    // disabled; 0 for none. Answered through DM_GETDEFID, so the dialog
    // manager never marks an owner-drawn button as default (its face stays).
    void SetDefaultButton(UINT nId, UINT nFallbackId = 0);

    // The DPI the dialog is laid out for; before it has a window, the system DPI.
    UINT GetDpi() const;
    // Whether the focused control shows its focus cue (the keyboard has been used).
    bool ShowsFocusCues() const { return m_bFocusCues; }

protected:
    // The dialog's layout at nDpi. The default, false, keeps the template's places.
    virtual bool GetLayout(UINT nDpi, SkinWindowLayout& layout);

    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    bool OnMessage(UINT nMsg, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;
    void OnOK() override;

private:
    bool EnsureFace();
    void PaintFace(HDC hdc);
    // Places the controls and sizes the window (or puts it at *prcWindow) by GetLayout.
    void ApplyLayout(const RECT* prcWindow);
    void SetDialogFont(int nHeight);
    void OnDpiChanged(UINT nDpi, const RECT& rcSuggested);
    // The window's size for nDpi by GetLayout; false keeps Windows' own scaling.
    bool SuggestDpiScaledSize(UINT nDpi, SIZE& size);
    SIZE FrameExtent() const;

    CAlphaBitmap m_picture;
    UINT m_nPictureId = 0;
    HINSTANCE m_hPictureInst = nullptr;
    UINT DefaultButton() const;
    void ShowFocusCues(bool bShow);
    // Windows' keyboard-cue state for the dialog, as WM_CHANGEUISTATE/WM_UPDATEUISTATE carry it.
    void OnUiStateChange(WPARAM wParam);

    UINT m_nDefaultId = 0;
    UINT m_nDefaultFallbackId = 0;
    bool m_bFocusCues = false;
    UINT m_nDpi = 0;         // 0 until the window exists
    UniqueGdiObject m_font;  // the dialog font at m_nDpi, once it differs from the template's
    int m_nImageType = kDefaultImageType;
    UniqueGdiObject m_face;  // rendered face, client-sized
    SIZE m_faceSize = {0, 0};

    static const int kDefaultImageType = kSkinSplitEdges;
};

// The DPI a skin widget draws at: its CImageDialog parent's, else its window's.
UINT SkinDpiOf(HWND hWnd);
// Whether a focused skin widget draws its focus cue: always in high contrast,
// else as its CImageDialog parent says (else as the window's UI state says).
bool SkinShowsFocusCue(HWND hWnd);

// Fills hdc (cx x cy, in hChild's coordinates) with what lies under hChild:
// the face of its CImageDialog parent, else the dialog colour.
void PaintParentFace(HWND hChild, HDC hdc, int cx, int cy);
