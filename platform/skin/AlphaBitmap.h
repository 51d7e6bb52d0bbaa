#pragma once
// CAlphaBitmap, an image of the skin: a PNG resource (type "PNG") decoded with
// GDI+ into a 32-bit premultiplied DIB section drawn with alpha, or a plain
// BITMAP resource.
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
    // The same for display at nDpi: the drawing made for that scale (see
    // SkinArtworkFor), or one made for another scale, or the 100 % one when
    // there are no others, resampled to it.
    bool LoadPng(UINT nResId, HINSTANCE hInst, UINT nDpi);
    bool LoadBitmap(UINT nResId, HINSTANCE hInst, UINT nDpi);
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
    template <typename Load>
    bool LoadForDpi(UINT nResId, UINT nDpi, Load load);
    // Replaces the image by its resampling to cx x cy.
    bool Resample(int cx, int cy);

    UniqueGdiObject m_bitmap;
    int m_cx = 0;
    int m_cy = 0;
    bool m_bAlpha = false;
};
