// Figures for bench/md5.sh: CMD5 over one file or over every file of a directory
// tree, or, for comparison, only opening and reading the same files.
//   md5_bench hash FILE | hash-dir DIR | read-dir DIR
// Prints one line: files, bytes, seconds (in-process), MiB/s and peak memory.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/base/Win32Handles.h"
#include "platform/fs/MD5.h"

namespace {

void CollectFiles(const std::string& strDir, std::vector<std::string>& vecFiles) {
    WIN32_FIND_DATAA fd;
    UniqueFind hFind(FindFirstFileA((strDir + "\\*").c_str(), &fd));
    if (!hFind) return;
    do {
        if (std::strcmp(fd.cFileName, ".") == 0 || std::strcmp(fd.cFileName, "..") == 0) continue;
        const std::string strPath = strDir + "\\" + fd.cFileName;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            CollectFiles(strPath, vecFiles);
        } else {
            vecFiles.push_back(strPath);
        }
    } while (FindNextFileA(hFind.get(), &fd));
}

// What CMD5 does minus the hashing: open, read in 1 MiB blocks, close.
long long ReadOnly(const std::string& strPath, std::vector<char>& vecBuffer) {
    UniqueFile hFile(CreateFileA(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!hFile) return -1;
    long long nTotal = 0;
    DWORD dwRead = 0;
    while (ReadFile(hFile.get(), vecBuffer.data(), static_cast<DWORD>(vecBuffer.size()), &dwRead, nullptr) && dwRead) {
        nTotal += dwRead;
        if (dwRead < vecBuffer.size()) break;   // end of file, as CMD5 stops
    }
    return nTotal;
}

long long FileSize(const std::string& strPath) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(strPath.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: md5_bench hash FILE | hash-dir DIR | read-dir DIR\n");
        return 2;
    }
    const std::string strMode = argv[1];
    std::vector<std::string> vecFiles;
    if (strMode == "hash") {
        vecFiles.push_back(argv[2]);
    } else if (strMode == "hash-dir" || strMode == "read-dir") {
        CollectFiles(argv[2], vecFiles);
    } else {
        std::fprintf(stderr, "md5_bench: unknown mode %s\n", argv[1]);
        return 2;
    }

    LARGE_INTEGER liFreq, liStart, liEnd;
    QueryPerformanceFrequency(&liFreq);
    long long nBytes = 0;
    unsigned long nFailed = 0;
    std::string strLastDigest;
    QueryPerformanceCounter(&liStart);
    if (strMode == "read-dir") {
        std::vector<char> vecBuffer(1024 * 1024);
        for (const std::string& strPath : vecFiles) {
            const long long n = ReadOnly(strPath, vecBuffer);
            if (n < 0) ++nFailed; else nBytes += n;
        }
    } else {
        CMD5 md5;
        for (const std::string& strPath : vecFiles) {
            if (md5.GetFileMD5(strPath.c_str(), strLastDigest) != 0) ++nFailed;
        }
        QueryPerformanceCounter(&liEnd);
        for (const std::string& strPath : vecFiles) nBytes += FileSize(strPath);   // outside the timing
    }
    if (strMode == "read-dir") QueryPerformanceCounter(&liEnd);
    const double dSeconds = static_cast<double>(liEnd.QuadPart - liStart.QuadPart) / liFreq.QuadPart;

    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof(pmc);
    GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof(pmc));
    std::printf("files=%lu failed=%lu bytes=%lld seconds=%.3f mibps=%.1f peak_working_set_mib=%.1f "
                "peak_private_mib=%.1f digest=%s\n",
                static_cast<unsigned long>(vecFiles.size()), nFailed, nBytes, dSeconds,
                dSeconds > 0 ? nBytes / 1048576.0 / dSeconds : 0.0, pmc.PeakWorkingSetSize / 1048576.0,
                pmc.PeakPagefileUsage / 1048576.0, strLastDigest.empty() ? "-" : strLastDigest.c_str());
    return nFailed ? 1 : 0;
}
