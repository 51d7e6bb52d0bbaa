#pragma once
// Screen captures for the UI tests: pixels of a window as it is on the screen,
// read back from the screen DC, and saved as PNG with GDI+'s encoder.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

class ScreenImage {
public:
    ScreenImage() = default;
    ScreenImage(int cx, int cy) : m_cx(cx), m_cy(cy), m_pixels(static_cast<size_t>(cx) * cy, 0) {}

    int Width() const { return m_cx; }
    int Height() const { return m_cy; }
    bool IsEmpty() const { return m_pixels.empty(); }
    // 0x00RRGGBB; 0 outside the image.
    uint32_t At(int x, int y) const;
    COLORREF ColorAt(int x, int y) const;
    uint32_t* Data() { return m_pixels.data(); }
    const uint32_t* Data() const { return m_pixels.data(); }

    // Writes a PNG file (UTF-8 path). False on failure.
    bool SavePng(const std::string& strPath) const;

private:
    int m_cx = 0;
    int m_cy = 0;
    std::vector<uint32_t> m_pixels;  // top-down rows
};

// Pixels of a screen rectangle as shown now; empty on failure.
ScreenImage CaptureScreenRect(const RECT& rcScreen);
// The window's rectangle on the screen (the window should be on-screen and on top).
ScreenImage CaptureWindow(HWND hWnd);
// The window's client area as it paints itself (WM_PRINTCLIENT), shown or not.
ScreenImage PrintClient(HWND hWnd);
// build\screenshots\ beside build\tests\ (created when missing), ending in '\'.
std::string ScreenshotDir();
// Captures hWnd into ScreenshotDir() + strName + ".png". False on failure.
bool SaveWindowScreenshot(HWND hWnd, const std::string& strName);
