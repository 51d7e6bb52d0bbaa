#pragma once
// CPillar: a horizontal bar over the dialog's face that fills in proportion to
// a position within a range (clamped; an empty range fills nothing).
// CProgressBar: the same bar drawn from four bitmaps: a track, and a fill made
// of a left end, a tiled middle and a right end, drawn for the dialog's DPI
// (and drawn anew when it changes).
#include <windows.h>

#include "platform/skin/AlphaBitmap.h"
#include "platform/skin/SkinStatic.h"

class CPillar : public CSkinStatic {
public:
    CPillar() = default;

    void SetRange(int nLower, int nUpper);
    void SetProgress(int nPos);
    // Pixels filled at the current position over the control's width.
    int GetFilledWidth() const;

protected:
    LRESULT WindowProc(UINT nMsg, WPARAM wParam, LPARAM lParam) override;
    void DrawContent(HDC hdc, const RECT& rcClient) override;
    // Draws the bar nFilled pixels full into hdc (client-sized, face already painted).
    virtual void DrawBar(HDC hdc, const RECT& rcClient, int nFilled);

private:

    int m_nLower = 0;
    int m_nUpper = 100;
    int m_nPos = 0;
};

class CProgressBar : public CPillar {
public:
    CProgressBar() = default;

    // BITMAP resource ids of hInst (nullptr: the application). False when any is missing.
    bool SetBmpResource(UINT nTrack, UINT nLeft, UINT nMiddle, UINT nRight, HINSTANCE hInst = nullptr);

protected:
    LRESULT WindowProc(UINT nMsg, WPARAM wParam, LPARAM lParam) override;
    void PreSubclassWindow() override;
    void DrawBar(HDC hdc, const RECT& rcClient, int nFilled) override;

private:
    bool LoadBitmaps();

    UINT m_nIds[4] = {0, 0, 0, 0};  // track, left, middle, right; 0: not set
    HINSTANCE m_hInst = nullptr;
    CAlphaBitmap m_track;
    CAlphaBitmap m_left;
    CAlphaBitmap m_middle;
    CAlphaBitmap m_right;
};
