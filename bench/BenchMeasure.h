#pragma once
// Clock and memory figures for the benchmark programs.
#include <windows.h>
#include <psapi.h>

#include <atomic>
#include <thread>

// Seconds on the performance counter.
inline double BenchNow() {
    LARGE_INTEGER n, f;
    QueryPerformanceCounter(&n);
    QueryPerformanceFrequency(&f);
    return static_cast<double>(n.QuadPart) / static_cast<double>(f.QuadPart);
}

// Peak private (committed) memory of this process so far, in KiB.
inline unsigned long long BenchPeakPrivateKiB() {
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof(pmc);
    GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof(pmc));
    return pmc.PeakPagefileUsage / 1024;
}

// Under Wine the peak above is the commit at the time of the call, not the
// peak: this samples the commit every millisecond on a thread and keeps the
// largest seen (also the reported peak, which is right on Windows).
class BenchPrivateSampler {
public:
    BenchPrivateSampler() : m_thread([this] { Run(); }) {}
    ~BenchPrivateSampler() { Stop(); }
    BenchPrivateSampler(const BenchPrivateSampler&) = delete;
    BenchPrivateSampler& operator=(const BenchPrivateSampler&) = delete;
    // Stops sampling; the peak in KiB.
    unsigned long long Stop() {
        m_bStop = true;
        if (m_thread.joinable()) m_thread.join();
        Sample();
        return m_peakKiB;
    }

private:
    void Sample() {
        PROCESS_MEMORY_COUNTERS pmc = {};
        pmc.cb = sizeof(pmc);
        if (!GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof(pmc))) return;
        const unsigned long long kib = (pmc.PeakPagefileUsage > pmc.PagefileUsage ? pmc.PeakPagefileUsage
                                                                                : pmc.PagefileUsage) / 1024;
        if (kib > m_peakKiB) m_peakKiB = kib;
    }
    void Run() {
        while (!m_bStop) {
            Sample();
            Sleep(1);
        }
    }
    std::atomic<bool> m_bStop{false};
    unsigned long long m_peakKiB = 0;   // written by the thread until Stop joins it
    std::thread m_thread;
};
