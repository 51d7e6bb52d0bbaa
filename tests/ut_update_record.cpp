#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "install/UpdateRecord.h"
#include "platform/base/Text.h"
#include "platform/ini/CryptConfigFile.h"
#include "platform/ini/IniDocument.h"
#include "support/TempDir.h"

namespace {

const char kProductKey[] = "SOFTWARE\\QOVA";

std::string Today() {
    SYSTEMTIME st;
    GetLocalTime(&st);
    char szText[16];
    std::snprintf(szText, sizeof(szText), "%04u-%02u-%02u", st.wYear, st.wMonth, st.wDay);
    return szText;
}

std::vector<std::string> RecordSections(const std::string& strAppDir) {
    CCryptConfigFile record(strAppDir + "UpdateRecord.dat", "");
    IniDocument doc;
    doc.Parse(record.GetText());
    return doc.SectionNames();
}

std::string RecordValue(const std::string& strAppDir, const std::string& strSection, const std::string& strKey) {
    CCryptConfigFile record(strAppDir + "UpdateRecord.dat", "");
    std::string strValue;
    record.ReadString(strSection, strKey, "", strValue);
    return strValue;
}

bool KeyExists(REGSAM samView = KEY_WOW64_64KEY) {
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_READ | samView, &hKey) != ERROR_SUCCESS) return false;
    RegCloseKey(hKey);
    return true;
}

void DeleteProductKey() {
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kProductKey, KEY_WOW64_64KEY, 0);
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kProductKey, KEY_WOW64_32KEY, 0);
}

// "Version" in one view of the registry; empty when missing.
std::string ViewVersion(REGSAM samView) {
    char szData[64] = {};
    DWORD cbData = sizeof(szData) - 1;
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_READ | samView, &hKey) != ERROR_SUCCESS) return "";
    RegQueryValueExA(hKey, "Version", nullptr, nullptr, reinterpret_cast<BYTE*>(szData), &cbData);
    RegCloseKey(hKey);
    return szData;
}

struct RegValue {
    bool bFound = false;
    DWORD dwType = 0;
    DWORD cbData = 0;
    std::wstring strChars;   // all cbData bytes as UTF-16, the terminating zero included
};

RegValue QueryValue(const char* pszName) {
    RegValue value;
    HKEY hKey = nullptr;
    // Read back as UTF-16, as any reader of InstallPath would: no code page between.
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS) return value;
    wchar_t szData[1024] = {};
    value.cbData = sizeof(szData);
    value.bFound = RegQueryValueExW(hKey, Utf8ToWide(pszName).c_str(), nullptr, &value.dwType,
                                    reinterpret_cast<BYTE*>(szData), &value.cbData) == ERROR_SUCCESS;
    RegCloseKey(hKey);
    if (value.bFound) value.strChars.assign(szData, value.cbData / sizeof(wchar_t));
    return value;
}

TEST(FormatLocalTime, FormatsTheLocalTimeIntoAtMost128Bytes) {
    const std::string strBefore = Today();
    const std::string strDate = FormatLocalTime("%Y-%m-%d");
    const std::string strAfter = Today();
    EXPECT_TRUE(strDate == strBefore || strDate == strAfter) << strDate;

    const std::string strStamp = FormatLocalTime("%Y-%m-%d %H:%M:%S");
    ASSERT_EQ(19u, strStamp.size()) << strStamp;
    EXPECT_EQ(' ', strStamp[10]);
    EXPECT_EQ(':', strStamp[13]);
    EXPECT_EQ(':', strStamp[16]);

    struct Case {
        std::string strPattern;
        size_t nLength;
    } cases[] = {
        {std::string(127, 'x'), 127},          // fits with its zero byte
        {std::string(128, 'x'), 0},            // one byte too long: empty
        {std::string(118, 'x') + "%Y-%m-%d", 0},   // 128 once expanded
        {std::string(117, 'x') + "%Y-%m-%d", 127},
        {"", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.nLength, FormatLocalTime(c.strPattern).size()) << c.strPattern.size();
    }
}

TEST(UpdateRecord, SameSectionNameKeepsOneSectionWithTheLaterVersions) {
    TempDir tmp;
    ASSERT_TRUE(WriteUpdateRecord(tmp.Path(), "%Y-%m-%d", "4.0.1007", "4.0.1006"));
    ASSERT_TRUE(WriteUpdateRecord(tmp.Path(), "%Y-%m-%d", "4.0.1008", "4.0.1007"));
    const std::string strDay = FormatLocalTime("%Y-%m-%d");   // a run across midnight may leave two

    const std::vector<std::string> vecSections = RecordSections(tmp.Path());
    ASSERT_FALSE(vecSections.empty());
    EXPECT_EQ(strDay, vecSections.back());
    if (vecSections.size() == 1) {
        EXPECT_EQ("1", RecordValue(tmp.Path(), strDay, "IsSucceed"));
        EXPECT_EQ("4.0.1008", RecordValue(tmp.Path(), strDay, "NewVersion"));
        EXPECT_EQ("4.0.1007", RecordValue(tmp.Path(), strDay, "OldVersion"));
    }
}

