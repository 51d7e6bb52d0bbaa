#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "manifest/CompareProgramFiles.h"
#include "manifest/ManifestName.h"
#include "manifest/VersionOrder.h"
#include "support/TempDir.h"

namespace {

const char kAlphaMD5[] = "2c1743a391305fbf367df8e4f069f9f9";   // "alpha"
const char kBetaMD5[] = "987bcab01b929eb2c07877b224215c92";    // "beta"
const char kGammaMD5[] = "05b048d7242cb7b8b57cfa3b1d65ecea";   // "gamma"

struct ManifestFile {
    std::string strName;
    std::string strMD5;
    std::string strSize;
    std::string strTime;
    bool bSection = true;   // false: listed in FILES without its own section
};

std::string ProgramManifest(const std::string& strVersion, const std::string& strRegion, const char* pszUnconditional,
                            const std::vector<ManifestFile>& vecFiles) {
    std::string strText = "[Version]\r\nVERSION=" + strVersion + "\r\nREGION=" + strRegion + "\r\n";
    if (pszUnconditional) strText += std::string("UNCONDITIONALUPDATE=") + pszUnconditional + "\r\n";
    strText += "NOTIFIY=1\r\n[FILES]\r\n";
    for (const ManifestFile& file : vecFiles) strText += file.strName + "=1\r\n";
    for (const ManifestFile& file : vecFiles) {
        if (!file.bSection) continue;
        strText += "[" + file.strName + "]\r\nMD5=" + file.strMD5 + "\r\nSIZE=" + file.strSize +
                   "\r\nMODIFYTIME=" + file.strTime + "\r\n";
    }
    return strText;
}

std::vector<std::string> Names(const std::vector<S_UpdateFileInfo>& vecFiles) {
    std::vector<std::string> vecNames;
    for (const S_UpdateFileInfo& info : vecFiles) vecNames.push_back(info.strFileName);
    return vecNames;
}

class CompareProgramTest : public ::testing::Test {
protected:
    CompareProgramTest() {
        m_request.strRootPath = m_tmp / "app\\";
        m_request.strConfigFile = m_tmp / "UPDATE\\Program\\UpdateConfig.ini";
        m_request.strVersion = "4.0.1007.0715";
        m_request.strRegion = "CN";
    }

    void Install(const std::string& strName, const std::string& strBytes) {
        ASSERT_TRUE(WriteFileBytes(m_request.strRootPath + strName, strBytes));
    }
    void Publish(const std::string& strText) { ASSERT_TRUE(WriteFileBytes(m_request.strConfigFile, strText)); }
    int Compare() { return CompareProgramFiles(m_request, m_vecList); }

