#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/base/Win32Handles.h"
#include "platform/ini/ConfigFile.h"
#include "support/TempDir.h"

using Names = std::vector<std::string>;

namespace {

// Written as GBK, the manifests' form (the sources are UTF-8).
const std::string kManifest = Gbk(
    "; published manifest\r\n"
    "[Update]\r\n"
    "Version=4.0.1007.0715\r\n"
    "Region=城市\r\n"
    "UnConditional=1\r\n"
    "Port=70000\r\n"
    "Negative=-5\r\n"
    "Text=abc\r\n"
    "Empty=\r\n"
    "[Files]\r\n"
    "bin\\a.dll=d41d8cd98f00b204e9800998ecf8427e\r\n"
    "誠\\診.dat=x\r\n"
    "Config.dat=y\r\n"
    "[誠]\r\n") +
    // Not GBK: a name no one can ask for again is no name at all.
    "[\x81\x20" "bad]\r\nk=v\r\n[Files]\r\n\xFF\xFF=z\r\n";

}  // namespace

TEST(ConfigFile, ReadsValuesOfARealFile) {
    TempDir tmp;
    const std::string strPath = tmp / "UpdateConfig.ini";
    ASSERT_TRUE(WriteFileBytes(strPath, kManifest));
    CConfigFile file(strPath);

    struct Case {
        const char* pszSection;
        const char* pszKey;
        long nResult;
        const char* pszValue;
    };
    const Case cases[] = {
        {"Update", "Version", 0, "4.0.1007.0715"},
        {"update", "REGION", 0, "城市"},
        {"Update", "Empty", 0, ""},
        {"Files", "BIN\\A.DLL", 0, "d41d8cd98f00b204e9800998ecf8427e"},
        {"Files", "誠\\診.dat", 0, "x"},
        {"Update", "Missing", -1, ""},
        {"Missing", "Version", -1, ""},
        {"誠", "anything", -1, ""},
    };
    for (const Case& c : cases) {
        std::string strValue = "stale";
        EXPECT_EQ(c.nResult, file.ReadString(c.pszSection, c.pszKey, "", strValue)) << c.pszKey;
        EXPECT_EQ(c.pszValue, strValue) << c.pszKey;
    }
    std::string strValue;
    file.ReadString("Update", "Missing", "fallback", strValue);
    EXPECT_EQ("fallback", strValue);

    struct IntCase {
        const char* pszKey;
        int nDefault;
        int nExpected;
    };
    const IntCase intCases[] = {
        {"UnConditional", 0, 1}, {"Port", 0, 70000}, {"Negative", 0, -5}, {"Text", 7, 7},
        {"Empty", 1, 1},         {"Missing", 1, 1},  {"Version", 0, 4},
    };
    for (const IntCase& c : intCases) EXPECT_EQ(c.nExpected, file.ReadInteger("Update", c.pszKey, c.nDefault)) << c.pszKey;

    Names vecKeys{"stale"};
    EXPECT_EQ(3, file.ReadSection("files", vecKeys));
    EXPECT_EQ((Names{"bin\\a.dll", "誠\\診.dat", "Config.dat"}), vecKeys);
    EXPECT_EQ(0, file.ReadSection("Missing", vecKeys));
    EXPECT_TRUE(vecKeys.empty());

    Names vecSections{"stale"};
    EXPECT_EQ(3, file.ReadSections(vecSections));
    EXPECT_EQ((Names{"Update", "Files", "誠"}), vecSections);
}

// A missing file, a directory and a file locked by another writer all read as a
// file without sections.
TEST(ConfigFile, UnreadableFilesReadAsEmpty) {
    TempDir tmp;
    ASSERT_TRUE(WriteFileBytes(tmp / "locked.ini", kManifest));
    UniqueFile hLock(CreateFileA((tmp / "locked.ini").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(hLock);
    ASSERT_TRUE(CreateDirectoryA((tmp / "dir.ini").c_str(), nullptr));

    const std::string paths[] = {tmp / "missing.ini", tmp / "no\\such\\dir.ini", tmp / "dir.ini", tmp / "locked.ini", ""};
    for (const std::string& strPath : paths) {
        CConfigFile file(strPath);
        std::string strValue = "stale";
        EXPECT_EQ(-1, file.ReadString("Update", "Version", "", strValue)) << strPath;
        EXPECT_EQ("", strValue) << strPath;
        EXPECT_EQ(1, file.ReadInteger("Server", "UseProxy", 1)) << strPath;
        Names vecSections{"stale"};
        EXPECT_EQ(0, file.ReadSections(vecSections)) << strPath;
        EXPECT_TRUE(vecSections.empty()) << strPath;
    }
}

TEST(ConfigFile, ReadsWhileAnotherProcessWritesTheFile) {
    TempDir tmp;
    const std::string strPath = tmp / "config.ini";
    ASSERT_TRUE(WriteFileBytes(strPath, kManifest));
    // A writer that shares reading, as a downloader filling the file would.
    UniqueFile hWriter(CreateFileA(strPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(hWriter);
    CConfigFile file(strPath);
    std::string strValue;
    file.ReadString("Update", "Version", "", strValue);
    EXPECT_EQ("4.0.1007.0715", strValue);
}