TEST(UpdateRecord, DatedAndTimedRecordsStandSideBySide) {
    TempDir tmp;
    ASSERT_TRUE(WriteUpdateRecord(tmp.Path(), "%Y-%m-%d", "4.0.1007", "4.0.1006"));
    ASSERT_TRUE(WriteUpdateRecord(tmp.Path(), "%Y-%m-%d %H:%M:%S", "4.0.1008", "4.0.1007", 0));

    const std::vector<std::string> vecSections = RecordSections(tmp.Path());
    ASSERT_EQ(2u, vecSections.size());
    EXPECT_EQ(10u, vecSections[0].size());
    EXPECT_EQ(19u, vecSections[1].size());
    EXPECT_EQ("4.0.1007", RecordValue(tmp.Path(), vecSections[0], "NewVersion"));
    EXPECT_EQ("1", RecordValue(tmp.Path(), vecSections[0], "IsSucceed"));
    EXPECT_EQ("4.0.1008", RecordValue(tmp.Path(), vecSections[1], "NewVersion"));
    EXPECT_EQ("4.0.1007", RecordValue(tmp.Path(), vecSections[1], "OldVersion"));
    EXPECT_EQ("0", RecordValue(tmp.Path(), vecSections[1], "IsSucceed"));   // a failed installation says so
}

TEST(UpdateRecord, KeysAreWrittenInOrder) {
    TempDir tmp;
    ASSERT_TRUE(WriteUpdateRecord(tmp.Path(), "%Y", "新版", "旧版"));
    CCryptConfigFile record(tmp / "UpdateRecord.dat", "");
    IniDocument doc;
    doc.Parse(record.GetText());
    const std::string strYear = FormatLocalTime("%Y");
    EXPECT_EQ((std::vector<std::string>{"IsSucceed", "NewVersion", "OldVersion"}), doc.KeyNames(strYear));
    EXPECT_EQ("新版", RecordValue(tmp.Path(), strYear, "NewVersion"));
}

class ProductRegistryTest : public ::testing::Test {
protected:
    void SetUp() override { DeleteProductKey(); }
    void TearDown() override { DeleteProductKey(); }
};

// The key is written where an installer made it (a 32-bit one: WOW6432Node), never created.
TEST_F(ProductRegistryTest, TheKeyIsOpenedInTheViewWhereItExists) {
    const struct {
        bool b64, b32;   // the key exists in that view
        const char *psz64, *psz32;
    } cases[] = {{true, false, "4.1", ""}, {false, true, "", "4.1"}, {true, true, "4.1", ""}, {false, false, "", ""}};
    for (const auto& c : cases) {
        DeleteProductKey();
        for (REGSAM samView : {c.b64 ? KEY_WOW64_64KEY : 0, c.b32 ? KEY_WOW64_32KEY : 0}) {
            HKEY hKey = nullptr;
            if (samView) ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, nullptr, 0, KEY_WRITE | samView, nullptr, &hKey, nullptr));
            if (hKey) RegCloseKey(hKey);
        }
        ASSERT_EQ(c.b64, KeyExists(KEY_WOW64_64KEY)) << "the views are apart";
        EXPECT_EQ(c.b64 || c.b32, WriteProductRegistry("C:\\QOVA\\", "4.1")) << c.b64 << c.b32;
        EXPECT_EQ(c.psz64, ViewVersion(KEY_WOW64_64KEY)) << c.b64 << c.b32;
        EXPECT_EQ(c.psz32, ViewVersion(KEY_WOW64_32KEY)) << c.b64 << c.b32;
        EXPECT_EQ(c.b32, KeyExists(KEY_WOW64_32KEY)) << "nothing created";
    }
}

TEST_F(ProductRegistryTest, WritesBothValuesAsStringsWithTheirZeroByte) {
    HKEY hKey = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, nullptr, 0, KEY_WRITE, nullptr,
                                             &hKey, nullptr));
    RegCloseKey(hKey);

    struct Case {
        std::string strAppDir;
        std::string strVersion;
    } cases[] = {
        {"C:\\Program Files\\QOVA\\", "4.0.1008.0101"},
        {"D:\\软件\\誠\\", "4.1"},   // in GBK a trail byte 0x5C before the final '\'
        {"E:\\安装䶮Şükrü\\", "4.2"},   // outside GBK and every ANSI code page but one
        {"C:\\Q\\", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.strAppDir);
        EXPECT_TRUE(WriteProductRegistry(c.strAppDir, c.strVersion));
        const RegValue path = QueryValue("InstallPath");
        ASSERT_TRUE(path.bFound);
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), path.dwType);
        const std::wstring strAppDir = Utf8ToWide(c.strAppDir);
        EXPECT_EQ((strAppDir.size() + 1) * sizeof(wchar_t), path.cbData);
        EXPECT_EQ(strAppDir + std::wstring(1, L'\0'), path.strChars);

        const RegValue version = QueryValue("Version");
        ASSERT_TRUE(version.bFound);
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), version.dwType);
        const std::wstring strVersion = Utf8ToWide(c.strVersion);
        EXPECT_EQ((strVersion.size() + 1) * sizeof(wchar_t), version.cbData);
        EXPECT_EQ(strVersion + std::wstring(1, L'\0'), version.strChars);
    }
}

}  // namespace
