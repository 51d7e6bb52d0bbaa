#include "app/CommandLine.h"

#include <climits>
#include <cstring>

#include "install/RoadPolicy.h"

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

// Any letter case; the forms people type at a Windows prompt and elsewhere.
bool IsHelpSwitch(const std::string& strArg) {
    for (const char* pszHelp : {"/?", "-?", "-h", "/h", "--help", "-help", "/help"}) {
        if (strArg.size() == std::strlen(pszHelp) && HasPrefix(strArg, pszHelp)) return true;
    }
    return false;
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
        if (IsHelpSwitch(strArg)) {
            cmd.bHelp = true;
        } else if (IsSilentSwitch(strArg)) {
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

std::string CommandLineUsage() {
    std::string strUsage =
        "Usage: Update.exe [-silent] [-t:KIND] [-d:NAME]\r\n"
        "\r\n"
        "  (no -silent)   the update dialog: asks the servers and offers what changed\r\n"
        "  -silent        no dialog: updates the program files (KIND 1) or the data set\r\n"
        "                 NAME, then ends; any prefix of the switch (-s, -sil) counts\r\n"
        "  -t:KIND        1 (the default): the program files; any other number: a data set\r\n"
        "  -d:NAME        the data set's directory below the installation (with -t:KIND)\r\n"
        "  /?, -h, --help this text\r\n"
        "\r\n"
        "  -silent (KIND 1) installs a new release and restarts the client; -silent\r\n"
        "  -t:KIND -d:NAME installs the data set into NAME\\ and touches nothing else.\r\n"
        "\r\n"
        "Exit codes of -silent (the dialog always exits 0):\r\n";
    for (int nCode = 0; nCode < kSilentExitCodes; ++nCode) {
        strUsage += "  " + std::to_string(nCode) + "  " + SilentExitMeaning(static_cast<ESilentExit>(nCode)) + "\r\n";
    }
    return strUsage + "\r\n"
                      "Every run writes UpdateState\\Update.log beside Update.exe.\r\n"
                      "Example: Update.exe -silent -t:3 -d:Skin\r\n";
}
