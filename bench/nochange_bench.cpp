// The files' part of a data-set run that finds nothing new, beside the least
// any run must do: open every file of the manifest and ask for its size and times.
//
//   nochange_bench compare MANIFEST ROOT CACHE   CompareDataFiles with the digest cache
//   nochange_bench stat MANIFEST ROOT            open + size and times per file
//
// Prints "seconds=<s> files=<n> listed=<n>".
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "BenchMeasure.h"
#include "manifest/CompareDataFiles.h"
#include "platform/base/Win32Handles.h"
#include "platform/ini/ConfigFile.h"

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: nochange_bench compare MANIFEST ROOT CACHE | stat MANIFEST ROOT\n");
        return 2;
    }
    const std::string strMode = argv[1];
    const std::string strManifest = argv[2];
    const std::string strRoot = std::string(argv[3]) + "\\";
    std::vector<std::string> vecNames;
    CConfigFile(strManifest).ReadSections(vecNames);

    size_t nListed = 0;
    const double dStart = BenchNow();
    if (strMode == "compare" && argc == 5) {
        std::vector<S_UpdateFileInfo> vecFiles;
        CompareDataFiles(strManifest, strRoot, vecFiles, argv[4]);
        nListed = vecFiles.size();
    } else if (strMode == "stat") {
        CConfigFile manifest(strManifest);   // parsed, as the comparison does
        for (const std::string& strName : vecNames) {
            const std::string strPath = strRoot + strName;
            UniqueFile hFile(CreateFileA(strPath.c_str(), GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                         OPEN_EXISTING, 0, nullptr));
            // Size and times; GetFileInformationByHandle would add a volume query
            // of about a millisecond per file under Wine.
            FILE_BASIC_INFO basic;
            FILE_STANDARD_INFO standard;
            if (!hFile || !GetFileInformationByHandleEx(hFile.get(), FileBasicInfo, &basic, sizeof(basic)) ||
                !GetFileInformationByHandleEx(hFile.get(), FileStandardInfo, &standard, sizeof(standard))) {
                ++nListed;
            }
        }
    } else {
        std::fprintf(stderr, "nochange_bench: unknown mode %s\n", strMode.c_str());
        return 2;
    }
    std::printf("seconds=%.4f files=%u listed=%u\n", BenchNow() - dStart, static_cast<unsigned>(vecNames.size()),
                static_cast<unsigned>(nListed));
    return 0;
}
