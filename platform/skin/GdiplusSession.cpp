#include "platform/skin/GdiplusSession.h"

#include <windows.h>
#include "platform/skin/GdiplusHeaders.h"

GdiplusSession::GdiplusSession() {
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    m_bStarted = Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok;
    m_token = token;
}

GdiplusSession::~GdiplusSession() {
    if (m_bStarted) Gdiplus::GdiplusShutdown(static_cast<ULONG_PTR>(m_token));
}

bool GdiplusSession::Ensure() {
    static GdiplusSession s_session;  // thread-safe start, shut down at exit
    return s_session.m_bStarted;
}
