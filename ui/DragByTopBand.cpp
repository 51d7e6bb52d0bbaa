#include "ui/DragByTopBand.h"

bool IsInDragBand(POINT point) { return point.y < kDragBandHeight; }

bool DragByTopBand(HWND hDlg, POINT point) {
    if (!IsInDragBand(point)) return false;
    LPARAM lParam = MAKELPARAM(static_cast<WORD>(point.x), static_cast<WORD>(point.y));
    return ::PostMessageA(hDlg, WM_NCLBUTTONDOWN, HTCAPTION, lParam) != FALSE;
}
