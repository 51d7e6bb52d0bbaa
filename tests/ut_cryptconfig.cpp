#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/base/Win32Handles.h"
#include "platform/ini/CryptConfigFile.h"
#include "support/TempDir.h"

namespace {

std::vector<std::string> DirectoryEntries(const std::string& strDir) {
    std::vector<std::string> vecNames;
    WIN32_FIND_DATAA fd;
    UniqueFind hFind(FindFirstFileA((strDir + "*").c_str(), &fd));
    if (!hFind) return vecNames;
    do {
        const std::string strName = fd.cFileName;
        if (strName != "." && strName != "..") vecNames.push_back(strName);
    } while (FindNextFileA(hFind.get(), &fd));
    std::sort(vecNames.begin(), vecNames.end());
    return vecNames;
}

std::string Read(CCryptConfigFile& file, const char* pszSection, const char* pszKey) {
    std::string strValue = "stale";
    file.ReadString(pszSection, pszKey, "", strValue);
    return strValue;
}

// A valid Config.dat with a few values, as its bytes.
std::string MakeValidFile(const TempDir& tmp, const std::string& strName) {
    CCryptConfigFile file(tmp / strName, "");
    file.WriteString("Update", "Version", "4.0.1007.0715");
    file.WriteString("Update", "Region", "城市");
    file.WriteInteger("Update", "ServerPort", 8080);
    return ReadFileBytes(tmp / strName);
}

}  // namespace

TEST(CryptConfigFile, RoundTripOfGbkValuesThroughTheEncryptedFile) {
    TempDir tmp;
    const std::string strPath = tmp / "Config.dat";
    {
        CCryptConfigFile file(strPath, "");
        EXPECT_FALSE(file.Exists());
        EXPECT_FALSE(FileExists(strPath)) << "reading must not create the file";
        EXPECT_EQ(0, file.WriteString("Update", "Version", "4.0.1007.0715"));
        EXPECT_TRUE(FileExists(strPath)) << "stored at once, not at destruction";
        EXPECT_EQ(0, file.WriteString("Update", "Region", "城市"));
        EXPECT_EQ(0, file.WriteString("誠", "診", "誠"));           // trail byte '\' at the end
        EXPECT_EQ(0, file.WriteString("Update", "Path", "C:\\誠\\"));
        EXPECT_EQ(0, file.WriteInteger("Update", "ServerPort", 8080));
        EXPECT_EQ(0, file.WriteInteger("Update", "Negative", -42));
        EXPECT_EQ(0, file.WriteString("update", "VERSION", "4.0.1008.0101"));   // same key, other case
        EXPECT_EQ("4.0.1008.0101", Read(file, "Update", "Version"));
        EXPECT_TRUE(file.Exists());
    }
    CCryptConfigFile file(strPath, "");
    EXPECT_FALSE(file.IsDamaged());
    EXPECT_TRUE(file.Exists());
    EXPECT_EQ("4.0.1008.0101", Read(file, "UPDATE", "version"));
    EXPECT_EQ("城市", Read(file, "Update", "Region"));
    EXPECT_EQ("誠", Read(file, "誠", "診"));
    EXPECT_EQ("C:\\誠\\", Read(file, "Update", "Path"));
    EXPECT_EQ(8080, file.ReadInteger("Update", "ServerPort", 0));
    EXPECT_EQ(-42, file.ReadInteger("Update", "Negative", 0));
    EXPECT_EQ(1, file.ReadInteger("Server", "UseProxy", 1));
    EXPECT_EQ("", Read(file, "Update", "Missing"));
    // Stored as GBK, the format's code page, whatever the system's is.
    EXPECT_EQ(Gbk("[Update]\r\nVersion=4.0.1008.0101\r\nRegion=城市\r\nPath=C:\\誠\\\r\nServerPort=8080\r\nNegative=-42\r\n"
                  "\r\n[誠]\r\n診=誠\r\n"),
              file.GetText());
    // What GBK cannot spell is refused, never stored as '?'.
    EXPECT_EQ(-1, file.WriteString("Update", "Path", "D:\\安装䶮Şükrü\\"));
    EXPECT_EQ(-1, file.WriteString("䶮", "Path", "x"));
    EXPECT_EQ("C:\\誠\\", Read(file, "Update", "Path"));

    // Nothing readable on disk: header, then cipher text.
    const std::string strBytes = ReadFileBytes(strPath);
    EXPECT_EQ(0u, strBytes.find("QCFG"));
    EXPECT_EQ(std::string::npos, strBytes.find("Version"));
    EXPECT_EQ(std::string::npos, strBytes.find("城市"));
    EXPECT_EQ((std::vector<std::string>{"Config.dat"}), DirectoryEntries(tmp.Path())) << "no temporary file left";
}

