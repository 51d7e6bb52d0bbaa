#pragma once
// CStaticText: a static text drawn by itself over the dialog's face, in its
// own colour, size, weight and alignment. It repaints the face under itself,
// so a changed text never smears over the old one. With a hover cursor it
// also takes mouse input and reports clicks (STN_CLICKED) like a link.
// Every setting may be made before the object is bound to a control.
#include <windows.h>

#include "platform/base/Win32Handles.h"
#include "platform/skin/SkinStatic.h"

class CStaticText : public CSkinStatic {
public:
    enum Align { kAlignLeft = 0, kAlignCenter = 1, kAlignRight = 2 };
    // The unit of SetFontSize.
    enum SizeUnit { kSizePixels = 0, kSizePoints = 1 };
    // The dialog font's 9 points in pixels at 100 %.
    static const int kDialogTextPixels = 12;

    CStaticText() = default;

    // nFlag kSizePixels: nSize is the character height in pixels at 100 % (96 DPI);
    // kSizePoints: in points. Either is drawn at the dialog's DPI. 0 or less keeps the
    // dialog font's size.
    void SetFontSize(int nSize, int nFlag);
    virtual void SetTextColor(COLORREF crColor);
    void SetBold(bool bBold);
    void SetUnderline(bool bUnderline);
    // 0 left, 1 centred, 2 right.
    void SetAligns(int nAlign);
    // Cursor shown over the text; nullptr for the default arrow.
    virtual void SetHoverCursor(HCURSOR hCursor);

    // The font the text is drawn with (built on first use); nullptr without a window.
    HFONT GetDrawFont();

protected:
    void PreSubclassWindow() override;
    LRESULT WindowProc(UINT nMsg, WPARAM wParam, LPARAM lParam) override;
    void DrawContent(HDC hdc, const RECT& rcClient) override;

private:
    void Changed(bool bFont);
    void AllowMouse();

    int m_nFontSize = 0;
    int m_nFontFlag = 0;
    COLORREF m_crText = RGB(0, 0, 0);
    bool m_bBold = false;
    bool m_bUnderline = false;
    int m_nAlign = kAlignLeft;
    HCURSOR m_hHoverCursor = nullptr;  // shared system cursor, not owned
    UniqueGdiObject m_font;
};
