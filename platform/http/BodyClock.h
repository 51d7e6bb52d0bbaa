#pragma once
// The minimum-progress rule of a body transfer and the rate that sizes bulk reads.
#include <windows.h>

#include <cstdint>

class CBodyClock {
public:
    // Time left for the current window to collect its bytes.
    DWORD WindowLeft() const;
    // False when a window ran out with too few bytes: a trickle.
    bool Received(uint64_t nReceived);
    // 0 while the stream is too slow for bulk reads to pay.
    DWORD BulkReadSize(uint64_t nReceived, uint64_t nLeft) const;

private:
    DWORD m_dwStart = GetTickCount();
    DWORD m_dwWindowStart = m_dwStart;
    uint64_t m_nWindowStartBytes = 0;
};
