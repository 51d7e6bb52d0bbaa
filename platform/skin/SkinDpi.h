#pragma once
// The DPI a skinned window is shown at, and the images drawn for it.
#include <windows.h>

#include "platform/skin/SkinLayout.h"

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif
#ifndef WM_DPICHANGED_AFTERPARENT
#define WM_DPICHANGED_AFTERPARENT 0x02E3
#endif
#ifndef WM_GETDPISCALEDSIZE
#define WM_GETDPISCALEDSIZE 0x02E4
#endif

// The DPI of the primary display.
UINT SkinSystemDpi();
// The DPI hWnd is shown at: GetDpiForWindow where the system has it (Windows
// 10 1607 and later), otherwise, and for a null window, the system DPI.
UINT SkinWindowDpi(HWND hWnd);
// Keeps the dialog manager of Windows 10 1703 and later from scaling a
// per-monitor dialog on its own when it changes DPI: the skin relays it out.
void SkinTakeOverDialogScaling(HWND hDlg);

// Image resources: an id names the drawing at 100 %; the drawings at 125, 150,
// 175 and 200 % have the id + 100, 200, 300 and 400. The drawing for nDpi is
// the one at that scale, else the nearest larger one (the 200 % one above
// 200 %), which the loader then resamples to the scale.
struct SkinArtwork {
    UINT nId;        // resource id of the drawing
    UINT nDrawnDpi;  // the DPI it was drawn for
};
SkinArtwork SkinArtworkFor(UINT nId, UINT nDpi);
