#include "platform/http/BodyClock.h"

#include <algorithm>

#include "platform/http/AsyncRequest.h"

namespace {

// Minimum progress once the body flows: at least kProgressBytes in every
// kProgressWindowMs. A stalled transfer fails after one window, a trickle
// after one or two.
const DWORD kProgressWindowMs = 20000;
const uint64_t kProgressBytes = 4096;
// A bulk read lasts about a quarter second at the rate seen so far, so that
// one read never outlasts the progress window; smaller ones are not worth it.
const DWORD kBulkReadMs = 250;
const DWORD kMinBulkReadBytes = 16 * 1024;

}  // namespace

DWORD CBodyClock::WindowLeft() const {
    DWORD dwElapsed = GetTickCount() - m_dwWindowStart;
    return dwElapsed < kProgressWindowMs ? kProgressWindowMs - dwElapsed : 0;
}

bool CBodyClock::Received(uint64_t nReceived) {
    if (nReceived - m_nWindowStartBytes >= kProgressBytes) {
        m_nWindowStartBytes = nReceived;
        m_dwWindowStart = GetTickCount();
        return true;
    }
    return WindowLeft() > 0;
}

DWORD CBodyClock::BulkReadSize(uint64_t nReceived, uint64_t nLeft) const {
    DWORD dwElapsed = std::max<DWORD>(GetTickCount() - m_dwStart, 50);  // tick granularity, and caution
    uint64_t nBytes = nReceived * kBulkReadMs / dwElapsed;
    nBytes = std::min<uint64_t>({nBytes, nLeft, kReadBufferBytes});
    return nBytes < kMinBulkReadBytes ? 0 : static_cast<DWORD>(nBytes);
}
