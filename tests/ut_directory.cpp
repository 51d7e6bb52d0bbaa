#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/base/Text.h"
#include "platform/base/Win32Handles.h"
#include "platform/fs/DirectoryEx.h"
#include "support/DirectoryLinks.h"
#include "support/TempDir.h"

namespace {

bool IsDir(const std::string& strPath) {
    const DWORD dwAttr = GetFileAttributesW(Utf8ToWide(strPath).c_str());
    return dwAttr != INVALID_FILE_ATTRIBUTES && (dwAttr & FILE_ATTRIBUTE_DIRECTORY);
}

bool Exists(const std::string& strPath) { return GetFileAttributesW(Utf8ToWide(strPath).c_str()) != INVALID_FILE_ATTRIBUTES; }

std::vector<std::string> EntryNames(const std::string& strDir) {
    std::vector<std::string> vecNames;
    WIN32_FIND_DATAW fd;
    UniqueFind hFind(FindFirstFileW(Utf8ToWide(strDir + "*").c_str(), &fd));
    if (!hFind) return vecNames;
    do {
        const std::string strName = WideToUtf8(fd.cFileName);
        if (strName != "." && strName != "..") vecNames.push_back(strName);
    } while (FindNextFileW(hFind.get(), &fd));
    std::sort(vecNames.begin(), vecNames.end());
    return vecNames;
}

}  // namespace

TEST(DirectoryEx, ApplicationPathIsTheProgramsDirectoryNotTheWorkingDirectory) {
    TempDir tmp;
    char szCwd[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, szCwd);
    SetCurrentDirectoryA(tmp.Path().c_str());
    std::string strPath = "stale";
    const long nResult = CDirectoryEx::GetApplicationPath(strPath);
    SetCurrentDirectoryA(szCwd);

    EXPECT_EQ(0, nResult);
    EXPECT_EQ(TestProgramDir(), strPath);
    ASSERT_FALSE(strPath.empty());
    EXPECT_EQ('\\', strPath.back());
    EXPECT_TRUE(FileExists(strPath + "ut_directory.exe"));
}

TEST(DirectoryEx, FilePathTable) {
    struct Case {
        const char* pszPath;
        const char* pszDir;
        long nResult;
    };
    const Case cases[] = {
        {"C:\\App\\UPDATE\\Program\\bin\\a.dll", "C:\\App\\UPDATE\\Program\\bin", 0},
        {"C:\\App\\Config.dat", "C:\\App", 0},
        {"C:\\a.dll", "C:\\", 0},
        {"C:\\App\\sub\\", "C:\\App\\sub", 0},
        {"C:\\App\\\\a.dll", "C:\\App", 0},
        {"C:/App/x/y.txt", "C:/App/x", 0},
        {"\\\\server\\share\\a.dll", "\\\\server\\share", 0},
        {"relative\\a.dll", "relative", 0},
        {"a.dll", "", -1},
        {"", "", -1},
        // 誠 is D5 5C, 診 is D4 5C in GBK: paths are UTF-8 inside, so no byte of theirs is '\'.
        {"C:\\App\\誠", "C:\\App", 0},
        {"C:\\App\\誠\\a.dll", "C:\\App\\誠", 0},
        {"C:\\診\\誠\\城市.txt", "C:\\診\\誠", 0},
        {"C:\\誠誠.dll", "C:\\", 0},
    };
    for (const Case& c : cases) {
        std::string strDir = "stale";
        EXPECT_EQ(c.nResult, CDirectoryEx::GetFilePath(c.pszPath, strDir)) << c.pszPath;
        EXPECT_EQ(c.pszDir, strDir) << c.pszPath;
    }
}

