#include "ui/DragByTopBand.h"

bool IsInDragBand(POINT point, int nBandHeight) { return point.y < nBandHeight; }

bool DragByTopBand(HWND hDlg, POINT point, int nBandHeight) {
    if (!IsInDragBand(point, nBandHeight)) return false;
    LPARAM lParam = MAKELPARAM(static_cast<WORD>(point.x), static_cast<WORD>(point.y));
    return ::PostMessageW(hDlg, WM_NCLBUTTONDOWN, HTCAPTION, lParam) != FALSE;
}
