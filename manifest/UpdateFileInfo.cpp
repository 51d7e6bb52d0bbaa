#include "manifest/UpdateFileInfo.h"

#include <map>

bool ParseManifestSize(const std::string& strSize, unsigned long long& nBytes) {
    if (strSize.empty() || strSize.size() > 20) return false;
    unsigned long long nValue = 0;
    for (char c : strSize) {
        if (c < '0' || c > '9') return false;
        const unsigned digit = static_cast<unsigned>(c - '0');
        if (nValue > (~0ULL - digit) / 10) return false;  // would overflow: no file is that large
        nValue = nValue * 10 + digit;
    }
    nBytes = nValue;
    return true;
}

std::vector<unsigned long long> ManifestSizesOf(const std::vector<S_UpdateFileInfo>& vecFiles,
                                                const std::vector<std::string>& vecNames) {
    std::map<std::string, const S_UpdateFileInfo*> mapByName;
    for (const S_UpdateFileInfo& info : vecFiles) mapByName.emplace(info.strFileName, &info);
    std::vector<unsigned long long> vecSizes;
    for (const std::string& strName : vecNames) {
        unsigned long long nBytes = kUnknownSize;
        const auto it = mapByName.find(strName);
        if (it == mapByName.end() || !ParseManifestSize(it->second->strSize, nBytes)) nBytes = kUnknownSize;
        vecSizes.push_back(nBytes);
    }
    return vecSizes;
}
