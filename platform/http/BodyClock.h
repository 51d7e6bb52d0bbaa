#pragma once
// The minimum-progress rules of a body transfer and the rate that sizes bulk reads.
#include <windows.h>

#include <cstdint>
#include <deque>

// The floor: a body must average at least kFloorBytesPerSecond over any
// kFloorWindowMs once it flows, else the transfer counts as stalled. A
// server that trickles just enough for the short rule (4 KiB every 20 s)
// would otherwise hold a run, and the single-instance lock, for days.
constexpr uint64_t kFloorBytesPerSecond = 1024;
constexpr DWORD kFloorWindowMs = 60000;

class CBodyClock {
public:
    // The clock starts when the body begins to flow (dwNow: a tick count).
    CBodyClock() : CBodyClock(GetTickCount()) {}
    explicit CBodyClock(DWORD dwNow);

    // Time left before the rules fail if no further byte arrives.
    DWORD WindowLeft() const { return WindowLeft(GetTickCount()); }
    DWORD WindowLeft(DWORD dwNow) const;
    // nReceived body bytes so far. False when a rule failed: a stall or a trickle.
    bool Received(uint64_t nReceived) { return Received(nReceived, GetTickCount()); }
    bool Received(uint64_t nReceived, DWORD dwNow);
    // 0 while the stream is too slow for bulk reads to pay.
    DWORD BulkReadSize(uint64_t nReceived, uint64_t nLeft) const;

private:
    struct S_Sample {
        DWORD dwTick;
        uint64_t nBytes;   // received by then
    };
    // When the floor fails if nothing more comes: kFloorWindowMs after the
    // first sample the window would have to count.
    DWORD FloorDeadline() const;

    DWORD m_dwStart;
    DWORD m_dwWindowStart;
    uint64_t m_nWindowStartBytes = 0;
    // From the oldest sample the floor still needs to the latest; the first
    // is the start (no bytes). At most one per kSampleMs.
    std::deque<S_Sample> m_samples;
};
