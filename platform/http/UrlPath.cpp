#include "platform/http/UrlPath.h"

#include <cstdio>

#include "platform/base/Text.h"

namespace {

bool IsUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

// One segment, UTF-8 in, percent-encoded out.
bool AppendEncodedSegment(const std::string& strUtf8, std::string& strOut) {
    if (strUtf8 == "." || strUtf8 == "..") return false;

    static const char kHex[] = "0123456789ABCDEF";
    strOut += '/';
    for (unsigned char c : strUtf8) {
        if (IsUnreserved(c)) {
            strOut += static_cast<char>(c);
        } else {
            strOut += '%';
            strOut += kHex[c >> 4];
            strOut += kHex[c & 0x0F];
        }
    }
    return true;
}

}  // namespace

bool BuildRemoteUrlPath(unsigned int nUpdateType, const char* pszRemoteFile, std::string& strUrlPath) {
    if (!pszRemoteFile || !*pszRemoteFile) return false;
    // The name is UTF-8 (a byte '\' is always a separator); the servers' names
    // are those a GBK manifest can hold.
    const std::string strName = pszRemoteFile;
    std::string strStored;
    if (!Utf8ToGbk(strName, strStored)) return false;

    char szKind[16];
    std::snprintf(szKind, sizeof(szKind), "/%u", nUpdateType);
    std::string strPath = szKind;
    bool bAnySegment = false;
    std::size_t nBegin = 0;
    while (nBegin < strName.size()) {
        std::size_t nSep = strName.find_first_of("\\/", nBegin);
        if (nSep == std::string::npos) nSep = strName.size();
        if (nSep > nBegin) {  // empty segments ("a\\b", a leading '\') carry no name
            if (!AppendEncodedSegment(strName.substr(nBegin, nSep - nBegin), strPath)) return false;
            bAnySegment = true;
        }
        nBegin = nSep + 1;
    }
    if (!bAnySegment) return false;
    strUrlPath = std::move(strPath);
    return true;
}

unsigned short EffectiveServerPort(unsigned short nServerPort, bool bSecure) {
    return nServerPort ? nServerPort : bSecure ? 443 : 80;
}
