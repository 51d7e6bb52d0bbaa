#include "app/CommandLine.h"

#include <climits>
#include <cstring>

namespace {

const char kSilentSwitch[] = "-silent";
const std::size_t kMaxTypeChars = 10;
const std::size_t kMaxNameBytes = 260;

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Compared over the argument's own length, so every prefix of the switch
// (down to "-" and the empty argument) selects silent mode.
bool IsSilentSwitch(const std::string& strArg) {
    if (strArg.size() > std::strlen(kSilentSwitch)) return false;
    for (std::size_t i = 0; i < strArg.size(); ++i) {
        if (FoldAscii(strArg[i]) != kSilentSwitch[i]) return false;
    }
    return true;
}

bool HasPrefix(const std::string& strArg, const char* pszPrefix) {
    const std::size_t nLen = std::strlen(pszPrefix);
    if (strArg.size() < nLen) return false;
    for (std::size_t i = 0; i < nLen; ++i) {
        if (FoldAscii(strArg[i]) != pszPrefix[i]) return false;
    }
    return true;
}

bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// atoi's reading (leading blanks, a sign, digits up to the first non-digit,
// none gives 0), but clamped instead of overflowing.
int ParseDecimal(const std::string& strText) {
    std::size_t i = 0;
    while (i < strText.size() && IsBlank(strText[i])) ++i;
    bool bNegative = false;
    if (i < strText.size() && (strText[i] == '+' || strText[i] == '-')) bNegative = strText[i++] == '-';
    long long nValue = 0;
    for (; i < strText.size() && strText[i] >= '0' && strText[i] <= '9'; ++i) {
        nValue = nValue * 10 + (strText[i] - '0');
        if (nValue > static_cast<long long>(INT_MAX) + 1) break;
    }
    if (bNegative) nValue = -nValue;
    if (nValue > INT_MAX) return INT_MAX;
    if (nValue < INT_MIN) return INT_MIN;
    return static_cast<int>(nValue);
}

// At most nMaxBytes bytes, never ending in the middle of a UTF-8 character
// (a continuation byte is 10xxxxxx).
std::string TruncateToCharacters(const std::string& strText, std::size_t nMaxBytes) {
    if (strText.size() <= nMaxBytes) return strText;
    std::size_t nEnd = nMaxBytes;
    while (nEnd > 0 && (static_cast<unsigned char>(strText[nEnd]) & 0xC0) == 0x80) --nEnd;
    return strText.substr(0, nEnd);
}

}  // namespace

S_CommandLine ParseCommandLine(const std::vector<std::string>& vecArgs) {
    S_CommandLine cmd;
    for (const std::string& strArg : vecArgs) {
        if (IsSilentSwitch(strArg)) {
            cmd.bSilent = true;
        } else if (strArg.size() > 3) {
            if (HasPrefix(strArg, "-t:")) {
                cmd.nUpdateType = ParseDecimal(strArg.substr(3, kMaxTypeChars));
            } else if (HasPrefix(strArg, "-d:")) {
                cmd.strUpdateName = TruncateToCharacters(strArg.substr(3), kMaxNameBytes);
            }
        }
    }
    return cmd;
}
