#include "platform/http/UrlPath.h"

#include <windows.h>

#include <cstdio>

namespace {

const UINT kNameCodePage = 936;

bool IsUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

// One segment, UTF-16 in, percent-encoded UTF-8 out.
bool AppendEncodedSegment(const wchar_t* pszBegin, const wchar_t* pszEnd, std::string& strOut) {
    int cch = static_cast<int>(pszEnd - pszBegin);
    int cb = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, pszBegin, cch, nullptr, 0, nullptr, nullptr);
    if (cb <= 0) return false;
    std::string strUtf8(cb, '\0');
    WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, pszBegin, cch, &strUtf8[0], cb, nullptr, nullptr);
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
    // Whole name to UTF-16 first: a GBK trail byte may be 0x5C, which is not a separator.
    int cchName = MultiByteToWideChar(kNameCodePage, MB_ERR_INVALID_CHARS, pszRemoteFile, -1, nullptr, 0);
    if (cchName <= 0) return false;
    std::wstring wstrName(cchName, L'\0');
    MultiByteToWideChar(kNameCodePage, MB_ERR_INVALID_CHARS, pszRemoteFile, -1, &wstrName[0], cchName);
    wstrName.resize(cchName - 1);

    char szKind[16];
    std::snprintf(szKind, sizeof(szKind), "/%u", nUpdateType);
    std::string strPath = szKind;
    bool bAnySegment = false;
    const wchar_t* p = wstrName.c_str();
    const wchar_t* pEnd = p + wstrName.size();
    while (p < pEnd) {
        const wchar_t* pSep = p;
        while (pSep < pEnd && *pSep != L'\\' && *pSep != L'/') ++pSep;
        if (pSep > p) {  // empty segments ("a\\b", a leading '\') carry no name
            if (!AppendEncodedSegment(p, pSep, strPath)) return false;
            bAnySegment = true;
        }
        p = pSep + 1;
    }
    if (!bAnySegment) return false;
    strUrlPath = std::move(strPath);
    return true;
}

unsigned short EffectiveServerPort(unsigned short nServerPort) { return nServerPort ? nServerPort : 80; }
