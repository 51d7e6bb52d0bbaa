#pragma once
// GDI+ is started once per process, by the first caller that needs it, and
// shut down when the process exits. Callers keep no GDI+ objects beyond their
// own scope (images are turned into GDI bitmaps at once), so the shutdown at
// exit never outlives an image.
class GdiplusSession {
public:
    // True when GDI+ is running.
    static bool Ensure();

private:
    GdiplusSession();
    ~GdiplusSession();
    GdiplusSession(const GdiplusSession&) = delete;
    GdiplusSession& operator=(const GdiplusSession&) = delete;

    unsigned long long m_token = 0;  // ULONG_PTR
    bool m_bStarted = false;
};