TEST(CryptConfigFile, MissingFilesReadAsDefaultsAndInitializeSwitchesFiles) {
    TempDir tmp;
    {
        CCryptConfigFile user(tmp / "UserConfig.dat", "");
        user.WriteInteger("Server", "UseProxy", 0);
    }
    MakeValidFile(tmp, "Config.dat");

    CCryptConfigFile file(tmp / "Config.dat", "");
    EXPECT_EQ("4.0.1007.0715", Read(file, "Update", "Version"));
    file.Initialize(tmp / "UserConfig.dat", "");
    EXPECT_EQ("", Read(file, "Update", "Version"));
    EXPECT_EQ(0, file.ReadInteger("Server", "UseProxy", 1));
    file.Initialize(tmp / "Missing.dat", "");
    EXPECT_FALSE(file.Exists());
    EXPECT_FALSE(file.IsDamaged());
    EXPECT_EQ(1, file.ReadInteger("Server", "UseProxy", 1));
    EXPECT_EQ("", Read(file, "Update", "Version"));
    EXPECT_EQ("", file.GetText());
    // Writes after Initialize go to the new file only.
    EXPECT_EQ(0, file.WriteString("Update", "Version", "9"));
    CCryptConfigFile config(tmp / "Config.dat", "");
    EXPECT_EQ("4.0.1007.0715", Read(config, "Update", "Version"));
    CCryptConfigFile created(tmp / "Missing.dat", "");
    EXPECT_EQ("9", Read(created, "Update", "Version"));

    // A file in a directory that does not exist: reads empty, the write fails cleanly.
    CCryptConfigFile nowhere(tmp / "no\\such\\Config.dat", "");
    EXPECT_FALSE(nowhere.IsDamaged());
    EXPECT_EQ(-1, nowhere.WriteString("Update", "Version", "1"));
    EXPECT_FALSE(FileExists(tmp / "no\\such\\Config.dat"));
}

// A damaged file reads as empty, refuses every write and stays byte for byte as it was.
TEST(CryptConfigFile, DamagedFilesAreNeverOverwritten) {
    TempDir tmp;
    const std::string strValid = MakeValidFile(tmp, "valid.dat");
    ASSERT_GT(strValid.size(), 36u);
    auto flipped = [&](size_t nOffset) {
        std::string str = strValid;
        str[nOffset] = static_cast<char>(str[nOffset] ^ 0x01);
        return str;
    };
    std::string strNewerVersion = strValid;
    strNewerVersion[4] = 2;
    std::string strReserved = strValid;
    strReserved[6] = 1;
    struct Case {
        const char* pszName;
        std::string strBytes;
    };
    const Case cases[] = {
        {"flipped cipher text", flipped(strValid.size() - 1)},
        {"flipped first cipher byte", flipped(36)},
        {"flipped tag", flipped(20)},
        {"flipped nonce", flipped(8)},
        {"truncated by one", strValid.substr(0, strValid.size() - 1)},
        {"truncated to header", strValid.substr(0, 36)},
        {"truncated inside header", strValid.substr(0, 10)},
        {"longer", strValid + "x"},
        {"wrong magic", "QCFX" + strValid.substr(4)},
        {"newer version", strNewerVersion},
        {"reserved bits", strReserved},
        {"empty file", ""},
        {"plain INI text", "[Update]\r\nVersion=1\r\n"},
    };
    for (const Case& c : cases) {
        const std::string strPath = tmp / "Config.dat";
        ASSERT_TRUE(WriteFileBytes(strPath, c.strBytes)) << c.pszName;
        CCryptConfigFile file(strPath, "");
        EXPECT_TRUE(file.IsDamaged()) << c.pszName;
        EXPECT_FALSE(file.Exists()) << c.pszName;
        EXPECT_EQ("", Read(file, "Update", "Version")) << c.pszName;
        EXPECT_EQ(0, file.ReadInteger("Update", "ServerPort", 0)) << c.pszName;
        EXPECT_EQ("", file.GetText()) << c.pszName;
        EXPECT_EQ(-1, file.WriteString("Update", "Version", "5.0")) << c.pszName;
        EXPECT_EQ(-1, file.WriteInteger("Update", "ServerPort", 1)) << c.pszName;
        EXPECT_EQ(-1, file.ReplaceText("[Update]\r\nVersion=5.0\r\n")) << c.pszName;
        EXPECT_EQ(c.strBytes, ReadFileBytes(strPath)) << c.pszName;
        EXPECT_EQ((std::vector<std::string>{"Config.dat", "valid.dat"}), DirectoryEntries(tmp.Path())) << c.pszName;
    }
}

