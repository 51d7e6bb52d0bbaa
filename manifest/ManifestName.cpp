#include "manifest/ManifestName.h"

#include <windows.h>

#include <string>

namespace {

const UINT kManifestCodePage = 936;

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// ".." and anything Windows might trim to it ("..."-style runs with trailing
// blanks or dots) would climb out of the directory.
bool IsParentSegment(const std::wstring& strSegment) {
    int nDots = 0;
    for (wchar_t c : strSegment) {
        if (c == L'.') ++nDots;
        else if (c != L' ') return false;
    }
    return nDots >= 2;
}

}  // namespace

bool IsSafeManifestName(const std::string& strName) {
    if (strName.empty() || strName.size() > 0x7FFFFFFF) return false;
    // Work on UTF-16 so that a trail byte 0x5C (as in "誠") is never taken for '\'.
    const int nLen = MultiByteToWideChar(kManifestCodePage, MB_ERR_INVALID_CHARS, strName.data(),
                                         static_cast<int>(strName.size()), nullptr, 0);
    if (nLen <= 0) return false;
    std::wstring strWide(static_cast<size_t>(nLen), L'\0');
    MultiByteToWideChar(kManifestCodePage, MB_ERR_INVALID_CHARS, strName.data(),
                        static_cast<int>(strName.size()), &strWide[0], nLen);

    if (IsSeparator(strWide[0])) return false;
    std::wstring strSegment;
    for (wchar_t c : strWide) {
        if (c < 0x20 || c == 0x7F || c == L':') return false;
        if (IsSeparator(c)) {
            if (IsParentSegment(strSegment)) return false;
            strSegment.clear();
        } else {
            strSegment += c;
        }
    }
    return !IsParentSegment(strSegment);
}
