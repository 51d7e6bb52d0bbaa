#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "platform/base/Win32Handles.h"
#include "platform/fs/MD5.h"
#include "support/TempDir.h"

TEST(MD5, KnownVectorsAndBufferBoundaries) {
    TempDir tmp;
    struct Case {
        std::string strContent;
        const char* pszDigest;
    };
    const Case cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
        {PseudoRandomBytes(1024 * 1024), "5eac8d0ba620099beaec1fec522a6be1"},       // exactly one buffer
        {PseudoRandomBytes(1024 * 1024 + 1), "8e76e245f941df0f3999704c6207a25b"},   // one byte more
        {PseudoRandomBytes(3 * 1024 * 1024 + 17), "7934c6891a24db4966537637e7947f1b"},
    };
    // One object for all files, as the callers use it; a stale out value is replaced.
    CMD5 md5;
    int n = 0;
    for (const Case& c : cases) {
        const std::string strPath = tmp / ("f" + std::to_string(n++) + ".bin");
        ASSERT_TRUE(WriteFileBytes(strPath, c.strContent));
        std::string strDigest = "stale";
        EXPECT_EQ(0, md5.GetFileMD5(strPath.c_str(), strDigest)) << c.strContent.size();
        EXPECT_EQ(c.pszDigest, strDigest) << c.strContent.size() << " bytes";
    }
}

TEST(MD5, FailuresLeaveAnEmptyDigestAndDoNotSpoilTheNextFile) {
    TempDir tmp;
    ASSERT_TRUE(WriteFileBytes(tmp / "誠\\診.dll", "abc"));
    ASSERT_TRUE(CreateDirectoryA((tmp / "dir").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(tmp / "locked.dll", "abc"));
    UniqueFile hLock(CreateFileA((tmp / "locked.dll").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(hLock);

    CMD5 md5;
    const std::string failing[] = {tmp / "missing.dll", tmp / "dir", tmp / "locked.dll", ""};
    for (const std::string& strPath : failing) {
        std::string strDigest = "stale";
        EXPECT_EQ(-1, md5.GetFileMD5(strPath.c_str(), strDigest)) << strPath;
        EXPECT_EQ("", strDigest) << strPath;
        std::string strGood;
        EXPECT_EQ(0, md5.GetFileMD5((tmp / "誠\\診.dll").c_str(), strGood)) << "after " << strPath;
        EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", strGood) << "after " << strPath;
    }
    std::string strDigest = "stale";
    EXPECT_EQ(-1, md5.GetFileMD5(nullptr, strDigest));
    EXPECT_EQ("", strDigest);
}

// The installed file may be open in a running program (shared for reading and
// deleting) or being written by a download (shared for reading).
TEST(MD5, ReadsFilesThatOthersHoldOpen) {
    TempDir tmp;
    ASSERT_TRUE(WriteFileBytes(tmp / "running.exe", "abc"));
    ASSERT_TRUE(WriteFileBytes(tmp / "writing.dat", "a"));
    UniqueFile hRunning(CreateFileA((tmp / "running.exe").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
    UniqueFile hWriting(CreateFileA((tmp / "writing.dat").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(hRunning);
    ASSERT_TRUE(hWriting);
    CMD5 md5;
    std::string strDigest;
    EXPECT_EQ(0, md5.GetFileMD5((tmp / "running.exe").c_str(), strDigest));
    EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", strDigest);
    EXPECT_EQ(0, md5.GetFileMD5((tmp / "writing.dat").c_str(), strDigest));
    EXPECT_EQ("0cc175b9c0f1b6a831c399e269772661", strDigest);
}
