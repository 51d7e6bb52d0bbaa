#pragma once
// Images of the skin: PNG resources (type "PNG") decoded with GDI+ into 32-bit
// premultiplied DIB sections drawn with alpha, and plain BITMAP resources.
#include <windows.h>

#include "platform/base/Win32Handles.h"

// A top-down 32-bit DIB section of cx x cy; *ppBits receives its pixels.
HBITMAP CreateTopDownDib32(HDC hdc, int cx, int cy, void** ppBits);

class CAlphaBitmap {
public:
    CAlphaBitmap() = default;
    // Decodes PNG resource nResId of hInst (nullptr: the application's module).
    bool LoadPng(UINT nResId, HINSTANCE hInst);
    // Loads BITMAP resource nResId (drawn opaque).
    bool LoadBitmap(UINT nResId, HINSTANCE hInst);
    void Reset();

    bool IsLoaded() const { return static_cast<bool>(m_bitmap); }
    HBITMAP Get() const { return static_cast<HBITMAP>(m_bitmap.get()); }
    int Width() const { return m_cx; }
    int Height() const { return m_cy; }

    // Draws the source rectangle (xSrc, ySrc, cxSrc, cySrc) into the
    // destination rectangle, stretched when the sizes differ; alpha-blended
    // for PNG images, copied for bitmaps.
    void Draw(HDC hdc, int x, int y, int cx, int cy, int xSrc, int ySrc, int cxSrc, int cySrc) const;
    // Whole image at 1:1.
    void Draw(HDC hdc, int x, int y) const { Draw(hdc, x, y, m_cx, m_cy, 0, 0, m_cx, m_cy); }

private:
    UniqueGdiObject m_bitmap;
    int m_cx = 0;
    int m_cy = 0;
    bool m_bAlpha = false;
};

// A memory DC with hBitmap selected into it for the object's lifetime.
class CBitmapDC {
public:
    CBitmapDC(HDC hdcCompatible, HGDIOBJ hBitmap);
    ~CBitmapDC();
    CBitmapDC(const CBitmapDC&) = delete;
    CBitmapDC& operator=(const CBitmapDC&) = delete;

    HDC Get() const { return m_hdc; }
    explicit operator bool() const { return m_hdc != nullptr; }

private:
    HDC m_hdc = nullptr;
    HGDIOBJ m_hOld = nullptr;
};

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
