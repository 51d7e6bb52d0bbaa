#include "platform/skin/AlphaBitmap.h"

#include <objidl.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/dialog/WinApp.h"
#include "platform/skin/BitmapDC.h"
#include "platform/skin/GdiplusHeaders.h"
#include "platform/skin/GdiplusSession.h"
#include "platform/skin/SkinDpi.h"

namespace {

HINSTANCE ModuleOrApp(HINSTANCE hInst) { return hInst ? hInst : AfxGetInstanceHandle(); }

struct ReleaseFn {
    void operator()(IStream* p) const { p->Release(); }
};

}  // namespace

HBITMAP CreateTopDownDib32(HDC hdc, int cx, int cy, void** ppBits) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = cx;
    info.bmiHeader.biHeight = -cy;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return ::CreateDIBSection(hdc, &info, DIB_RGB_COLORS, ppBits, nullptr, 0);
}

bool CAlphaBitmap::LoadPng(UINT nResId, HINSTANCE hInst) {
    Reset();
    HMODULE hModule = ModuleOrApp(hInst);
    HRSRC hRes = ::FindResourceW(hModule, MAKEINTRESOURCEW(nResId), L"PNG");
    if (!hRes) return false;
    HGLOBAL hData = ::LoadResource(hModule, hRes);
    const BYTE* pData = hData ? static_cast<const BYTE*>(::LockResource(hData)) : nullptr;
    DWORD cbData = ::SizeofResource(hModule, hRes);
    if (!pData || cbData == 0 || !GdiplusSession::Ensure()) return false;

    IStream* pRawStream = ::SHCreateMemStream(pData, cbData);
    if (!pRawStream) return false;
    std::unique_ptr<IStream, ReleaseFn> stream(pRawStream);

    Gdiplus::Bitmap image(stream.get());
    if (image.GetLastStatus() != Gdiplus::Ok) return false;
    int cx = static_cast<int>(image.GetWidth());
    int cy = static_cast<int>(image.GetHeight());
    if (cx <= 0 || cy <= 0) return false;

    Gdiplus::Rect rect(0, 0, cx, cy);
    Gdiplus::BitmapData data = {};
    if (image.LockBits(&rect, Gdiplus::ImageLockModeRead, PixelFormat32bppPARGB, &data) != Gdiplus::Ok) return false;
    void* pBits = nullptr;
    HBITMAP hBitmap = CreateTopDownDib32(nullptr, cx, cy, &pBits);
    if (hBitmap) {
        for (int y = 0; y < cy; ++y) {
            std::memcpy(static_cast<BYTE*>(pBits) + static_cast<size_t>(y) * cx * 4,
                        static_cast<const BYTE*>(data.Scan0) + static_cast<ptrdiff_t>(y) * data.Stride,
                        static_cast<size_t>(cx) * 4);
        }
    }
    image.UnlockBits(&data);
    if (!hBitmap) return false;
    m_bitmap.reset(hBitmap);
    m_cx = cx;
    m_cy = cy;
    m_bAlpha = true;
    return true;
}

bool CAlphaBitmap::LoadBitmap(UINT nResId, HINSTANCE hInst) {
    Reset();
    HANDLE hImage = ::LoadImageW(ModuleOrApp(hInst), MAKEINTRESOURCEW(nResId), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION);
    if (!hImage) return false;
    m_bitmap.reset(hImage);
    BITMAP info = {};
    ::GetObjectW(hImage, sizeof(info), &info);
    m_cx = info.bmWidth;
    m_cy = info.bmHeight < 0 ? -info.bmHeight : info.bmHeight;
    m_bAlpha = false;
    return true;
}

template <typename Load>
bool CAlphaBitmap::LoadForDpi(UINT nResId, UINT nDpi, Load load) {
    const SkinArtwork artwork = SkinArtworkFor(nResId, nDpi);
    UINT nDrawnDpi = artwork.nDrawnDpi;
    if (!load(artwork.nId)) {
        if (artwork.nId == nResId || !load(nResId)) return false;
        nDrawnDpi = kSkinDesignDpi;  // an image without drawings at other scales
    }
    if (nDrawnDpi == nDpi) return true;
    const int cx = ::MulDiv(m_cx, static_cast<int>(nDpi), static_cast<int>(nDrawnDpi));
    const int cy = ::MulDiv(m_cy, static_cast<int>(nDpi), static_cast<int>(nDrawnDpi));
    return Resample(cx, cy);
}