    TempDir m_tmp;
    S_UpdateCheckInfo m_request;
    std::vector<S_UpdateFileInfo> m_vecList;
};

TEST(VersionOrder, ComparesUnsignedBytesFromTheLeft) {
    struct Case {
        const char* pszA;
        const char* pszB;
        bool bGreater;
    } cases[] = {
        {"4.0.1008", "4.0.1007", true},
        {"4.0.1007", "4.0.1008", false},
        {"4.0.999", "4.0.1000", true},     // text order, not numeric
        {"4.0.1000", "4.0.999", false},
        {"10.0", "9.0", false},
        {"4.0.1.0", "4.0.1", true},        // a longer string extending the other is greater
        {"4.0.1", "4.0.1.0", false},
        {"4.0", "4.0", false},             // equal is not greater
        {"", "", false},
        {"1", "", true},                   // nothing installed yet
        {"", "1", false},
        {"\xB0\xA1", "z", true},           // GBK lead bytes sort above ASCII
        {"a", "A", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.bGreater, IsVersionGreater(c.pszA, c.pszB)) << c.pszA << " vs " << c.pszB;
    }
}

TEST(ManifestName, AcceptsRelativeNamesBelowTheRoot) {
    const char* safe[] = {
        "a.dll", "bin\\a.dll", "bin/plugins/a.dll", "UpdateConfig.ini", ".hidden", "a..b", "..a",
        "...a", "誠.dat", "診\\誠.dat",
        "PROGRAM~1", "a~b.dll", "a~1.dllx", "~1.dll", "a~.dll", "a.b~1",   // not in the form of a short alias
        "数据\\地图.dat",
        "console.dll", "CONFIG.ini", "com10.txt", "lpt.txt", "nul_x.dat", "auxiliary\\a.dll",
    };
    for (const char* pszName : safe) EXPECT_TRUE(IsSafeManifestName(pszName)) << pszName;
}

TEST(ManifestName, RefusesNamesThatCouldLeaveTheRoot) {
    const std::string unsafe[] = {
        "",
        "C:a.dll", "C:\\Windows\\a.dll", "c:/a.dll",            // drives
        "\\\\server\\share\\a.dll", "//server/share/a.dll",     // UNC
        "\\a.dll", "/a.dll", "\\\\?\\C:\\a.dll",                // rooted
        "..", "..\\x", "../x", "a\\..\\b", "a/../b", "a\\..", "a/..", "a\\../b",
        "a\\...\\b", "a\\.. \\b", ". .\\x",                     // what Windows may trim to ".."
        "誠\\..\\x",                                             // a real separator after a GBK character
        "a.dll:stream", "a:b\\c",                               // alternate streams
        std::string("a\x01.dll"), "a\tb", "a\nb", "a\rb", std::string("a\x7F"),
        std::string("a\0b", 3),                                  // embedded NUL
        "\x81",                                                  // lone GBK lead byte: not text
        "NUL", "nul.txt", "bin\\CON", "Com1.log", "lpt9", "AUX .dat", "prn\\a.dll", "conout$",   // devices
        "誠..\\a.dat",   // D5 5C 2E 2E: "誠.." (the 0x5C a trail byte), which Windows trims to "誠"
        "a.dll.", "a.dll ", "a.dll. .", "bin.\\a.dll", "bin \\a.dll", "a..", "a.\\b", ".",   // Windows trims them
        "PROGRA~1\\a.dll", "a~1.dll", "bin\\QOVA~12.DLL", "ab~1.", "地图~1\\a.dat",           // short aliases
    };
    for (const std::string& strName : unsafe) EXPECT_FALSE(IsSafeManifestName(strName)) << strName;
}

TEST_F(CompareProgramTest, TheGateDecidesWhetherFilesAreCompared) {
    struct Case {
        const char* pszOffered;
        const char* pszRegion;
        const char* pszUnconditional;   // nullptr: key absent
        const char* pszInstalledVersion;
        const char* pszInstalledRegion;
        int nResult;
    } cases[] = {
        {"4.0.1007.0715", "CN", nullptr, "4.0.1007.0715", "CN", 1},   // same version
        {"4.0.1007.0715", "CN", "0", "4.0.1007.0715", "CN", 1},
        {"4.0.1006", "CN", nullptr, "4.0.1007.0715", "CN", 1},        // older
        {"4.0.1008.0101", "CN", nullptr, "4.0.1007.0715", "CN", 0},   // newer
        {"4.0.999", "CN", nullptr, "4.0.1000", "CN", 0},              // newer as text
        {"10.0", "CN", nullptr, "9.0", "CN", 1},                      // older as text
        {"4.0.1006", "cn", nullptr, "4.0.1007.0715", "CN", 0},        // region differs in case only
        {"4.0.1006", "TW", nullptr, "4.0.1007.0715", "CN", 0},        // other region, older version
        {"4.0.1007.0715", "CN", "1", "4.0.1007.0715", "CN", 0},       // unconditional
        {"4.0.1006", "CN", "2", "4.0.1007.0715", "CN", 0},
        {"4.0.1", "CN", nullptr, "", "CN", 0},                        // nothing installed yet
        {"", "", nullptr, "", "", 1},                                 // empty header, empty install
    };
    Install("a.dll", "changed");   // differs from the manifest: listed whenever compared
    Publish(ProgramManifest("", "", nullptr, {}));
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.pszOffered) + " / " + c.pszRegion + " over " + c.pszInstalledVersion + " / " +
                     c.pszInstalledRegion);
        Publish(ProgramManifest(c.pszOffered, c.pszRegion, c.pszUnconditional,
                                {{"a.dll", kAlphaMD5, "5", "2012-07-15 09:05:31"}}));
        m_request.strVersion = c.pszInstalledVersion;
        m_request.strRegion = c.pszInstalledRegion;
        m_vecList.clear();
        EXPECT_EQ(c.nResult, Compare());
        EXPECT_EQ(c.nResult == 0 ? 1u : 0u, m_vecList.size());
    }
}

