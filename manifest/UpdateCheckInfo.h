#pragma once
// The request of the program manifest comparison.
#include <string>

struct S_UpdateCheckInfo {
    std::string strRootPath;     // installation directory, ending in '\'
    std::string strConfigFile;   // full path of the fetched "UpdateConfig.ini"
    std::string strVersion;      // installed version
    std::string strRegion;       // installed region
    std::string strDigestCache;  // digests kept between runs (DigestCachePath); empty: none
};
