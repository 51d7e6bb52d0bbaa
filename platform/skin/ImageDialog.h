#pragma once
// CImageDialog: a dialog whose face is a picture. The face is rendered once
// into a memory bitmap of the client size and copied in one BitBlt on every
// erase, so nothing flickers; the skin widgets copy the part under themselves
// from the same bitmap (PaintParentFace), so they look transparent.
//
// Keyboard: a skinned dialog has no default button, so Enter does nothing;
// Esc and Alt+F4 end it with IDCANCEL as the framework does.
#include <windows.h>

#include "platform/base/Win32Handles.h"
#include "platform/dialog/Dialog.h"
#include "platform/skin/AlphaBitmap.h"

class CImageDialog : public CDialog {
public:
    CImageDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    ~CImageDialog() override;

    // Takes PNG resource nResId of hInst (nullptr: the application) as the face.
    // nImageType: 1 stretches the picture over the window; 2 draws it at 1:1
    // with its halves anchored to the edges (see SkinImageType). bFlag true
    // also sizes the window to the picture. False when the picture is missing.
    bool SetBackPicture(int nImageType, UINT nResId, HINSTANCE hInst, bool bFlag);

    // Copies the face under the child window hChild into hdc (the child's own
    // coordinates). False when there is no face to copy.
    bool PaintFaceUnder(HWND hChild, HDC hdc);

    HBRUSH OnCtlColor(HDC hdc, HWND hWnd, UINT nCtlColor);

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    bool OnMessage(UINT nMsg, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;
    void OnOK() override;

private:
    bool EnsureFace();
    void PaintFace(HDC hdc);

    CAlphaBitmap m_picture;
    int m_nImageType = kDefaultImageType;
    UniqueGdiObject m_face;  // rendered face, client-sized
    SIZE m_faceSize = {0, 0};

    static const int kDefaultImageType = 2;
};

// Fills hdc (cx x cy, in hChild's coordinates) with what lies under hChild:
// the face of its CImageDialog parent, else the dialog colour.
void PaintParentFace(HWND hChild, HDC hdc, int cx, int cy);
