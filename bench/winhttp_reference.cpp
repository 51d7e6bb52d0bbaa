// The yardstick for the transport: a bare synchronous WinHTTP download loop with
// one session, one connection and a 1 MiB buffer, each body written to a file.
//
// Usage: winhttp_reference <port> <outdir\> <kind> <subdir> <file-format> <count>
//   fetches /<kind>/<subdir>/<file-format % i> for i < count into <outdir\><file>.
// Prints: seconds bytes files peak-private-KiB
#include <windows.h>
#include <winhttp.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "bench/BenchMeasure.h"
#include "platform/base/Win32Handles.h"
#include "platform/base/WinHttpHandle.h"

namespace {

// Returns the body's size, or -1.
long long Fetch(HINTERNET hConnect, const std::wstring& wstrPath, const std::string& strLocal, char* pBuffer,
                DWORD cbBuffer) {
    UniqueInternet hRequest(WinHttpOpenRequest(hConnect, L"GET", wstrPath.c_str(), nullptr, WINHTTP_NO_REFERER,
                                               WINHTTP_DEFAULT_ACCEPT_TYPES, 0));
    if (!hRequest || !WinHttpSendRequest(hRequest.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA,
                                         0, 0, 0) ||
        !WinHttpReceiveResponse(hRequest.get(), nullptr))
        return -1;
    UniqueFile hFile(CreateFileA(strLocal.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                 nullptr));
    if (!hFile) return -1;
    long long nTotal = 0;
    for (;;) {
        DWORD cbRead = 0, cbWritten = 0;
        if (!WinHttpReadData(hRequest.get(), pBuffer, cbBuffer, &cbRead)) return -1;
        if (cbRead == 0) return nTotal;
        if (!WriteFile(hFile.get(), pBuffer, cbRead, &cbWritten, nullptr) || cbWritten != cbRead) return -1;
        nTotal += cbRead;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 7) {
        std::fprintf(stderr, "usage: %s <port> <outdir\\> <kind> <subdir> <file-format> <count>\n", argv[0]);
        return 2;
    }
    const unsigned short nPort = static_cast<unsigned short>(std::atoi(argv[1]));
    const std::string strOutDir = argv[2];
    const std::string strPrefix = std::string("/") + argv[3] + "/" + argv[4] + "/";
    const char* pszFormat = argv[5];
    const int nCount = std::atoi(argv[6]);

    UniqueInternet hSession(WinHttpOpen(L"reference", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                        WINHTTP_NO_PROXY_BYPASS, 0));
    UniqueInternet hConnect(hSession ? WinHttpConnect(hSession.get(), L"127.0.0.1", nPort, 0) : nullptr);
    if (!hConnect) return 1;
    const DWORD cbBuffer = 1024 * 1024;
    std::unique_ptr<char[]> pBuffer(new char[cbBuffer]);

    double dStart = BenchNow();
    unsigned long long nBytes = 0;
    for (int i = 0; i < nCount; ++i) {
        char szFile[MAX_PATH];
        std::snprintf(szFile, sizeof(szFile), pszFormat, i);
        std::string strPath = strPrefix + szFile;  // ASCII names only
        long long n = Fetch(hConnect.get(), std::wstring(strPath.begin(), strPath.end()), strOutDir + szFile,
                            pBuffer.get(), cbBuffer);
        if (n < 0) {
            std::fprintf(stderr, "failed: %s\n", strPath.c_str());
            return 1;
        }
        nBytes += static_cast<unsigned long long>(n);
    }
    std::printf("%.3f %llu %d %llu\n", BenchNow() - dStart, nBytes, nCount, BenchPeakPrivateKiB());
    return 0;
}