TEST_F(CompareProgramTest, ListsChangedAndMissingFilesWithTheManifestsValues) {
    Install("same.dll", "alpha");
    Install("changed.dll", "old");
    Install("bin\\plugins\\p.dll", "gamma");
    Install("bin\\changed.dat", "old");
    Publish(ProgramManifest("4.0.1008.0101", "CN", nullptr,
                            {
                                {"same.dll", kAlphaMD5, "5", "2012-07-01 10:00:00"},
                                {"changed.dll", kBetaMD5, "4", "2012-07-02 10:00:00"},
                                {"missing.exe", kGammaMD5, "5", "2012-07-03 10:00:00"},
                                {"bin\\plugins\\p.dll", kGammaMD5, "5", "2012-07-04 10:00:00"},
                                {"bin\\changed.dat", kAlphaMD5, "5", "2012-07-05 10:00:00"},
                                {"bin\\new\\n.dll", kBetaMD5, "4", "2012-07-06 10:00:00"},
                            }));
    ASSERT_EQ(0, Compare());
    ASSERT_EQ(4u, m_vecList.size());
    const S_UpdateFileInfo expected[] = {
        {"changed.dll", "2012-07-02 10:00:00", "4", kBetaMD5},
        {"missing.exe", "2012-07-03 10:00:00", "5", kGammaMD5},
        {"bin\\changed.dat", "2012-07-05 10:00:00", "5", kAlphaMD5},
        {"bin\\new\\n.dll", "2012-07-06 10:00:00", "4", kBetaMD5},
    };
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(expected[i].strFileName, m_vecList[i].strFileName);
        EXPECT_EQ(expected[i].strModifyTime, m_vecList[i].strModifyTime);
        EXPECT_EQ(expected[i].strSize, m_vecList[i].strSize);
        EXPECT_EQ(expected[i].strMD5, m_vecList[i].strMD5);
    }
}

TEST_F(CompareProgramTest, DigestsAreComparedAsExactBytes) {
    Install("a.dll", "alpha");
    Install("b.dll", "beta");
    Install("c.dll", "gamma");
    Publish(ProgramManifest("5", "CN", nullptr,
                            {
                                {"a.dll", "2C1743A391305FBF367DF8E4F069F9F9", "5", "t"},  // upper case
                                {"b.dll", kBetaMD5, "4", "t"},                            // matches
                                {"c.dll", std::string(kGammaMD5) + "0", "5", "t"},        // longer
                            }));
    ASSERT_EQ(0, Compare());
    EXPECT_EQ((std::vector<std::string>{"a.dll", "c.dll"}), Names(m_vecList));
}

TEST_F(CompareProgramTest, AFilesKeyWithoutItsSectionListsEmptyValues) {
    Install("present.dll", "");   // even an empty file has a digest, never the empty text
    Publish(ProgramManifest("5", "CN", nullptr,
                            {{"present.dll", "", "", "", false}, {"absent.dll", "", "", "", false}}));
    ASSERT_EQ(0, Compare());
    ASSERT_EQ((std::vector<std::string>{"present.dll", "absent.dll"}), Names(m_vecList));
    for (const S_UpdateFileInfo& info : m_vecList) {
        EXPECT_EQ("", info.strMD5);
        EXPECT_EQ("", info.strSize);
        EXPECT_EQ("", info.strModifyTime);
    }
}

TEST_F(CompareProgramTest, AnInstalledNameThatCannotBeDigestedIsListed) {
    // A directory where the manifest expects a file: it exists but has no digest.
    ASSERT_TRUE(WriteFileBytes(m_request.strRootPath + "plugins\\inner.txt", "x"));
    Publish(ProgramManifest("5", "CN", nullptr, {{"plugins", kAlphaMD5, "5", "t"}}));
    ASSERT_EQ(0, Compare());
    EXPECT_EQ((std::vector<std::string>{"plugins"}), Names(m_vecList));
}

