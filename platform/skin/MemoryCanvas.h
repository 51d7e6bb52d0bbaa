#pragma once
#include <windows.h>

#include "platform/base/Win32Handles.h"
#include "platform/skin/BitmapDC.h"

// A memory DC with a bitmap of the given size, for drawing without flicker:
// draw into Dc(), then BitBlt it to the screen.
class CMemoryCanvas {
public:
    CMemoryCanvas(HDC hdcCompatible, int cx, int cy);
    CMemoryCanvas(const CMemoryCanvas&) = delete;
    CMemoryCanvas& operator=(const CMemoryCanvas&) = delete;

    bool IsValid() const { return static_cast<bool>(m_dc); }
    HDC Dc() const { return m_dc.Get(); }
    void CopyTo(HDC hdcDest, int x, int y) const;

private:
    UniqueGdiObject m_bitmap;
    CBitmapDC m_dc;
    int m_cx;
    int m_cy;
};