TEST(DirectoryEx, CreateMultipleDirectoryCreatesEveryParent) {
    TempDir tmp;
    const std::string cases[] = {
        tmp / "UPDATE\\Program\\bin",
        tmp / "UPDATE\\Program\\data\\",      // trailing separator accepted
        tmp / "誠\\診\\城市",                   // GBK trail bytes 0x5C inside names
        tmp / "安装䶮Şükrü\\子",                 // outside GBK and every ANSI code page but one
        tmp / "a/b/c",
    };
    for (const std::string& strDir : cases) {
        EXPECT_EQ(0, CDirectoryEx::CreateMultipleDirectory(strDir)) << strDir;
        EXPECT_TRUE(IsDir(strDir)) << strDir;
        EXPECT_EQ(0, CDirectoryEx::CreateMultipleDirectory(strDir)) << "exists already: " << strDir;
    }
    // The byte before a 0x5C trail byte must not have become a directory of its own.
    std::vector<std::string> vecExpected = {"UPDATE", "a", "安装䶮Şükrü", "誠"};
    std::sort(vecExpected.begin(), vecExpected.end());
    EXPECT_EQ(vecExpected, EntryNames(tmp.Path()));
    EXPECT_EQ(std::vector<std::string>{"診"}, EntryNames(tmp / "誠\\"));

    // A file in the way: the directory cannot exist afterwards.
    ASSERT_TRUE(WriteFileBytes(tmp / "file", "x"));
    EXPECT_EQ(-1, CDirectoryEx::CreateMultipleDirectory(tmp / "file\\sub"));
    EXPECT_EQ(-1, CDirectoryEx::CreateMultipleDirectory(""));
}

