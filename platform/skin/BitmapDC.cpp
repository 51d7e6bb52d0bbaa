#include "platform/skin/BitmapDC.h"

CBitmapDC::CBitmapDC(HDC hdcCompatible, HGDIOBJ hBitmap) {
    if (!hBitmap) return;
    m_hdc = ::CreateCompatibleDC(hdcCompatible);
    if (m_hdc) m_hOld = ::SelectObject(m_hdc, hBitmap);
}

CBitmapDC::~CBitmapDC() {
    if (!m_hdc) return;
    if (m_hOld) ::SelectObject(m_hdc, m_hOld);
    ::DeleteDC(m_hdc);
}