TEST_F(CompareProgramTest, MissingOrEmptyFileListsGiveMinusOne) {
    struct Case {
        const char* pszWhat;
        bool bWrite;
        std::string strText;
        int nResult;
    } cases[] = {
        {"no manifest", false, "", -1},
        {"no FILES section", true, "[Version]\r\nVERSION=5\r\nREGION=CN\r\n", -1},
        {"empty FILES section", true, "[Version]\r\nVERSION=5\r\nREGION=CN\r\n[FILES]\r\n[a.dll]\r\nMD5=x\r\n", -1},
        {"empty file, other region installed", true, "", -1},
        {"only FILES, no header", true, "[FILES]\r\na.dll=1\r\n", 0},   // "" region differs from "CN"
    };
    Install("a.dll", "alpha");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        DeleteFileA(m_request.strConfigFile.c_str());
        if (c.bWrite) Publish(c.strText);
        m_vecList.clear();
        EXPECT_EQ(c.nResult, Compare());
        EXPECT_EQ(c.nResult == 0 ? 1u : 0u, m_vecList.size());
    }
}

TEST_F(CompareProgramTest, AnEmptyManifestMatchingAnEmptyInstallationHasNothingToDo) {
    Publish("");
    m_request.strVersion = "";
    m_request.strRegion = "";
    EXPECT_EQ(1, Compare());
    EXPECT_TRUE(m_vecList.empty());
}

TEST_F(CompareProgramTest, AppendsAfterEntriesTheListAlreadyHolds) {
    m_vecList.push_back({"earlier.dll", "t0", "1", "m0"});
    Publish(ProgramManifest("5", "CN", nullptr, {{"z.dll", kAlphaMD5, "5", "t1"}, {"a.dll", kBetaMD5, "4", "t2"}}));
    ASSERT_EQ(0, Compare());
    // Manifest order, not sorted; the earlier entry untouched.
    EXPECT_EQ((std::vector<std::string>{"earlier.dll", "z.dll", "a.dll"}), Names(m_vecList));
    EXPECT_EQ("m0", m_vecList[0].strMD5);
}

TEST_F(CompareProgramTest, ChineseNamesWithTrailByteBackslashAreLookedUpUnchanged) {
    Install("誠.dat", "alpha");
    Install("診\\誠.dll", "old");
    Publish(ProgramManifest("5", "CN", nullptr,
                            {{"誠.dat", kAlphaMD5, "5", "t"}, {"診\\誠.dll", kBetaMD5, "4", "t"}}));
    ASSERT_EQ(0, Compare());
    EXPECT_EQ((std::vector<std::string>{"診\\誠.dll"}), Names(m_vecList));
}

TEST_F(CompareProgramTest, UnsafeNamesAreNeverListed) {
    // A real file outside the root that an escaping name would reach, and differ from.
    ASSERT_TRUE(WriteFileBytes(m_tmp / "outside.dll", "old"));
    const std::string strOutside = m_tmp / "outside.dll";
    const std::vector<std::string> vecUnsafe = {
        "..\\outside.dll", "../outside.dll", "bin\\..\\..\\outside.dll", strOutside,
        "\\\\127.0.0.1\\c$\\x.dll", "\\x.dll", "/x.dll", "a.dll:evil", "C:x.dll", "bad\x01.dll", "bad\x7F.dll",
    };
    std::vector<ManifestFile> vecFiles = {{"first.dll", kAlphaMD5, "5", "t"}};
    for (const std::string& strName : vecUnsafe) vecFiles.push_back({strName, kBetaMD5, "4", "t"});
    vecFiles.push_back({"last.dll", kGammaMD5, "5", "t"});
    Publish(ProgramManifest("5", "CN", nullptr, vecFiles));

    ASSERT_EQ(0, Compare());
    EXPECT_EQ((std::vector<std::string>{"first.dll", "last.dll"}), Names(m_vecList));
}

}  // namespace
