#include "platform/http/ProgressReporter.h"

namespace {

// No more often than every 64 KiB or every 100 ms.
const uint64_t kReportBytes = 64 * 1024;
const DWORD kReportIntervalMs = 100;

}  // namespace

bool CProgressReporter::Progress(uint64_t nReceived, uint64_t nTotal, uint64_t cbNew) {
    m_nUnreported += cbNew;
    if (!m_hWnd || nReceived >= nTotal) return true;  // only the final report may show a full count
    DWORD dwNow = GetTickCount();
    if (m_nUnreported < kReportBytes && dwNow - m_dwLastReport < kReportIntervalMs) return true;
    if (!IsWindow(m_hWnd)) return false;
    SendMessageW(m_hWnd, m_nMsg, static_cast<WPARAM>(nReceived), static_cast<LPARAM>(nTotal));
    m_nUnreported = 0;
    m_dwLastReport = dwNow;
    return true;
}

void CProgressReporter::Complete(uint64_t nSize) {
    if (m_hWnd && IsWindow(m_hWnd))
        SendMessageW(m_hWnd, m_nMsg, static_cast<WPARAM>(nSize), static_cast<LPARAM>(nSize));
}