TEST(DirectoryEx, DeleteDirectoryRemovesTreeWithReadOnlyAndGbkNames) {
    TempDir tmp;
    const std::string strRoot = tmp / "UPDATE\\Program\\";
    ASSERT_TRUE(WriteFileBytes(strRoot + "a.dll", "a"));
    ASSERT_TRUE(WriteFileBytes(strRoot + "bin\\b.dll", "b"));
    ASSERT_TRUE(WriteFileBytes(strRoot + "誠\\診.txt", "c"));
    ASSERT_TRUE(WriteFileBytes(strRoot + "deep\\er\\and\\deeper\\d.txt", "d"));
    ASSERT_TRUE(CreateDirectoryA((strRoot + "empty").c_str(), nullptr));
    ASSERT_TRUE(SetFileAttributesA((strRoot + "bin\\b.dll").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(SetFileAttributesA((strRoot + "bin").c_str(), FILE_ATTRIBUTE_READONLY));

    CDirectoryEx::DeleteDirectory(strRoot);
    EXPECT_FALSE(Exists(strRoot));
    EXPECT_TRUE(IsDir(tmp / "UPDATE"));   // only what was named goes

    CDirectoryEx::DeleteDirectory(strRoot);   // missing: nothing happens
    CDirectoryEx::DeleteDirectory("");
    EXPECT_TRUE(IsDir(tmp / "UPDATE"));
}

// A link inside the tree, or the tree itself being a link, is removed as a link
// (where the platform can tell it from its target) and its target is never touched:
// neither the files behind it nor an empty target directory.
TEST(DirectoryEx, DeleteDirectoryDoesNotFollowLinksOutOfTheTree) {
    TempDir tmp;
    DirectoryLinks links;
    const std::string strOutside = tmp / "outside";
    const std::string strEmptyOutside = tmp / "empty-outside";
    ASSERT_TRUE(WriteFileBytes(strOutside + "\\precious.txt", "keep"));
    ASSERT_TRUE(CreateDirectoryA(strEmptyOutside.c_str(), nullptr));
    const std::string strRoot = tmp / "staging";
    ASSERT_TRUE(WriteFileBytes(strRoot + "\\a.txt", "a"));
    ASSERT_TRUE(WriteFileBytes(strRoot + "\\sub\\b.txt", "b"));
    const std::string strKind = links.Create(strRoot + "\\sub\\link", strOutside);
    if (strKind.empty()) GTEST_SKIP() << "neither symbolic links nor junctions can be created here";
    ASSERT_EQ("keep", ReadFileBytes(strRoot + "\\sub\\link\\precious.txt")) << strKind << " leads nowhere";
    ASSERT_EQ(strKind, links.Create(strRoot + "\\empty-link", strEmptyOutside));

    CDirectoryEx::DeleteDirectory(strRoot + "\\");
    EXPECT_EQ("keep", ReadFileBytes(strOutside + "\\precious.txt")) << strKind;
    EXPECT_TRUE(IsDir(strEmptyOutside)) << strKind;
    EXPECT_FALSE(Exists(strRoot + "\\a.txt"));
    EXPECT_FALSE(Exists(strRoot + "\\sub\\b.txt"));
    if (strKind != "host symbolic link") EXPECT_FALSE(Exists(strRoot)) << strKind;

    ASSERT_EQ(strKind, links.Create(tmp / "direct", strEmptyOutside));
    CDirectoryEx::DeleteDirectory(tmp / "direct\\");
    EXPECT_TRUE(IsDir(strEmptyOutside)) << strKind;
    if (strKind != "host symbolic link") EXPECT_FALSE(Exists(tmp / "direct")) << strKind;
}

TEST(DirectoryEx, SearchFileFindsMatchesAtAndBelowTheDirectory) {
    TempDir tmp;
    const std::string strApp = tmp.Path();
    const char* files[] = {
        "top.bak", "a\\b\\c.dll.bak", "bin\\a.dll.bak", "誠\\診.bak", "UPPER.BAK",
        "keep.dll", "a\\x.bakup", "a\\b\\bak", "a\\b\\c.dll",
    };
    for (const char* pszFile : files) ASSERT_TRUE(WriteFileBytes(strApp + pszFile, "x"));
    ASSERT_TRUE(CreateDirectoryA((strApp + "dir.bak").c_str(), nullptr));   // a directory is no match

    std::vector<std::string> vecFound{"kept"};
    CDirectoryEx::SearchFile(strApp, true, "*.bak", vecFound);
    ASSERT_FALSE(vecFound.empty());
    EXPECT_EQ("kept", vecFound.front());   // appended, not replaced
    vecFound.erase(vecFound.begin());
    std::sort(vecFound.begin(), vecFound.end());
    std::vector<std::string> vecExpected = {
        strApp + "UPPER.BAK", strApp + "a\\b\\c.dll.bak", strApp + "bin\\a.dll.bak",
        strApp + "top.bak", strApp + "誠\\診.bak",
    };
    std::sort(vecExpected.begin(), vecExpected.end());
    EXPECT_EQ(vecExpected, vecFound);
    for (const std::string& strFile : vecFound) EXPECT_TRUE(FileExists(strFile)) << strFile;

    std::vector<std::string> vecTop;
    CDirectoryEx::SearchFile(strApp, false, "*.bak", vecTop);
    std::sort(vecTop.begin(), vecTop.end());
    EXPECT_EQ((std::vector<std::string>{strApp + "UPPER.BAK", strApp + "top.bak"}), vecTop);

    std::vector<std::string> vecNone;
    CDirectoryEx::SearchFile(strApp + "missing\\", true, "*.bak", vecNone);
    EXPECT_TRUE(vecNone.empty());
}

TEST(DirectoryEx, SearchFileDoesNotEnterLinks) {
    TempDir tmp;
    ASSERT_TRUE(WriteFileBytes(tmp / "outside\\foreign.bak", "x"));
    ASSERT_TRUE(WriteFileBytes(tmp / "app\\own.bak", "x"));
    DirectoryLinks links;
    const std::string strKind = links.Create(tmp / "app\\link", tmp / "outside");
    if (strKind.empty()) GTEST_SKIP() << "neither symbolic links nor junctions can be created here";
    ASSERT_TRUE(FileExists(tmp / "app\\link\\foreign.bak")) << strKind << " does not lead to its target";

    std::vector<std::string> vecFound;
    CDirectoryEx::SearchFile(tmp / "app\\", true, "*.bak", vecFound);
    EXPECT_EQ(std::vector<std::string>{tmp / "app\\own.bak"}, vecFound) << strKind;
}
