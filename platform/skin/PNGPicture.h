#pragma once
// CPNGPicture: a static control that shows a PNG resource with alpha over the
// dialog's face. Like a bitmap static it takes the picture's size, keeping its
// top-left corner; switching pictures repaints the face where the old one was.
// The picture is the drawing for the dialog's DPI, and is drawn anew when the
// DPI changes.
#include <windows.h>

#include "platform/skin/AlphaBitmap.h"
#include "platform/skin/SkinStatic.h"

class CPNGPicture : public CSkinStatic {
public:
    CPNGPicture() = default;

    // Shows PNG resource nResId of hInst (nullptr: the application). On a
    // missing resource the control shows the face only and false is returned.
    bool SetPicture(UINT nResId, HINSTANCE hInst);

protected:
    void PreSubclassWindow() override;
    LRESULT WindowProc(UINT nMsg, WPARAM wParam, LPARAM lParam) override;
    void DrawContent(HDC hdc, const RECT& rcClient) override;

private:
    void FitToPicture();

    CAlphaBitmap m_picture;
    UINT m_nResId = 0;  // 0: none shown
    HINSTANCE m_hInst = nullptr;
};
