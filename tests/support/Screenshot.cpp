#include "support/Screenshot.h"

#include <algorithm>

#include "platform/base/Text.h"
#include "platform/base/Win32Handles.h"
#include "platform/skin/AlphaBitmap.h"
#include "platform/skin/BitmapDC.h"
#include "platform/skin/GdiplusHeaders.h"
#include "platform/skin/GdiplusSession.h"
#include "platform/skin/MemoryCanvas.h"
#include "support/TempDir.h"

uint32_t ScreenImage::At(int x, int y) const {
    if (x < 0 || y < 0 || x >= m_cx || y >= m_cy) return 0;
    return m_pixels[static_cast<size_t>(y) * m_cx + x] & 0x00FFFFFF;
}

COLORREF ScreenImage::ColorAt(int x, int y) const {
    uint32_t p = At(x, y);
    return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
}

bool ScreenImage::SavePng(const std::string& strPath) const {
    if (IsEmpty() || !GdiplusSession::Ensure()) return false;
    // GDI+'s PNG encoder.
    static const CLSID kPngEncoder = {0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};
    const std::wstring wstrPath = Utf8ToWide(strPath);
    Gdiplus::Bitmap bitmap(m_cx, m_cy, m_cx * 4, PixelFormat32bppRGB,
                           reinterpret_cast<BYTE*>(const_cast<uint32_t*>(m_pixels.data())));
    return bitmap.Save(wstrPath.c_str(), &kPngEncoder, nullptr) == Gdiplus::Ok;
}

ScreenImage CaptureScreenRect(const RECT& rcScreen) {
    int cx = rcScreen.right - rcScreen.left;
    int cy = rcScreen.bottom - rcScreen.top;
    if (cx <= 0 || cy <= 0) return ScreenImage();
    ::GdiFlush();
    HDC hdcScreen = ::GetDC(nullptr);
    if (!hdcScreen) return ScreenImage();
    ScreenImage image(cx, cy);
    void* pBits = nullptr;
    UniqueGdiObject dib(CreateTopDownDib32(hdcScreen, cx, cy, &pBits));
    bool bOk = false;
    if (dib) {
        CBitmapDC dc(hdcScreen, dib.get());
        bOk = dc && ::BitBlt(dc.Get(), 0, 0, cx, cy, hdcScreen, rcScreen.left, rcScreen.top, SRCCOPY);
        ::GdiFlush();
        if (bOk) std::copy_n(static_cast<const uint32_t*>(pBits), static_cast<size_t>(cx) * cy, image.Data());
    }
    ::ReleaseDC(nullptr, hdcScreen);
    return bOk ? image : ScreenImage();
}

ScreenImage CaptureWindow(HWND hWnd) {
    RECT rc;
    if (!::GetWindowRect(hWnd, &rc)) return ScreenImage();
    return CaptureScreenRect(rc);
}

ScreenImage PrintClient(HWND hWnd) {
    RECT rc;
    if (!::GetClientRect(hWnd, &rc) || rc.right <= 0 || rc.bottom <= 0) return ScreenImage();
    ScreenImage image(rc.right, rc.bottom);
    HDC hdcScreen = ::GetDC(hWnd);
    CMemoryCanvas canvas(hdcScreen, rc.right, rc.bottom);
    ::ReleaseDC(hWnd, hdcScreen);
    ::SendMessageA(hWnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.Dc()), PRF_CLIENT);
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), rc.right, -rc.bottom, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    HBITMAP hBitmap = static_cast<HBITMAP>(::GetCurrentObject(canvas.Dc(), OBJ_BITMAP));
    ::GetDIBits(canvas.Dc(), hBitmap, 0, rc.bottom, image.Data(), &info, DIB_RGB_COLORS);
    return image;
}

std::string ScreenshotDir() {
    // A run under another locale keeps its pictures apart (screenshots-en_US\),
    // so that they can be compared with the zh_CN ones.
    wchar_t szSuffix[32] = {};
    const DWORD cch = ::GetEnvironmentVariableW(L"QOVA_SCREENSHOT_SUFFIX", szSuffix, 32);
    const std::string strSuffix = cch > 0 && cch < 32 ? WideToUtf8(szSuffix) : std::string();
    std::string strDir = TestProgramDir() + "..\\screenshots" + strSuffix + "\\";
    ::CreateDirectoryW(Utf8ToWide(strDir).c_str(), nullptr);  // best effort: scripts/test normally made it
    return strDir;
}

bool SaveWindowScreenshot(HWND hWnd, const std::string& strName) {
    ScreenImage image = CaptureWindow(hWnd);
    return image.SavePng(ScreenshotDir() + strName + ".png");
}