bool CAlphaBitmap::LoadPng(UINT nResId, HINSTANCE hInst, UINT nDpi) {
    return LoadForDpi(nResId, nDpi, [&](UINT nId) { return LoadPng(nId, hInst); });
}

bool CAlphaBitmap::LoadBitmap(UINT nResId, HINSTANCE hInst, UINT nDpi) {
    return LoadForDpi(nResId, nDpi, [&](UINT nId) { return LoadBitmap(nId, hInst); });
}

bool CAlphaBitmap::Resample(int cx, int cy) {
    if (cx <= 0 || cy <= 0) return false;
    if (cx == m_cx && cy == m_cy) return true;
    void* pTargetBits = nullptr;
    UniqueGdiObject target(CreateTopDownDib32(nullptr, cx, cy, &pTargetBits));
    if (!target) return false;
    if (m_bAlpha) {
        // Premultiplied pixels: only GDI+ filters them without darkening the edges.
        DIBSECTION source = {};
        if (!::GetObjectW(m_bitmap.get(), sizeof(source), &source) || !source.dsBm.bmBits ||
            !GdiplusSession::Ensure())
            return false;
        Gdiplus::Bitmap from(m_cx, m_cy, m_cx * 4, PixelFormat32bppPARGB, static_cast<BYTE*>(source.dsBm.bmBits));
        Gdiplus::Bitmap to(cx, cy, cx * 4, PixelFormat32bppPARGB, static_cast<BYTE*>(pTargetBits));
        Gdiplus::Graphics graphics(&to);
        graphics.SetCompositingMode(Gdiplus::CompositingModeSourceCopy);
        graphics.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
        graphics.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
        Gdiplus::ImageAttributes edges;
        edges.SetWrapMode(Gdiplus::WrapModeTileFlipXY);  // no fading towards transparency at the borders
        if (graphics.DrawImage(&from, Gdiplus::Rect(0, 0, cx, cy), 0, 0, m_cx, m_cy, Gdiplus::UnitPixel, &edges) !=
            Gdiplus::Ok)
            return false;
    } else {
        CBitmapDC from(nullptr, m_bitmap.get());
        CBitmapDC to(nullptr, target.get());
        if (!from || !to) return false;
        ::SetStretchBltMode(to.Get(), HALFTONE);
        ::SetBrushOrgEx(to.Get(), 0, 0, nullptr);
        if (!::StretchBlt(to.Get(), 0, 0, cx, cy, from.Get(), 0, 0, m_cx, m_cy, SRCCOPY)) return false;
    }
    m_bitmap = std::move(target);
    m_cx = cx;
    m_cy = cy;
    return true;
}

void CAlphaBitmap::Reset() {
    m_bitmap.reset();
    m_cx = m_cy = 0;
    m_bAlpha = false;
}

void CAlphaBitmap::Draw(HDC hdc, int x, int y, int cx, int cy, int xSrc, int ySrc, int cxSrc, int cySrc) const {
    if (!m_bitmap || cx <= 0 || cy <= 0 || cxSrc <= 0 || cySrc <= 0) return;
    CBitmapDC source(hdc, m_bitmap.get());
    if (!source) return;
    HDC hdcSrc = source.Get();
    if (m_bAlpha) {
        BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
        ::GdiAlphaBlend(hdc, x, y, cx, cy, hdcSrc, xSrc, ySrc, cxSrc, cySrc, blend);
    } else if (cx == cxSrc && cy == cySrc) {
        ::BitBlt(hdc, x, y, cx, cy, hdcSrc, xSrc, ySrc, SRCCOPY);
    } else {
        int nOldMode = ::SetStretchBltMode(hdc, COLORONCOLOR);
        ::StretchBlt(hdc, x, y, cx, cy, hdcSrc, xSrc, ySrc, cxSrc, cySrc, SRCCOPY);
        ::SetStretchBltMode(hdc, nOldMode);
    }
}
