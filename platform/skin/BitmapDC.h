#pragma once
#include <windows.h>

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
