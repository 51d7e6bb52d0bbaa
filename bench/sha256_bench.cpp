// Figures for bench/sha256.sh: CSha256 over one file.
//   sha256_bench FILE
// Prints one line: bytes, seconds (in-process), MiB/s, peak memory and the digest.
#include <windows.h>

#include <cstdio>
#include <string>

#include "bench/BenchMeasure.h"
#include "platform/fs/Sha256.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: sha256_bench FILE\n");
        return 2;
    }
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(argv[1], GetFileExInfoStandard, &data)) {
        std::fprintf(stderr, "sha256_bench: cannot find %s\n", argv[1]);
        return 1;
    }
    const long long nBytes = (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;

    CSha256 sha256;
    std::string strDigest;
    const double dStart = BenchNow();
    const long nResult = sha256.GetFileSHA256(argv[1], strDigest);
    const double dSeconds = BenchNow() - dStart;
    if (nResult != 0) {
        std::fprintf(stderr, "sha256_bench: cannot read %s\n", argv[1]);
        return 1;
    }
    std::printf("bytes=%lld seconds=%.3f mibps=%.1f peak_private_mib=%.1f digest=%s\n", nBytes, dSeconds,
                dSeconds > 0 ? nBytes / 1048576.0 / dSeconds : 0.0, BenchPeakPrivateKiB() / 1024.0,
                strDigest.c_str());
    return 0;
}
