// The transport on a benchmark load: one CQOVAUpdateIntf fetching files in turn
// (GetRemoteFile, one after the other), or with a connection count, all of
// them through FetchFiles with that many in flight.
//
// Usage: transport_bench <port> <outdir\> <kind> <subdir> <file-format> <count> [connections]
//   fetches <subdir>\<file-format % i> of <kind> for i < count into <outdir\><file>.
// Prints: seconds bytes files peak-private-KiB
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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
    if (argc != 7 && argc != 8) {
        std::fprintf(stderr, "usage: %s <port|https:port> <outdir\\> <kind> <subdir> <file-format> <count> [connections]\n",
                     argv[0]);
        return 2;
    }
    // "<port>" plain HTTP to 127.0.0.1, "https:<port>" TLS to localhost.
    const bool bSecure = std::strncmp(argv[1], "https:", 6) == 0;
    S_UpdateSerivceAddr server;
    server.strServerIP = "127.0.0.1";
    server.nServerPort = static_cast<unsigned short>(std::atoi(argv[1] + (bSecure ? 6 : 0)));
    server.bSecure = bSecure;
    server.strHost = "localhost";
    const std::string strOutDir = argv[2];
    const unsigned int nKind = static_cast<unsigned int>(std::atoi(argv[3]));
    const std::string strSubdir = argv[4];
    const char* pszFormat = argv[5];
    const int nCount = std::atoi(argv[6]);

    CQOVAUpdateIntf transport({server}, false);
    std::vector<std::string> vecRemote, vecLocal;
    for (int i = 0; i < nCount; ++i) {
        char szFile[MAX_PATH];
        std::snprintf(szFile, sizeof(szFile), pszFormat, i);
        vecRemote.push_back(strSubdir + "\\" + szFile);
        vecLocal.push_back(strOutDir + szFile);
    }
    double dStart = BenchNow();
    if (argc == 8) {
        transport.SetConnections(static_cast<unsigned int>(std::atoi(argv[7])));
        const size_t nStored = transport.FetchFiles(nKind, vecRemote, vecLocal, nullptr, 0);
        if (nStored != vecRemote.size()) {
            std::fprintf(stderr, "failed: %s\n", vecRemote[nStored].c_str());
            return 1;
        }
    } else {
        for (size_t i = 0; i < vecRemote.size(); ++i) {
            if (transport.GetRemoteFile(nKind, vecRemote[i].c_str(), vecLocal[i].c_str(), nullptr, 0) == -1) {
                std::fprintf(stderr, "failed: %s\n", vecRemote[i].c_str());
                return 1;
            }
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
