#include "platform/base/Text.h"

#include <windows.h>

#include <climits>
#include <cwchar>

namespace {

const UINT kStoredCodePage = 936;

bool ToWide(UINT nCodePage, DWORD dwFlags, const std::string& strIn, std::wstring& strOut) {
    if (strIn.empty()) {
        strOut.clear();
        return true;
    }
    if (strIn.size() > INT_MAX) return false;
    const int cchIn = static_cast<int>(strIn.size());
    const int cch = MultiByteToWideChar(nCodePage, dwFlags, strIn.data(), cchIn, nullptr, 0);
    if (cch <= 0) return false;
    std::wstring strWide(static_cast<std::size_t>(cch), L'\0');
    if (MultiByteToWideChar(nCodePage, dwFlags, strIn.data(), cchIn, &strWide[0], cch) != cch) return false;
    strOut = std::move(strWide);
    return true;
}

// bStrict: fail on a character the code page cannot spell instead of writing
// its default character. (WC_ERR_INVALID_CHARS exists for UTF-8 only.)
bool FromWide(UINT nCodePage, const wchar_t* pszWide, std::size_t cchWide, bool bStrict, std::string& strOut) {
    if (cchWide == 0) {
        strOut.clear();
        return true;
    }
    if (cchWide > INT_MAX) return false;
    const int cchIn = static_cast<int>(cchWide);
    const bool bUtf8 = nCodePage == CP_UTF8;
    const DWORD dwFlags = bUtf8 ? (bStrict ? WC_ERR_INVALID_CHARS : 0) : WC_NO_BEST_FIT_CHARS;
    BOOL bUsedDefault = FALSE;
    BOOL* pUsedDefault = (bUtf8 || !bStrict) ? nullptr : &bUsedDefault;
    const int cb = WideCharToMultiByte(nCodePage, dwFlags, pszWide, cchIn, nullptr, 0, nullptr, pUsedDefault);
    if (cb <= 0 || bUsedDefault) return false;
    std::string strBytes(static_cast<std::size_t>(cb), '\0');
    if (WideCharToMultiByte(nCodePage, dwFlags, pszWide, cchIn, &strBytes[0], cb, nullptr, pUsedDefault) != cb ||
        bUsedDefault) {
        return false;
    }
    strOut = std::move(strBytes);
    return true;
}

// Every lead byte has its trail byte, and 0xFF appears nowhere. Checked here
// because not every MultiByteToWideChar refuses a lone lead byte inside the
// text (Wine's code page 936 does not, whatever MB_ERR_INVALID_CHARS says).
bool IsWellFormedGbk(const std::string& strGbk) {
    const char* p = strGbk.data();
    const char* pEnd = p + strGbk.size();
    while (p < pEnd) {
        const unsigned char c = static_cast<unsigned char>(*p);
        const std::size_t n = GbkCharSize(p, pEnd);
        if (c == 0xFF || (n == 1 && IsGbkLeadByte(c))) return false;
        p += n;
    }
    return true;
}

}  // namespace

std::wstring Utf8ToWide(const std::string& strUtf8) {
    std::wstring strWide;
    ToWide(CP_UTF8, 0, strUtf8, strWide);
    return strWide;
}

bool Utf8ToWideStrict(const std::string& strUtf8, std::wstring& strWide) {
    return ToWide(CP_UTF8, MB_ERR_INVALID_CHARS, strUtf8, strWide);
}

std::string WideToUtf8(const wchar_t* pszWide, std::size_t cchWide) {
    std::string strUtf8;
    FromWide(CP_UTF8, pszWide, cchWide, false, strUtf8);
    return strUtf8;
}

std::string WideToUtf8(const std::wstring& strWide) { return WideToUtf8(strWide.data(), strWide.size()); }

std::string WideToUtf8(const wchar_t* pszWide) { return pszWide ? WideToUtf8(pszWide, std::wcslen(pszWide)) : std::string(); }

bool SameTextIgnoringCase(const std::string& strA, const std::string& strB) {
    const std::wstring strWideA = Utf8ToWide(strA);
    const std::wstring strWideB = Utf8ToWide(strB);
    if (strWideA.size() > INT_MAX || strWideB.size() > INT_MAX) return false;
    return CompareStringOrdinal(strWideA.c_str(), static_cast<int>(strWideA.size()), strWideB.c_str(),
                                static_cast<int>(strWideB.size()), TRUE) == CSTR_EQUAL;
}

std::wstring FoldedCase(const std::wstring& strWide) {
    if (strWide.empty() || strWide.size() > INT_MAX) return strWide;
    const int cchWide = static_cast<int>(strWide.size());
    const int cch = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, strWide.c_str(), cchWide, nullptr, 0, nullptr,
                                  nullptr, 0);
    if (cch <= 0) return strWide;
    std::wstring strFolded(static_cast<size_t>(cch), L'\0');
    if (LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, strWide.c_str(), cchWide, &strFolded[0], cch, nullptr,
                      nullptr, 0) != cch) {
        return strWide;
    }
    return strFolded;
}

bool GbkToUtf8(const std::string& strGbk, std::string& strUtf8) {
    if (!IsWellFormedGbk(strGbk)) return false;
    std::wstring strWide;
    if (!ToWide(kStoredCodePage, MB_ERR_INVALID_CHARS, strGbk, strWide)) return false;
    return FromWide(CP_UTF8, strWide.data(), strWide.size(), true, strUtf8);
}

bool Utf8ToGbk(const std::string& strUtf8, std::string& strGbk) {
    std::wstring strWide;
    if (!Utf8ToWideStrict(strUtf8, strWide)) return false;
    return FromWide(kStoredCodePage, strWide.data(), strWide.size(), true, strGbk);
}

std::string Utf8ToGbkLossy(const std::string& strUtf8) {
    const std::wstring strWide = Utf8ToWide(strUtf8);
    std::string strGbk;
    FromWide(kStoredCodePage, strWide.data(), strWide.size(), false, strGbk);
    return strGbk;
}
