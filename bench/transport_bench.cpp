// The transport on a benchmark load: one CQOVAUpdateIntf fetching files in turn.
//
// Usage: transport_bench <port> <outdir\> <kind> <subdir> <file-format> <count>
//   fetches <subdir>\<file-format % i> of <kind> for i < count into <outdir\><file>.
// Prints: seconds bytes files peak-private-KiB
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/BenchMeasure.h"
#include "platform/http/UpdateIntf.h"

namespace {

unsigned long long FileSize(const std::string& strPath) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(strPath.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 7) {
        std::fprintf(stderr, "usage: %s <port> <outdir\\> <kind> <subdir> <file-format> <count>\n", argv[0]);
        return 2;
    }
    S_UpdateSerivceAddr server;
    server.strServerIP = "127.0.0.1";
    server.nServerPort = static_cast<unsigned short>(std::atoi(argv[1]));
    const std::string strOutDir = argv[2];
    const unsigned int nKind = static_cast<unsigned int>(std::atoi(argv[3]));
    const std::string strSubdir = argv[4];
    const char* pszFormat = argv[5];
    const int nCount = std::atoi(argv[6]);

    CQOVAUpdateIntf transport({server}, false);
    double dStart = BenchNow();
    for (int i = 0; i < nCount; ++i) {
        char szFile[MAX_PATH];
        std::snprintf(szFile, sizeof(szFile), pszFormat, i);
        if (transport.GetRemoteFile(nKind, (strSubdir + "\\" + szFile).c_str(), (strOutDir + szFile).c_str(),
                                    nullptr, 0) == -1) {
            std::fprintf(stderr, "failed: %s\\%s\n", strSubdir.c_str(), szFile);
            return 1;
        }
    }
    double dSeconds = BenchNow() - dStart;

    unsigned long long nBytes = 0;  // counted after the clock stops, as the reference counts reads
    for (int i = 0; i < nCount; ++i) {
        char szFile[MAX_PATH];
        std::snprintf(szFile, sizeof(szFile), pszFormat, i);
        nBytes += FileSize(strOutDir + szFile);
    }
    std::printf("%.3f %llu %d %llu\n", dSeconds, nBytes, nCount, BenchPeakPrivateKiB());
    return 0;
}
