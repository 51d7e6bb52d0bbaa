#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "manifest/CompareDataFiles.h"
#include "support/TempDir.h"

namespace {

const char kAlphaMD5[] = "2c1743a391305fbf367df8e4f069f9f9";   // "alpha"
const char kBetaMD5[] = "987bcab01b929eb2c07877b224215c92";    // "beta"

std::string Section(const std::string& strName, const std::string& strMD5, const std::string& strSize,
                    const std::string& strTime) {
    return "[" + strName + "]\r\nMD5=" + strMD5 + "\r\nSIZE=" + strSize + "\r\nMODIFYTIME=" + strTime + "\r\n";
}

std::vector<std::string> Names(const std::vector<S_UpdateFileInfo>& vecFiles) {
    std::vector<std::string> vecNames;
    for (const S_UpdateFileInfo& info : vecFiles) vecNames.push_back(info.strFileName);
    return vecNames;
}

class CompareDataTest : public ::testing::Test {
protected:
    void Install(const std::string& strName, const std::string& strBytes) {
        ASSERT_TRUE(WriteFileBytes(m_strRoot + strName, strBytes));
    }
    void Publish(const std::string& strText) { ASSERT_TRUE(WriteFileBytes(m_strManifest, Gbk(strText))); }
    void Compare() { CompareDataFiles(m_strManifest, m_strRoot, m_vecList); }

    TempDir m_tmp;
    std::string m_strRoot = m_tmp / "maps\\";
    std::string m_strManifest = m_tmp / "UPDATE\\maps\\config.ini";
    std::vector<S_UpdateFileInfo> m_vecList;
};

TEST_F(CompareDataTest, NothingIsListedWithoutAManifestOrWhenAllFilesMatch) {
    Install("city.dat", "alpha");
    Install("roads\\r.dat", "beta");
    Compare();   // config.ini not fetched
    EXPECT_TRUE(m_vecList.empty());

    Publish("");
    Compare();
    EXPECT_TRUE(m_vecList.empty());

    Publish(Section("city.dat", kAlphaMD5, "5", "t1") + Section("roads\\r.dat", kBetaMD5, "4", "t2"));
    Compare();
    EXPECT_TRUE(m_vecList.empty());
}

TEST_F(CompareDataTest, EverySectionIsAFileAndTheDigestsAloneDecide) {
    Install("city.dat", "alpha");
    Install("changed.dat", "old");
    Install("nomd5.dat", "alpha");
    Install("Version", "alpha");
    Install("roads\\r.dat", "old");
    Publish(
        // A program manifest's header means nothing here: "Version" is a file.
        "[Version]\r\nVERSION=1\r\nREGION=CN\r\n" +
        Section("city.dat", kAlphaMD5, "5", "t1") +
        Section("changed.dat", kBetaMD5, "4", "t2") +
        Section("missing.dat", kAlphaMD5, "5", "t3") +
        "[nomd5.dat]\r\nSIZE=5\r\n" +
        Section("roads\\r.dat", kBetaMD5, "4", "t4") +
        Section("new\\deep\\n.dat", kBetaMD5, "4", "t5"));
    m_vecList.push_back({"kept.dat", "t0", "0", "m0"});
    Compare();

    const S_UpdateFileInfo expected[] = {
        {"kept.dat", "t0", "0", "m0"},
        {"Version", "", "", ""},
        {"changed.dat", "t2", "4", kBetaMD5},
        {"missing.dat", "t3", "5", kAlphaMD5},
        {"nomd5.dat", "", "5", ""},
        {"roads\\r.dat", "t4", "4", kBetaMD5},
        {"new\\deep\\n.dat", "t5", "4", kBetaMD5},
    };
    ASSERT_EQ(sizeof(expected) / sizeof(expected[0]), m_vecList.size());
    for (size_t i = 0; i < m_vecList.size(); ++i) {
        SCOPED_TRACE(expected[i].strFileName);
        EXPECT_EQ(expected[i].strFileName, m_vecList[i].strFileName);
        EXPECT_EQ(expected[i].strModifyTime, m_vecList[i].strModifyTime);
        EXPECT_EQ(expected[i].strSize, m_vecList[i].strSize);
        EXPECT_EQ(expected[i].strMD5, m_vecList[i].strMD5);
    }
}

TEST_F(CompareDataTest, AnUppercaseDigestDiffers) {
    Install("city.dat", "alpha");
    Publish(Section("city.dat", "2C1743A391305FBF367DF8E4F069F9F9", "5", "t"));
    Compare();
    EXPECT_EQ((std::vector<std::string>{"city.dat"}), Names(m_vecList));
}

TEST_F(CompareDataTest, UnsafeSectionNamesAreSkippedAndTheRestCompared) {
    ASSERT_TRUE(WriteFileBytes(m_tmp / "secret.dat", "old"));
    Install("誠.dat", "alpha");
    const std::string vecUnsafe[] = {
        "..\\secret.dat", "../secret.dat", "a\\..\\..\\secret.dat", "a/../../secret.dat", m_tmp / "secret.dat",
        "\\secret.dat", "/secret.dat", "\\\\127.0.0.1\\c$\\secret.dat", "C:secret.dat", "city.dat:stream",
        "ctl\x02.dat", "..",
    };
    std::string strText = Section("誠.dat", kAlphaMD5, "5", "t");
    for (const std::string& strName : vecUnsafe) strText += Section(strName, kBetaMD5, "4", "t");
    strText += Section("new.dat", kBetaMD5, "4", "t");
    Publish(strText);
    Compare();
    EXPECT_EQ((std::vector<std::string>{"new.dat"}), Names(m_vecList));
}

}  // namespace
