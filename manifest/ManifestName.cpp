#include "manifest/ManifestName.h"

#include <windows.h>

#include <string>

#include "platform/base/Text.h"
#include "platform/ini/IniDocument.h"

namespace {

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

// "NUL", "com1.txt", "CON .dat": Windows opens the device, whatever directory
// precedes it, so such a name would write to a port or the console.
bool IsDeviceSegment(const std::wstring& strSegment) {
    std::wstring strBase = strSegment.substr(0, strSegment.find(L'.'));
    while (!strBase.empty() && strBase.back() == L' ') strBase.pop_back();
    for (wchar_t& c : strBase) {
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    }
    static const wchar_t* const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t* pszDevice : kDevices) {
        if (strBase == pszDevice) return true;
    }
    return strBase.size() == 4 && (strBase.compare(0, 3, L"COM") == 0 || strBase.compare(0, 3, L"LPT") == 0) &&
           strBase[3] >= L'1' && strBase[3] <= L'9';
}

// "a.dll." and "a.dll " open "a.dll": Windows trims them, so two names of a
// manifest would be one file.
bool HasTrimmedEnd(const std::wstring& strSegment) {
    return !strSegment.empty() && (strSegment.back() == L'.' || strSegment.back() == L' ');
}

// "PROGRA~1", "a~1.dll": the short alias of some other name, which may be a
// file of the same manifest under its long name (or one outside it).
bool IsShortAlias(const std::wstring& strSegment) {
    const size_t nDot = strSegment.find(L'.');
    const std::wstring strBase = strSegment.substr(0, nDot);
    if (nDot != std::wstring::npos) {
        const std::wstring strExt = strSegment.substr(nDot + 1);
        if (strExt.size() > 3 || strExt.find(L'.') != std::wstring::npos) return false;
    }
    const size_t nTilde = strBase.find(L'~');
    if (nTilde == std::wstring::npos || nTilde == 0 || nTilde > 6 || nTilde + 1 == strBase.size()) return false;
    for (size_t i = nTilde + 1; i < strBase.size(); ++i) {
        if (strBase[i] < L'0' || strBase[i] > L'9') return false;
    }
    return true;
}

bool IsBadSegment(const std::wstring& strSegment) {
    return IsParentSegment(strSegment) || IsDeviceSegment(strSegment) || HasTrimmedEnd(strSegment) ||
           IsShortAlias(strSegment);
}

}  // namespace

bool IsSafeManifestName(const std::string& strName) {
    if (strName.empty() || strName.size() > 0x7FFFFFFF) return false;
    // A manifest is GBK by format: a name it cannot hold is no manifest name.
    std::string strStored;
    if (!Utf8ToGbk(strName, strStored)) return false;
    std::wstring strWide;
    if (!Utf8ToWideStrict(strName, strWide) || strWide.empty()) return false;

    if (IsSeparator(strWide[0])) return false;
    std::wstring strSegment;
    for (wchar_t c : strWide) {
        if (c < 0x20 || c == 0x7F || c == L':') return false;
        if (IsSeparator(c)) {
            if (IsBadSegment(strSegment)) return false;
            strSegment.clear();
        } else {
            strSegment += c;
        }
    }
    return !IsBadSegment(strSegment);
}

bool IsSafeUpdateName(const std::string& strName) {
    if (strName.empty()) return true;
    if (!IsSafeManifestName(strName)) return false;
    // The name is the set's key in Config.dat [Signature]: one the INI form
    // would read back as another key ('=', a leading ';' or '[', blanks at
    // either end) leaves the set without replay protection.
    std::string strStored;
    if (!Utf8ToGbk(strName, strStored)) return false;
    // IsStorable trims what it is given, so a leading blank is looked for here.
    return strStored[0] != ' ' && IniDocument::IsStorable("Signature", strStored, "2026-12-09T00:00:00Z");
}
