#pragma once
// Throttles the progress reports of the transfers of one fetch (one or several
// files in flight) and notices a report window that has gone.
#include <windows.h>

#include <cstdint>

class CProgressReporter {
public:
    // Reports go to hWnd as nMsg (bytes so far, total); no window, no reports.
    CProgressReporter(HWND hWnd, unsigned int nMsg) : m_hWnd(hWnd), m_nMsg(nMsg) {}

    bool WindowGone() const { return m_hWnd && !IsWindow(m_hWnd); }
    // A file of nTotal bytes has nReceived of them, cbNew of which just came.
    // Reported at most every 64 KiB (of all files) or 100 ms, and never with a
    // full count. False when the report window no longer exists.
    bool Progress(uint64_t nReceived, uint64_t nTotal, uint64_t cbNew);
    // The one (size, size) report of a file in place.
    void Complete(uint64_t nSize);

private:
    HWND m_hWnd;
    unsigned int m_nMsg;
    uint64_t m_nUnreported = 0;  // bytes received since the last report
    DWORD m_dwLastReport = GetTickCount();
};
