#include "platform/http/BodyClock.h"

#include <algorithm>

#include "platform/http/AsyncRequest.h"

namespace {

// Minimum progress once the body flows: at least kProgressBytes in every
// kProgressWindowMs. A stalled transfer fails after one window, a trickle
// after one or two; the floor (BodyClock.h) catches a slower steady trickle.
const DWORD kProgressWindowMs = 20000;
const uint64_t kProgressBytes = 4096;
// The bytes the floor wants in one window.
const uint64_t kFloorBytes = kFloorBytesPerSecond * kFloorWindowMs / 1000;
// Reads closer together than this share a sample: the floor then counts their
// bytes up to 100 ms early, which makes it stricter by that much at most.
const DWORD kSampleMs = 100;
// A bulk read lasts about a quarter second at the rate seen so far, so that
// one read never outlasts the progress window; smaller ones are not worth it.
const DWORD kBulkReadMs = 250;
const DWORD kMinBulkReadBytes = 16 * 1024;

DWORD Left(DWORD dwDeadline, DWORD dwNow) {
    const LONG nLeft = static_cast<LONG>(dwDeadline - dwNow);
    return nLeft > 0 ? static_cast<DWORD>(nLeft) : 0;
}

}  // namespace

CBodyClock::CBodyClock(DWORD dwNow) : m_dwStart(dwNow), m_dwWindowStart(dwNow) {
    m_samples.push_back({dwNow, 0});
}

DWORD CBodyClock::FloorDeadline() const {
    // Without more bytes the window ending at T counts all bytes so far minus
    // those received by T - kFloorWindowMs: too few once T - kFloorWindowMs
    // reaches the first sample holding more than all bytes less kFloorBytes.
    return m_samples.front().dwTick + kFloorWindowMs;
}

DWORD CBodyClock::WindowLeft(DWORD dwNow) const {
    return std::min(Left(m_dwWindowStart + kProgressWindowMs, dwNow), Left(FloorDeadline(), dwNow));
}

bool CBodyClock::Received(uint64_t nReceived, DWORD dwNow) {
    if (dwNow - m_samples.back().dwTick < kSampleMs) {
        m_samples.back().nBytes = nReceived;
    } else {
        m_samples.push_back({dwNow, nReceived});
    }
    // Samples at or below the floor's threshold no longer decide it (the last never is).
    while (m_samples.front().nBytes + kFloorBytes <= nReceived) m_samples.pop_front();
    if (Left(FloorDeadline(), dwNow) == 0) return false;

    if (nReceived - m_nWindowStartBytes >= kProgressBytes) {
        m_nWindowStartBytes = nReceived;
        m_dwWindowStart = dwNow;
        return true;
    }
    return Left(m_dwWindowStart + kProgressWindowMs, dwNow) > 0;
}

DWORD CBodyClock::BulkReadSize(uint64_t nReceived, uint64_t nLeft) const {
    DWORD dwElapsed = std::max<DWORD>(GetTickCount() - m_dwStart, 50);  // tick granularity, and caution
    uint64_t nBytes = nReceived * kBulkReadMs / dwElapsed;
    nBytes = std::min<uint64_t>({nBytes, nLeft, kReadBufferBytes});
    return nBytes < kMinBulkReadBytes ? 0 : static_cast<DWORD>(nBytes);
}
