#pragma once
// Throttles a transfer's progress reports and notices a report window that has gone.
#include <windows.h>

#include <cstdint>

class CProgressReporter {
public:
    // Reports go to hWnd as nMsg (bytes so far, total); no window, no reports.
    CProgressReporter(HWND hWnd, unsigned int nMsg) : m_hWnd(hWnd), m_nMsg(nMsg) {}

    bool WindowGone() const { return m_hWnd && !IsWindow(m_hWnd); }
    // At most every 64 KiB or 100 ms, and never a full count. False when the
    // report window no longer exists.
    bool Progress(uint64_t nReceived, uint64_t nTotal);
    // The one (size, size) report of a file in place.
    void Complete(uint64_t nSize);

private:
    HWND m_hWnd;
    unsigned int m_nMsg;
    uint64_t m_nLastReported = 0;
    DWORD m_dwLastReport = GetTickCount();
};
