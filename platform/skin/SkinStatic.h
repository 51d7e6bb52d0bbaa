#pragma once
// CSkinStatic: the common part of the skin's static controls (text, picture,
// bar). It paints the whole control itself, without flicker: the dialog's
// face under the control, then DrawContent on top, in a memory bitmap that is
// copied to the screen in one piece. Its window text is its name for
// assistive technology (a picture's too, which draws none); a new text
// repaints it and is announced (EVENT_OBJECT_NAMECHANGE).
#include <windows.h>

#include "platform/dialog/Wnd.h"

class CSkinStatic : public CWnd {
public:
    CSkinStatic() = default;

protected:
    // Draws the control's content into hdc (client-sized, face already there).
    virtual void DrawContent(HDC hdc, const RECT& rcClient) = 0;
    LRESULT WindowProc(UINT nMsg, WPARAM wParam, LPARAM lParam) override;
    void Repaint();

private:
    void Paint(HDC hdcTarget);
};
