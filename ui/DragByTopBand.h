#pragma once
// The skinned dialogs have no caption: a press in their top band of 30 client
// pixels starts a window move, as a press on a caption would. Both dialogs'
// OnLButtonDown call DragByTopBand and then the framework's default handling.
#include <windows.h>

const int kDragBandHeight = 30;

// True when a press at this client point (signed y) starts a move.
bool IsInDragBand(POINT point);

// Posts WM_NCLBUTTONDOWN / HTCAPTION to hDlg with the point packed as x in the
// low word and y in the high word when the point lies in the band. True when posted.
bool DragByTopBand(HWND hDlg, POINT point);
