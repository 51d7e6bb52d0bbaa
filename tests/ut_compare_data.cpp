#include <gtest/gtest.h>
#include <windows.h>
#include <bcrypt.h>

#include <cstdio>
#include <string>
#include <vector>

#include "manifest/CompareDataFiles.h"
#include "manifest/CompareProgramFiles.h"
#include "platform/base/Win32Handles.h"
#include "platform/fs/DigestCache.h"
#include "platform/fs/FileContents.h"
#include "platform/ini/ConfigFile.h"
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

// The kept digests: a file is read again exactly when its contents may have
// changed, and what is listed never depends on the cache.
TEST(DigestCache, UnchangedFilesAreNotReadAndEveryChangeIsStillSeen) {
    struct Case {
        const char* pszWhat;
        void (*change)(const std::string& strRoot, const std::string& strCache);
        unsigned long nReads;                // files read by the comparison after the change
        bool bListed;                        // a.dat listed
        long nReadsAfter;                    // by the one after that; -1: depends on timing
        const char* pszMovedTo = "";         // the root's new name after the change
    } cases[] = {
        {"unchanged", [](const std::string&, const std::string&) {}, 0, false, 0},
        {"same size, last-write time put back",
         [](const std::string& strRoot, const std::string&) {
             const std::string strPath = strRoot + "a.dat";
             FILETIME ftWrite = {};
             UniqueFile hOld(CreateFileA(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                         nullptr));
             GetFileTime(hOld.get(), nullptr, nullptr, &ftWrite);
             hOld.reset();
             ASSERT_TRUE(WriteFileBytes(strPath, "ALPHA"));
             UniqueFile hNew(CreateFileA(strPath.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                         OPEN_EXISTING, 0, nullptr));
             ASSERT_TRUE(SetFileTime(hNew.get(), nullptr, nullptr, &ftWrite));
         },
         1, true, -1},
        {"replaced by another file with the same times",
         [](const std::string& strRoot, const std::string&) {
             const std::string strPath = strRoot + "a.dat";
             ASSERT_TRUE(WriteFileBytes(strRoot + "other.tmp", "ALPHA"));
             WIN32_FILE_ATTRIBUTE_DATA old = {};
             ASSERT_TRUE(GetFileAttributesExA(strPath.c_str(), GetFileExInfoStandard, &old));
             UniqueFile hNew(CreateFileA((strRoot + "other.tmp").c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ,
                                         nullptr, OPEN_EXISTING, 0, nullptr));
             ASSERT_TRUE(SetFileTime(hNew.get(), &old.ftCreationTime, nullptr, &old.ftLastWriteTime));
             hNew.reset();
             ASSERT_TRUE(MoveFileExA((strRoot + "other.tmp").c_str(), strPath.c_str(), MOVEFILE_REPLACE_EXISTING));
         },
         1, true, -1},
        {"digests kept longer than 7 days ago",
         [](const std::string&, const std::string& strCache) {
             // Every entry's hashing time set to the epoch, the section's checksum made anew.
             std::string strBytes = ReadFileBytes(strCache);
             const size_t nHead = strBytes.find("\r\n") + 2, nBody = strBytes.find("\r\n", nHead) + 2;
             std::string strHead = strBytes.substr(nHead, nBody - 2 - nHead), strBody;
             for (size_t nAt = nBody; nAt < strBytes.size();) {
                 const size_t nEnd = strBytes.find("\r\n", nAt);
                 const std::string strLine = strBytes.substr(nAt, nEnd - nAt);
                 strBody += strLine.substr(0, strLine.rfind('\t')) + "\t1\r\n";
                 nAt = nEnd + 2;
             }
             strHead.erase(strHead.rfind('\t'));   // "@\t<key>\t<count>"
             char szSum[17];
             snprintf(szSum, sizeof(szSum), "%llx", ContentChecksum(strHead.substr(2) + "\r\n" + strBody));
             ASSERT_TRUE(WriteFileBytes(strCache, strBytes.substr(0, nHead) + strHead + "\t" + szSum + "\r\n" + strBody));
         },
         2, false, 0},
        {"damaged cache",
         [](const std::string&, const std::string& strCache) {
             std::string strBytes = ReadFileBytes(strCache);
             ASSERT_GT(strBytes.size(), 60u);
             strBytes[strBytes.size() - 40] ^= 1;   // inside a digest: the section's checksum fails
             ASSERT_TRUE(WriteFileBytes(strCache, strBytes));
         },
         2, false, 0},
        {"cache garbage", [](const std::string&, const std::string& strCache) {
             ASSERT_TRUE(WriteFileBytes(strCache, "QOVA digest cache 2\r\n@\tMD5\t"));
         },
         2, false, 0},
        {"cache from another directory",
         [](const std::string& strRoot, const std::string&) {
             // The files keep their index and times when their directory moves.
             const std::string strDir = strRoot.substr(0, strRoot.size() - 1);
             ASSERT_TRUE(MoveFileA(strDir.c_str(), (strDir + "-old").c_str()));
             ASSERT_TRUE(MoveFileA((strDir + "-old").c_str(), (strDir + "-moved").c_str()));
         },
         2, false, 0, "-moved"},
    };

    TempDir tmp;
    const std::string strManifest = tmp / "config.ini";
    ASSERT_TRUE(WriteFileBytes(strManifest, "[a.dat]\r\nMD5=2c1743a391305fbf367df8e4f069f9f9\r\n"
                                            "[sub\\b.dat]\r\nMD5=987bcab01b929eb2c07877b224215c92\r\n"));
    const size_t nCases = sizeof(cases) / sizeof(cases[0]);
    for (size_t i = 0; i < nCases; ++i) {
        ASSERT_TRUE(WriteFileBytes(tmp / ("root" + std::to_string(i) + "\\a.dat"), "alpha"));
        ASSERT_TRUE(WriteFileBytes(tmp / ("root" + std::to_string(i) + "\\sub\\b.dat"), "beta"));
    }
    Sleep(1100);   // digests of files changed within the last second are not kept

    // One comparison through the cache: the files it read, the names it listed.
    auto compare = [&](const std::string& strRoot, const std::string& strCache, std::vector<std::string>& vecListed) {
        CConfigFile manifest(strManifest);
        std::vector<std::string> vecNames;
        manifest.ReadSections(vecNames);
        CDigestCache digests(BCRYPT_MD5_ALGORITHM, strCache, strRoot);
        std::vector<S_UpdateFileInfo> vecFiles;
        for (const std::string& strName : vecNames) AppendIfChanged(manifest, digests, strName, vecFiles);
        digests.Save();
        vecListed = Names(vecFiles);
        return digests.FilesRead();
    };
    for (size_t i = 0; i < nCases; ++i) {
        SCOPED_TRACE(cases[i].pszWhat);
        std::string strRoot = tmp / ("root" + std::to_string(i) + "\\");
        const std::string strCache = tmp / ("UPDATE\\cache" + std::to_string(i));
        std::vector<std::string> vecListed;
        EXPECT_EQ(2u, compare(strRoot, strCache, vecListed));
        EXPECT_TRUE(vecListed.empty());

        cases[i].change(strRoot, strCache);
        strRoot = tmp / ("root" + std::to_string(i) + cases[i].pszMovedTo + "\\");
        EXPECT_EQ(cases[i].nReads, compare(strRoot, strCache, vecListed));
        EXPECT_EQ(cases[i].bListed ? std::vector<std::string>{"a.dat"} : std::vector<std::string>{}, vecListed);
        const unsigned long nReadsAfter = compare(strRoot, strCache, vecListed);
        if (cases[i].nReadsAfter >= 0) EXPECT_EQ(static_cast<unsigned long>(cases[i].nReadsAfter), nReadsAfter);
        EXPECT_EQ(cases[i].bListed ? std::vector<std::string>{"a.dat"} : std::vector<std::string>{}, vecListed);
    }

    // A cache that cannot be written: every run reads every file, and lists alike.
    const std::string strRoot = tmp / "root0\\";
    const std::string strBlocked = tmp / "config.ini\\cache";   // below a file
    std::vector<std::string> vecListed;
    EXPECT_EQ(2u, compare(strRoot, strBlocked, vecListed));
    EXPECT_EQ(2u, compare(strRoot, strBlocked, vecListed));
    EXPECT_TRUE(vecListed.empty());
}

}  // namespace
