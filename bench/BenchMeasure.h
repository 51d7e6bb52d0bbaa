#pragma once
// Clock and memory figures for the benchmark programs.
#include <windows.h>
#include <psapi.h>

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
