// The program manifest comparison against the least any comparison must do:
// open and read every installed file once.
//
//   compare_bench DIR    DIR holds install\ and the manifest UpdateConfig.ini for it
//
// Prints the best of several rounds for each, after a warm-up read so that both
// see the same warm cache.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "manifest/CompareProgramFiles.h"
#include "platform/base/Win32Handles.h"
#include "platform/ini/ConfigFile.h"

namespace {

const int kRounds = 5;

double Seconds() {
    static LARGE_INTEGER s_frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(s_frequency.QuadPart);
}

// Keeps the best time of work() in dBest.
template <typename F>
void Time(double& dBest, F work) {
    const double dStart = Seconds();
    work();
    const double dElapsed = Seconds() - dStart;
    if (dElapsed < dBest) dBest = dElapsed;
}

// Bytes read; every file opened, read to its end and closed.
unsigned long long ReadAll(const std::string& strRoot, const std::vector<std::string>& vecNames) {
    static char s_buffer[64 * 1024];
    unsigned long long nTotal = 0;
    for (const std::string& strName : vecNames) {
        const std::string strPath = strRoot + strName;
        UniqueFile file(CreateFileA(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!file) continue;
        DWORD nRead = 0;
        while (ReadFile(file.get(), s_buffer, sizeof(s_buffer), &nRead, nullptr) && nRead > 0) nTotal += nRead;
    }
    return nTotal;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: compare_bench DIR\n");
        return 2;
    }
    const std::string strDir = std::string(argv[1]) + "\\";
    S_UpdateCheckInfo request;
    request.strRootPath = strDir + "install\\";
    request.strConfigFile = strDir + "UpdateConfig.ini";
    request.strVersion = "1";   // older than the manifest's: the files are compared
    request.strRegion = "CN";
    // As a run does: the first comparison finds no cache and writes one.
    request.strDigestCache = strDir + "UpdateState\\Digests.cache";

    std::vector<std::string> vecNames;
    {
        CConfigFile manifest(request.strConfigFile);
        manifest.ReadSection("FILES", vecNames);
    }
    if (vecNames.empty()) {
        std::fprintf(stderr, "compare_bench: no files in %s\n", request.strConfigFile.c_str());
        return 1;
    }

    const unsigned long long nBytes = ReadAll(request.strRootPath, vecNames);   // warm-up
    // Rounds interleave the three measurements, so that load from other
    // processes falls on all of them alike.
    double dRead = 1e30;
    double dParse = 1e30;
    double dCompare = 1e30;
    double dCached = 1e30;
    double dUncached = 1e30;
    size_t nCachedListed = 0;
    size_t nListed = 0;
    int nResult = 0;
    for (int i = 0; i < kRounds; ++i) {
        Time(dRead, [&] { ReadAll(request.strRootPath, vecNames); });
        Time(dParse, [&] { CConfigFile manifest(request.strConfigFile); });
        Time(dUncached, [&] {
            S_UpdateCheckInfo uncached = request;
            uncached.strDigestCache.clear();
            std::vector<S_UpdateFileInfo> vecList;
            CompareProgramFiles(uncached, vecList);
        });
        DeleteFileA(request.strDigestCache.c_str());
        Time(dCompare, [&] {
            std::vector<S_UpdateFileInfo> vecList;
            nResult = CompareProgramFiles(request, vecList);
            nListed = vecList.size();
        });
        Time(dCached, [&] {
            std::vector<S_UpdateFileInfo> vecList;
            CompareProgramFiles(request, vecList);
            nCachedListed = vecList.size();
        });
    }

    std::printf("files          %u (%llu bytes), result %d, listed %u\n", static_cast<unsigned>(vecNames.size()),
                nBytes, nResult, static_cast<unsigned>(nListed));
    std::printf("open+read      %8.1f ms\n", dRead * 1000.0);
    std::printf("compare        %8.1f ms   %.2f x open+read (target <= 1.20)\n", dCompare * 1000.0, dCompare / dRead);
    std::printf("compare, no cache %5.1f ms   %.2f x open+read\n", dUncached * 1000.0, dUncached / dRead);
    std::printf("compare again  %8.1f ms   %.2f x open+read (digests kept by the first), listed %u\n",
                dCached * 1000.0, dCached / dRead, static_cast<unsigned>(nCachedListed));
    std::printf("manifest parse %8.1f ms   %.1f %% of compare (target < 5 %%)\n", dParse * 1000.0,
                100.0 * dParse / dCompare);
    return 0;
}
