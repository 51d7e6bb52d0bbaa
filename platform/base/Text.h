#pragma once
// The one place where text changes form. Inside the program every path and
// text is UTF-8 in std::string. Windows is called with UTF-16 (the W
// functions), never through the system's code page. The stored formats
// (manifests, Config.dat, UserConfig.dat, UpdateRecord.dat) are GBK, code
// page 936 by format, whatever the system's code page is.
#include <cstddef>
#include <string>

// UTF-8 <-> UTF-16 for Windows calls. Our own text is valid UTF-8; an invalid
// sequence becomes U+FFFD (and a lone surrogate from Windows the same).
std::wstring Utf8ToWide(const std::string& strUtf8);
std::string WideToUtf8(const wchar_t* pszWide, std::size_t cchWide);
std::string WideToUtf8(const std::wstring& strWide);
std::string WideToUtf8(const wchar_t* pszWide);   // NUL-terminated; nullptr gives ""
// Strict: false for text that is not valid UTF-8.
bool Utf8ToWideStrict(const std::string& strUtf8, std::wstring& strWide);
// Text known to be ASCII (addresses, URL paths, HTTP validators), one wide
// character per byte without a conversion call.
inline std::wstring WidenAscii(const std::string& str) { return std::wstring(str.begin(), str.end()); }

// Equal but for letter case, as Windows compares file names (ordinal, every
// script's case pairs, independent of the system's locale).
bool SameTextIgnoringCase(const std::string& strA, const std::string& strB);
// Upper case by the invariant table, as NTFS folds names: one spelling of a
// name or path for every letter case (a set's key, a lock's name). The text
// as it was when Windows cannot map it.
std::wstring FoldedCase(const std::wstring& strWide);

// GBK (code page 936) <-> UTF-8 for the stored formats. Strict both ways: false,
// and the output untouched, for bytes that are not valid GBK or a character that
// GBK cannot spell (䶮, Ş); nothing is ever replaced by '?'.
bool GbkToUtf8(const std::string& strGbk, std::string& strUtf8);
bool Utf8ToGbk(const std::string& strUtf8, std::string& strGbk);
// The same for text on its way out where a '?' is better than nothing (a
// message printed to a redirected output): never fails.
std::string Utf8ToGbkLossy(const std::string& strUtf8);

// The GBK splitter: the length in bytes (1 or 2) of the character at p, pEnd
// the end of the text. A lead byte 0x81-0xFE takes the next byte as its trail
// when that is 0x40-0xFE but not 0x7F, so the 0x5C trail byte of 誠 (D5 5C)
// or 診 (D4 5C) is never a '\'; a lead byte without a valid trail stands alone
// and never swallows a following '\', '=' or line end. Free of Windows calls.
inline std::size_t GbkCharSize(const char* p, const char* pEnd) {
    const unsigned char c = static_cast<unsigned char>(p[0]);
    if (c < 0x81 || c > 0xFE || p + 1 >= pEnd) return 1;
    const unsigned char t = static_cast<unsigned char>(p[1]);
    return (t >= 0x40 && t <= 0xFE && t != 0x7F) ? 2 : 1;
}
inline bool IsGbkLeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }
