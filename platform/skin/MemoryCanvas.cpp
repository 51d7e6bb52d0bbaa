#include "platform/skin/MemoryCanvas.h"

namespace {
HBITMAP CreateCanvasBitmap(HDC hdcCompatible, int cx, int cy) {
    return cx > 0 && cy > 0 ? ::CreateCompatibleBitmap(hdcCompatible, cx, cy) : nullptr;
}
}  // namespace

CMemoryCanvas::CMemoryCanvas(HDC hdcCompatible, int cx, int cy)
    : m_bitmap(CreateCanvasBitmap(hdcCompatible, cx, cy)), m_dc(hdcCompatible, m_bitmap.get()), m_cx(cx), m_cy(cy) {}

void CMemoryCanvas::CopyTo(HDC hdcDest, int x, int y) const {
    if (IsValid()) ::BitBlt(hdcDest, x, y, m_cx, m_cy, m_dc.Get(), 0, 0, SRCCOPY);
}