TEST(CryptConfigFile, KeyArgumentSelectsTheKey) {
    TempDir tmp;
    {
        CCryptConfigFile file(tmp / "a.dat", "secret");
        file.WriteString("S", "k", "v");
    }
    CCryptConfigFile same(tmp / "a.dat", "secret");
    EXPECT_EQ("v", Read(same, "S", "k"));
    const char* others[] = {"", "Secret", "secret "};
    for (const char* pszKey : others) {
        CCryptConfigFile other(tmp / "a.dat", pszKey);
        EXPECT_TRUE(other.IsDamaged()) << "'" << pszKey << "'";
        EXPECT_EQ("", Read(other, "S", "k")) << "'" << pszKey << "'";
    }
}

// Each write applies to the file as it is on disk, so two objects on one file do
// not undo each other's writes.
TEST(CryptConfigFile, WritesAreStoredAtOnceAndKeepOthersChanges) {
    TempDir tmp;
    const std::string strPath = tmp / "Config.dat";
    CCryptConfigFile first(strPath, "");
    CCryptConfigFile second(strPath, "");
    EXPECT_EQ(0, first.WriteString("Update", "Version", "1"));
    EXPECT_EQ(0, second.WriteString("Update", "Region", "城市"));
    EXPECT_EQ(0, first.WriteInteger("Update", "ServerPort", 80));

    CCryptConfigFile reader(strPath, "");
    EXPECT_EQ("1", Read(reader, "Update", "Version"));
    EXPECT_EQ("城市", Read(reader, "Update", "Region"));
    EXPECT_EQ(80, reader.ReadInteger("Update", "ServerPort", 0));

    // Values that could not be read back as written are refused and change nothing.
    const std::string strBefore = ReadFileBytes(strPath);
    EXPECT_EQ(-1, first.WriteString("Update", "Version", "2\r\n[Server]\r\nUseProxy=0"));
    EXPECT_EQ(-1, first.WriteString("Update", "", "x"));
    EXPECT_EQ(-1, first.WriteString("", "Version", "x"));
    EXPECT_EQ(strBefore, ReadFileBytes(strPath));
    // Writing what is stored already leaves the file alone.
    EXPECT_EQ(0, first.WriteString("Update", "Version", "1"));
    EXPECT_EQ(strBefore, ReadFileBytes(strPath));
    EXPECT_EQ((std::vector<std::string>{"Config.dat"}), DirectoryEntries(tmp.Path()));
}

TEST(CryptConfigFile, ReplaceTextUsesAFreshNonceAndFailedReplacementsLeaveNoTrace) {
    TempDir tmp;
    const std::string strPath = tmp / "Config.dat";
    CCryptConfigFile file(strPath, "");
    EXPECT_EQ(0, file.ReplaceText("; imported\n[Update]\nVersion=3\n"));
    const std::string strFirst = ReadFileBytes(strPath);
    EXPECT_EQ(0, file.ReplaceText("[Update]\r\nVersion=3\r\n"));
    const std::string strSecond = ReadFileBytes(strPath);
    ASSERT_EQ(strFirst.size(), strSecond.size());
    EXPECT_NE(strFirst.substr(8, 12), strSecond.substr(8, 12)) << "nonce reused";
    EXPECT_EQ("[Update]\r\nVersion=3\r\n", file.GetText());

    // Another program holds the file without sharing deletion: it cannot be replaced.
    UniqueFile hHolder(CreateFileA(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(hHolder);
    EXPECT_EQ(-1, file.WriteString("Update", "Version", "4"));
    EXPECT_EQ(-1, file.ReplaceText("[Update]\r\nVersion=4\r\n"));
    hHolder.reset();
    EXPECT_EQ(strSecond, ReadFileBytes(strPath));
    EXPECT_EQ((std::vector<std::string>{"Config.dat"}), DirectoryEntries(tmp.Path())) << "temporary file left behind";
    EXPECT_EQ("3", Read(file, "Update", "Version"));

    // Held without any sharing: unreadable, so treated like a damaged file.
    UniqueFile hExclusive(CreateFileA(strPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(hExclusive);
    CCryptConfigFile locked(strPath, "");
    EXPECT_TRUE(locked.IsDamaged());
    EXPECT_EQ("", Read(locked, "Update", "Version"));
    EXPECT_EQ(-1, locked.WriteString("Update", "Version", "5"));
    hExclusive.reset();
    EXPECT_EQ(strSecond, ReadFileBytes(strPath));
}
