#pragma once
// The skinned dialogs have no caption: a press in their top band (30 client
// pixels at 100 %, LayoutDialog's nBandHeight at the dialog's DPI) starts a
// window move, as a press on a caption would. CSkinnedDialog's OnLButtonDown
// calls DragByTopBand and then the framework's default handling.
#include <windows.h>

// True when a press at this client point (signed y) starts a move.
bool IsInDragBand(POINT point, int nBandHeight);

// Posts WM_NCLBUTTONDOWN / HTCAPTION to hDlg with the point packed as x in the
// low word and y in the high word when the point lies in the band. True when posted.
bool DragByTopBand(HWND hDlg, POINT point, int nBandHeight);
