#pragma once
// Where everything of the two skinned dialogs goes at a display scale. Each
// dialog has one design at 100 % (96 DPI), in client pixels (its template at
// 1.5 pixels per dialog unit, the size its artwork is drawn for); at another
// DPI every rectangle is scaled by the skin's rule (SkinScaleRect), the rule
// tools/draw_artwork.py draws the 125 to 200 % artwork by, so controls and
// their images keep matching sizes. The dialogs apply it when they open and
// when WM_DPICHANGED moves them to another scale.
#include <windows.h>

#include "platform/skin/SkinLayout.h"

struct SDialogLayout : SkinWindowLayout {
    int nBandHeight = 0;     // the blue title band: a press in it drags the window
    int nTaskbarMargin = 0;  // the notification's gap to the taskbar and the screen's right edge
};

// The layout of template IDD_UPDATE or IDD_NOTIFY at nDpi: window size, every
// control in template order, the 9-point text height, band and margin. Empty
// (no size, no controls) for any other template.
SDialogLayout LayoutDialog(UINT nTemplateId, UINT nDpi);
