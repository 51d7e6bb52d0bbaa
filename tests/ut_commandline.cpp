#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "platform/base/CommandLineArgs.h"
#include "manifest/ManifestName.h"

namespace {

struct ParseCase {
    const char* pszWhat;
    std::vector<std::string> vecArgs;
    bool bSilent;
    int nUpdateType;
    std::string strUpdateName;
    bool bHelp = false;
};

const std::string k259(259, 'a');
const std::string kCheng = "誠";   // GBK D5 5C, with '\' as its trail byte; UTF-8 inside

TEST(CommandLine, ParsesArgumentsLeftToRight) {
    const ParseCase cases[] = {
        {"no arguments", {}, false, 1, ""},
        {"the switch", {"-silent"}, true, 1, ""},
        {"upper case", {"-SILENT"}, true, 1, ""},
        {"short prefix", {"-S"}, true, 1, ""},
        {"mixed prefix", {"-sIl"}, true, 1, ""},
        {"lone hyphen", {"-"}, true, 1, ""},
        {"empty argument", {""}, true, 1, ""},
        {"longer than the switch", {"-silentx"}, false, 1, ""},
        {"no hyphen", {"silent"}, false, 1, ""},
        {"slash form", {"/silent"}, false, 1, ""},
        {"later junk keeps silent", {"-silent", "-silentx"}, true, 1, ""},
        {"program kind keeps -d:", {"-silent", "-t:1", "-d:Skin"}, true, 1, "Skin"},
        {"data kind", {"-silent", "-t:3", "-d:Skin"}, true, 3, "Skin"},
        {"data kind without name", {"-silent", "-t:3"}, true, 3, ""},
        {"upper-case prefixes", {"-T:2", "-D:Maps"}, false, 2, "Maps"},
        {"order does not matter", {"-d:Maps", "-t:4", "-s"}, true, 4, "Maps"},
        {"bare -t:", {"-t:"}, false, 1, ""},
        {"bare -d: keeps the earlier name", {"-d:Skin", "-d:"}, false, 1, "Skin"},
        {"no digits", {"-t:abc"}, false, 0, ""},
        {"later -t: wins", {"-t:2", "-t:5"}, false, 5, ""},
        {"later -d: wins", {"-d:A", "-d:B"}, false, 1, "B"},
        {"blanks and sign", {"-t: -3"}, false, -3, ""},
        {"plus and trailing junk", {"-t:+7x"}, false, 7, ""},
        {"digits then letters", {"-t:3abc"}, false, 3, ""},
        {"only ten characters read", {"-t:12345678901"}, false, 1234567890, ""},
        {"overflow clamps high", {"-t:9999999999"}, false, INT_MAX, ""},
        {"sign counts toward the ten", {"-t:-999999999999"}, false, -999999999, ""},
        {"similar prefix", {"-tt:4", "-x:1", "-dd:Q"}, false, 1, ""},
        {"name with blanks", {"-d:My Maps"}, false, 1, "My Maps"},
        {"Chinese name kept whole", {"-d:" + kCheng}, false, 1, kCheng},
        {"name cut at 260 bytes", {"-d:" + std::string(300, 'a')}, false, 1, std::string(260, 'a')},
        {"cut never splits a character", {"-d:" + k259 + kCheng}, false, 1, k259},
        {"cut never splits a character, one byte in", {"-d:" + std::string(258, 'a') + kCheng}, false, 1,
         std::string(258, 'a')},
        {"character ending at 260 kept", {"-d:" + std::string(257, 'a') + kCheng + "b"}, false, 1,
         std::string(257, 'a') + kCheng},
        {"help, Windows form", {"/?"}, false, 1, "", true},
        {"help, long form in capitals", {"--HELP"}, false, 1, "", true},
        {"help, short form beside a silent run", {"-silent", "-t:3", "-h"}, true, 3, "", true},
        {"no help: longer or shorter forms", {"--helpx", "-he", "/"}, false, 1, "", false},
    };
    for (const ParseCase& c : cases) {
        const S_CommandLine cmd = ParseCommandLine(c.vecArgs);
        EXPECT_EQ(c.bSilent, cmd.bSilent) << c.pszWhat;
        EXPECT_EQ(c.nUpdateType, cmd.nUpdateType) << c.pszWhat;
        EXPECT_EQ(c.strUpdateName, cmd.strUpdateName) << c.pszWhat;
        EXPECT_EQ(c.bHelp, cmd.bHelp) << c.pszWhat;
    }
}

TEST(CommandLine, SplitsLikeWindowsAndConvertsToUtf8) {
    struct {
        const wchar_t* pszLine;
        std::vector<std::string> vecExpected;
    } const cases[] = {
        {L"Update.exe", {}},
        {L"\"C:\\Program Files\\QOVA\\Update.exe\" -silent", {"-silent"}},
        {L"Update.exe \"\" -t:3", {"", "-t:3"}},
        {L"Update.exe \"-d:My Maps\"  -t:2", {"-d:My Maps", "-t:2"}},
        {L"Update.exe -d:\u8AA0\u5730\u56FE", {"-d:誠地图"}},
        // Outside every ANSI code page but the user's own: kept as it is.
        {L"Update.exe -d:\u4DAE\u015E\u00FCkr\u00FC", {"-d:䶮Şükrü"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.vecExpected, SplitCommandLine(c.pszLine));
    }
}

TEST(CommandLine, UpdateNamesMustStayBelowTheApplicationDirectory) {
    struct {
        std::string strName;
        bool bSafe;
    } const cases[] = {
        {"", true},
        {"Skin", true},
        {"Skin\\Blue", true},
        {kCheng, true},               // as GBK bytes this would end in a separator
        {kCheng + "\\x", true},
        {"..", false},
        {"..\\x", false},
        {"a\\..\\..", false},
        {"a/../b", false},
        {"...", false},
        {"C:\\Windows", false},
        {"\\Windows", false},
        {"\\\\server\\share", false},
        {"Skin:stream", false},
        {"a\x01", false},
        {"\x81", false},               // not UTF-8
        {"\xD5\x5C", false},           // GBK bytes, not UTF-8
        {"地图䶮", false},              // no GBK spelling: Config.dat [Signature] could not name it
        // Not a [Signature] key of its own: the set would have no replay protection.
        {"a=b", false},  {";Maps", false},  {"[Maps", false},  {" Maps", false},  {"Maps;[x]", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.bSafe, IsSafeUpdateName(c.strName)) << c.strName;
    }
}

}  // namespace
