#include "manifest/ReleaseNames.h"

#include <cstring>

namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameAscii(const char* pszA, const char* pszB, size_t nLen) {
    for (size_t i = 0; i < nLen; ++i) {
        if (Lower(pszA[i]) != Lower(pszB[i])) return false;
    }
    return true;
}

bool EqualsName(const std::string& strName, const char* pszName) {
    return strName.size() == std::strlen(pszName) && SameAscii(strName.c_str(), pszName, strName.size());
}

bool EndsWith(const std::string& strName, const char* pszSuffix) {
    const size_t nLen = std::strlen(pszSuffix);
    return strName.size() >= nLen && SameAscii(strName.c_str() + strName.size() - nLen, pszSuffix, nLen);
}

// The last segment; UTF-8 never has a separator byte inside a character.
std::string LastSegment(const std::string& strName) {
    const size_t nSeparator = strName.find_last_of("\\/");
    return nSeparator == std::string::npos ? strName : strName.substr(nSeparator + 1);
}

}  // namespace

bool IsClientStateName(const std::string& strRelativeName) {
    if (EqualsName(strRelativeName, "Config.dat") || EqualsName(strRelativeName, "UserConfig.dat") ||
        EqualsName(strRelativeName, "UpdateRecord.dat")) {
        return true;
    }
    // The staging directories live below UPDATE\, the journal, the log and the
    // kept manifests below UpdateState\.
    for (const char* pszDir : {"update", "updatestate"}) {
        const size_t nLen = std::strlen(pszDir);
        if (strRelativeName.size() > nLen + 1 && SameAscii(strRelativeName.c_str(), pszDir, nLen) &&
            (strRelativeName[nLen] == '\\' || strRelativeName[nLen] == '/')) {
            return true;
        }
    }
    return EndsWith(strRelativeName, ".bak") || EndsWith(strRelativeName, ".part") ||
           EndsWith(strRelativeName, ".part.tag");
}

const char* ReleaseLeftOutReason(const std::string& strRelativeName) {
    if (IsClientStateName(strRelativeName)) return "the client's own state";
    const std::string strLast = LastSegment(strRelativeName);
    if (EqualsName(strLast, "Thumbs.db") || EqualsName(strLast, "desktop.ini")) return "a file Windows Explorer leaves";
    if (EndsWith(strLast, ".sig")) return "a signature, published beside its manifest";
    return nullptr;
}

namespace {

char Folded(char c) { return c == '/' ? '\\' : Lower(c); }

// Length of the UTF-8 character at p (1 for a stray byte).
size_t CharLength(const char* p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    size_t n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    for (size_t i = 1; i < n; ++i) {
        if ((static_cast<unsigned char>(p[i]) & 0xC0) != 0x80) return 1;
    }
    return n;
}

// Iterative wildcard match with one back-tracking point: linear in practice, no recursion.
bool Matches(const char* pPattern, const char* pName) {
    const char* pStar = nullptr;
    const char* pResume = nullptr;
    while (*pName) {
        if (*pPattern == '*') {
            pStar = pPattern++;
            pResume = pName;
        } else if (*pPattern == '?') {
            ++pPattern;
            pName += CharLength(pName);
        } else if (*pPattern && Folded(*pPattern) == Folded(*pName)) {
            ++pPattern;
            ++pName;
        } else if (pStar) {
            pPattern = pStar + 1;
            pResume += CharLength(pResume);
            pName = pResume;
        } else {
            return false;
        }
    }
    while (*pPattern == '*') ++pPattern;
    return *pPattern == '\0';
}

}  // namespace

bool MatchesReleasePattern(const std::string& strPattern, const std::string& strRelativeName) {
    if (strPattern.empty()) return false;
    if (Matches(strPattern.c_str(), strRelativeName.c_str())) return true;
    for (size_t i = 0; i < strRelativeName.size(); ++i) {
        if (strRelativeName[i] == '\\' || strRelativeName[i] == '/') {
            if (Matches(strPattern.c_str(), strRelativeName.substr(0, i).c_str())) return true;
        }
    }
    return false;
}
