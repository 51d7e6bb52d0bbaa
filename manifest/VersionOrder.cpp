#include "manifest/VersionOrder.h"

#include <algorithm>

bool IsVersionGreater(const std::string& strA, const std::string& strB) {
    const size_t nCommon = std::min(strA.size(), strB.size());
    for (size_t i = 0; i < nCommon; ++i) {
        const unsigned char a = static_cast<unsigned char>(strA[i]);
        const unsigned char b = static_cast<unsigned char>(strB[i]);
        if (a != b) return a > b;
    }
    return strA.size() > strB.size();
}
