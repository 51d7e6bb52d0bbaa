#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "manifest/CompareDataFiles.h"
#include "manifest/CompareProgramFiles.h"
#include "manifest/FileDelta.h"
#include "manifest/ReleaseNames.h"
#include "platform/base/Win32Handles.h"
#include "platform/fs/DirectoryEx.h"
#include "platform/fs/MD5.h"
#include "platform/fs/Sha256.h"
#include "platform/ini/ConfigFile.h"
#include "support/TempDir.h"
#include "support/TestServer.h"
#include "support/ToolRun.h"

namespace {

ToolRun RunManifestTool(const TempDir& tmp, const std::string& strArgs) { return RunTool(tmp, "manifest " + strArgs); }

// A '\' right before the closing quote would escape it: double a trailing one.
std::string Quoted(const std::string& strPath) {
    const char* pszEnd = strPath.c_str() + strPath.size();
    const bool bTrailingSeparator =
        !strPath.empty() && *CharPrevExA(936, strPath.c_str(), pszEnd, 0) == '\\' && pszEnd[-1] == '\\';
    return "\"" + strPath + (bTrailingSeparator ? "\\" : "") + "\"";
}

// Sets the file's last write time to the given local time.
bool SetLocalWriteTime(const std::string& strPath, WORD wYear, WORD wMonth, WORD wDay, WORD wHour, WORD wMinute,
                       WORD wSecond) {
    SYSTEMTIME stLocal = {wYear, wMonth, 0, wDay, wHour, wMinute, wSecond, 0};
    SYSTEMTIME stUtc;
    FILETIME ft;
    if (!TzSpecificLocalTimeToSystemTime(nullptr, &stLocal, &stUtc) || !SystemTimeToFileTime(&stUtc, &ft)) return false;
    UniqueFile file(CreateFileA(strPath.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                nullptr));
    return file && SetFileTime(file.get(), nullptr, nullptr, &ft);
}

std::string Read(CConfigFile& manifest, const std::string& strSection, const std::string& strKey) {
    std::string strValue;
    manifest.ReadString(strSection, strKey, "", strValue);
    return strValue;
}

std::vector<std::string> Names(const std::vector<S_UpdateFileInfo>& vecFiles) {
    std::vector<std::string> vecNames;
    for (const S_UpdateFileInfo& info : vecFiles) vecNames.push_back(info.strFileName);
    return vecNames;
}

struct ReleaseFile {
    const char* pszName;
    std::string strBytes;
};

// In byte order: '.' < '\' < '_' and GBK lead bytes after ASCII.
const ReleaseFile kRelease[] = {
    {"QOVAClient.exe", "client"},
    {"Update.exe", "updater"},
    {"bin.txt", "notes"},
    {"bin\\a.dll", "library a"},
    {"bin\\plugins\\p.dll", std::string(70000, 'p')},
    {"bin_x\\b.dll", "library b"},
    {"data\\empty.bin", ""},
    {"誠\\診.dat", "gbk names"},
};

class ManifestToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const ReleaseFile& file : kRelease) {
            ASSERT_TRUE(WriteFileBytes(m_strRelease + file.pszName, file.strBytes));
            ASSERT_TRUE(WriteFileBytes(m_strInstall + file.pszName, file.strBytes));
        }
    }

    TempDir m_tmp;
    std::string m_strRelease = m_tmp / "release\\";
    std::string m_strInstall = m_tmp / "install\\";
};

TEST_F(ManifestToolTest, ProgramManifestDescribesEveryFileOfTheRelease) {
    ASSERT_TRUE(WriteFileBytes(m_strRelease + "UpdateConfig.ini", "stale manifest"));
    ASSERT_TRUE(SetLocalWriteTime(m_strRelease + "bin\\a.dll", 2012, 7, 15, 9, 5, 31));
    const ToolRun run = RunManifestTool(m_tmp, "program " + Quoted(m_strRelease) +
                                                   " --version 4.0.1008.0101 --region CN --unconditional 0 --notify 1 --rollout 10");
    ASSERT_EQ(0u, run.dwExit) << run.strError;

    CConfigFile manifest(m_strRelease + "UpdateConfig.ini");
    EXPECT_EQ("4.0.1008.0101", Read(manifest, "Version", "VERSION"));
    EXPECT_EQ("CN", Read(manifest, "Version", "REGION"));
    EXPECT_EQ("0", Read(manifest, "Version", "UNCONDITIONALUPDATE"));
    EXPECT_EQ("1", Read(manifest, "Version", "NOTIFIY"));
    EXPECT_EQ("10", Read(manifest, "Version", "ROLLOUT"));

    std::vector<std::string> vecExpected;
    for (const ReleaseFile& file : kRelease) vecExpected.push_back(file.pszName);
    std::vector<std::string> vecKeys;
    manifest.ReadSection("FILES", vecKeys);
    EXPECT_EQ(vecExpected, vecKeys);   // sorted by bytes, the manifest itself left out

    CMD5 md5;
    for (const ReleaseFile& file : kRelease) {
        SCOPED_TRACE(file.pszName);
        std::string strDigest;
        md5.GetFileMD5((m_strRelease + file.pszName).c_str(), strDigest);
        EXPECT_EQ(strDigest, Read(manifest, file.pszName, "MD5"));
        EXPECT_EQ(std::to_string(file.strBytes.size()), Read(manifest, file.pszName, "SIZE"));
        const std::string strTime = Read(manifest, file.pszName, "MODIFYTIME");
        ASSERT_EQ(19u, strTime.size());
        EXPECT_EQ("-- :: ", strTime.substr(4, 1) + strTime.substr(7, 1) + strTime.substr(10, 1) +
                               strTime.substr(13, 1) + strTime.substr(16, 1) + " ");
    }
    EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", Read(manifest, "data\\empty.bin", "MD5"));
    EXPECT_EQ("2012-07-15 09:05:31", Read(manifest, "bin\\a.dll", "MODIFYTIME"));
}

TEST_F(ManifestToolTest, AProgramManifestListsExactlyTheFilesThatDiffer) {
    const std::string strOut = m_tmp / "served\\UpdateConfig.ini";
    ASSERT_TRUE(WriteFileBytes(strOut, ""));
    const ToolRun run = RunManifestTool(m_tmp, "program " + Quoted(m_strRelease) + " --version 4.0.1008 --region CN -o " +
                                                   Quoted(strOut));
    ASSERT_EQ(0u, run.dwExit) << run.strError;

    ASSERT_TRUE(WriteFileBytes(m_strInstall + "bin\\a.dll", "library A"));
    ASSERT_TRUE(DeleteFileA((m_strInstall + "bin\\plugins\\p.dll").c_str()));
    ASSERT_TRUE(WriteFileBytes(m_strInstall + "誠\\診.dat", "gbk names, older"));
    ASSERT_TRUE(WriteFileBytes(m_strInstall + "data\\empty.bin", "no longer empty"));
    ASSERT_TRUE(WriteFileBytes(m_strInstall + "extra.txt", "not part of the release"));

    S_UpdateCheckInfo request{m_strInstall, strOut, "4.0.1007", "CN"};
    std::vector<S_UpdateFileInfo> vecList;
    ASSERT_EQ(0, CompareProgramFiles(request, vecList));
    EXPECT_EQ((std::vector<std::string>{"bin\\a.dll", "bin\\plugins\\p.dll", "data\\empty.bin", "誠\\診.dat"}),
              Names(vecList));
    ASSERT_EQ(4u, vecList.size());
    EXPECT_EQ("70000", vecList[1].strSize);
    EXPECT_EQ("0", vecList[2].strSize);

    // The same manifest against the release itself: nothing to do.
    request.strRootPath = m_strRelease;
    vecList.clear();
    ASSERT_EQ(0, CompareProgramFiles(request, vecList));
    EXPECT_TRUE(vecList.empty());
}

TEST_F(ManifestToolTest, ADataSetManifestListsExactlyTheFilesThatDiffer) {
    ASSERT_TRUE(WriteFileBytes(m_strRelease + "config.ini", "stale"));
    ASSERT_TRUE(WriteFileBytes(m_strRelease + "Version", "a file that looks like a header"));
    ASSERT_TRUE(WriteFileBytes(m_strInstall + "Version", "a file that looks like a header"));
    const ToolRun run = RunManifestTool(m_tmp, "data " + Quoted(m_strRelease));
    ASSERT_EQ(0u, run.dwExit) << run.strError;

    const std::string strManifest = m_strRelease + "config.ini";
    CConfigFile manifest(strManifest);
    std::vector<std::string> vecSections;
    manifest.ReadSections(vecSections);
    // No header in a data-set manifest: "Version" is just a file, sorted among the others.
    EXPECT_EQ((std::vector<std::string>{"QOVAClient.exe", "Update.exe", "Version", "bin.txt", "bin\\a.dll",
                                        "bin\\plugins\\p.dll", "bin_x\\b.dll", "data\\empty.bin", "誠\\診.dat"}),
              vecSections);

    ASSERT_TRUE(WriteFileBytes(m_strInstall + "Version", "changed"));
    ASSERT_TRUE(DeleteFileA((m_strInstall + "QOVAClient.exe").c_str()));
    std::vector<S_UpdateFileInfo> vecList;
    CompareDataFiles(strManifest, m_strInstall, vecList);
    EXPECT_EQ((std::vector<std::string>{"QOVAClient.exe", "Version"}), Names(vecList));
}

TEST_F(ManifestToolTest, AnOutputInsideTheDirectoryIsNotListed) {
    ASSERT_TRUE(WriteFileBytes(m_strRelease + "meta\\m.ini", "previous run"));
    const ToolRun run = RunManifestTool(m_tmp, "data " + Quoted(m_strRelease) + " -o " +
                                                   Quoted(m_strRelease + "META\\M.INI"));
    ASSERT_EQ(0u, run.dwExit) << run.strError;
    CConfigFile manifest(m_strRelease + "meta\\m.ini");
    std::vector<std::string> vecSections;
    manifest.ReadSections(vecSections);
    EXPECT_EQ(sizeof(kRelease) / sizeof(kRelease[0]), vecSections.size());
    for (const std::string& strName : vecSections) EXPECT_EQ(std::string::npos, strName.find("m.ini"));
    EXPECT_FALSE(FileExists(m_strRelease + "config.ini"));
}

TEST_F(ManifestToolTest, BadUsageExitsWithTwoAndOneLine) {
    const std::string strDir = Quoted(m_strRelease);
    const std::string cases[] = {
        "",
        "programs " + strDir + " --version 1",
        "program",
        "program " + strDir,                              // no version
        "program " + strDir + " --version",               // no value
        "program " + strDir + " --version \"\"",
        "program " + strDir + " --version 1",             // no region
        "program " + strDir + " --version 1 --region",
        "program " + strDir + " --version 1 --region CN --notify x",
        "program " + strDir + " --version 1 --region CN --unconditional -1",
        "program " + strDir + " --version 1 --region CN --colour red",
        "program " + strDir + " --version 1 --region CN --rollout 101",
        "program " + strDir + " --version 1 --region CN --rollout 5%",
        "data " + strDir + " --rollout 10",               // no [Version] to hold it
        "data " + strDir + " --version 1",                // data sets have no header
        "data " + strDir + " -o",
    };
    for (const std::string& strArgs : cases) {
        SCOPED_TRACE(strArgs);
        const ToolRun run = RunManifestTool(m_tmp, strArgs);
        EXPECT_EQ(2u, run.dwExit);
        ASSERT_FALSE(run.strError.empty());
        EXPECT_EQ(run.strError.size() - 1, run.strError.find('\n'));
    }
    EXPECT_FALSE(FileExists(m_strRelease + "UpdateConfig.ini"));
    EXPECT_FALSE(FileExists(m_strRelease + "config.ini"));
}

TEST_F(ManifestToolTest, RefusesToPublishNamesTheClientWouldMisread) {
    struct Case {
        const char* pszKind;
        const char* pszFile;
    } cases[] = {
        {"program", "Version"},     // would merge into the header section
        {"program", "files"},       // section names ignore letter case
        {"program", "a=b.dll"},     // the key would end at '='
        {"data", " lead.dll"},      // blanks around names are trimmed
        {"program", ";c.dll"},      // a comment line in "FILES"
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszFile);
        TempDir dir;
        ASSERT_TRUE(WriteFileBytes(dir / "ok.dll", "ok"));
        ASSERT_TRUE(WriteFileBytes(dir / c.pszFile, "x"));
        const ToolRun run = RunManifestTool(m_tmp, std::string(c.pszKind) + " " + Quoted(dir.Path()) +
                                                       (std::string(c.pszKind) == "program" ? " --version 1 --region \"\"" : ""));
        EXPECT_EQ(1u, run.dwExit);
        EXPECT_NE(std::string::npos, run.strError.find(c.pszFile)) << run.strError;
        EXPECT_FALSE(FileExists(dir / "UpdateConfig.ini"));
        EXPECT_FALSE(FileExists(dir / "config.ini"));
    }
}

TEST(ReleaseNames, TheClientsOwnStateIsNeverPartOfARelease) {
    const struct {
        const char* pszName;
        bool bState;
    } rows[] = {
        {"config.dat", true},   {"CONFIG.DAT", true},     {"UserConfig.dat", true}, {"UpdateRecord.dat", true},
        {"UPDATE\\x", true},    {"update/x", true},       {"a.bak", true},          {"bin\\a.dll.part", true},
        {"a.part.tag", true},   {"Update.exe", false},    {"UPDATEx\\a", false},    {"bin\\Config.dat", false},
        {"UPDATE", false},      {"a.bak.dll", false},     {"updatestate\\Update.log", true},
        {"UpdateStatex\\a", false},
    };
    for (const auto& row : rows) EXPECT_EQ(row.bState, IsClientStateName(row.pszName)) << row.pszName;
    const struct {
        const char* pszPattern;
        const char* pszName;
        bool bMatch;
    } patterns[] = {
        {"*.pdb", "bin\\A.PDB", true}, {"bin/*.map", "bin\\x.map", true}, {"logs", "logs\\a\\b.txt", true},
        {"?.dll", "誠.dll", true},       {"log", "logs\\a.txt", false},     {"*.pdb", "a.pdb.txt", false},
    };
    for (const auto& row : patterns) {
        EXPECT_EQ(row.bMatch, MatchesReleasePattern(row.pszPattern, row.pszName)) << row.pszPattern << " " << row.pszName;
    }
}

TEST_F(ManifestToolTest, TheClientsOwnStateAndFolderLitterAreLeftOutAndNamed) {
    const char* const kLeftOut[] = {"Config.dat", "UserConfig.dat", "UpdateRecord.dat", "UPDATE\\Update.log", "UpdateState\\Update.log",
                                    "UPDATE\\x",   "a.bak",          "bin\\a.dll.part",  "Thumbs.db",
                                    "bin\\desktop.ini", "old.sig"};
    for (const char* pszName : kLeftOut) ASSERT_TRUE(WriteFileBytes(m_strRelease + pszName, "not released"));
    ASSERT_TRUE(WriteFileBytes(m_strRelease + "bin\\a.pdb", "symbols"));
    ASSERT_TRUE(WriteFileBytes(m_strRelease + "logs\\run.txt", "log"));
    const ToolRun run = RunManifestTool(m_tmp, "program " + Quoted(m_strRelease) +
                                                   " --version 1 --region CN --exclude *.PDB --exclude logs");
    ASSERT_EQ(0u, run.dwExit) << run.strError;
    CConfigFile manifest(m_strRelease + "UpdateConfig.ini");
    std::vector<std::string> vecKeys;
    manifest.ReadSection("FILES", vecKeys);
    std::vector<std::string> vecExpected;
    for (const ReleaseFile& file : kRelease) vecExpected.push_back(file.pszName);   // Update.exe among them
    EXPECT_EQ(vecExpected, vecKeys);
    for (const char* pszName : kLeftOut) {
        EXPECT_NE(std::string::npos, run.strError.find(std::string("left out: ") + pszName + " (")) << run.strError;
    }
    EXPECT_NE(std::string::npos, run.strError.find("left out: bin\\a.pdb (--exclude *.PDB)")) << run.strError;
    EXPECT_NE(std::string::npos, run.strError.find("left out: logs\\run.txt (--exclude logs)")) << run.strError;
}

TEST_F(ManifestToolTest, AMissingDirectoryFails) {
    const ToolRun run = RunManifestTool(m_tmp, "program " + Quoted(m_tmp / "nowhere\\") + " --version 1 --region CN");
    EXPECT_EQ(1u, run.dwExit);
    EXPECT_FALSE(run.strError.empty());
}

// An executable-like file: structured, compressible, not repetitive.
std::string Program(unsigned nSeed, size_t cb) {
    std::mt19937 random(nSeed);
    std::string strBytes;
    while (strBytes.size() < cb) strBytes += "call " + std::to_string(random() % 5000) + "; ";
    return strBytes.substr(0, cb);
}

std::string Noise(unsigned nSeed, size_t cb) {
    std::mt19937 random(nSeed);
    std::string strBytes(cb, '\0');
    for (char& c : strBytes) c = static_cast<char>(random());
    return strBytes;
}

TEST_F(ManifestToolTest, DeltaFromEarlierReleasesListsPatchesAndCopiesThatSave) {
    const std::string strOld1 = m_tmp / "old1\\", strOld2 = m_tmp / "old2\\";
    const std::string strBig = Program(1, 300000);
    std::string strBigNew = strBig, strBigOld2 = strBig;
    strBigNew.replace(1000, 40, Program(2, 40)).insert(150000, "inserted code");
    strBigOld2.replace(90000, 5000, Program(3, 5000));
    for (const ReleaseFile& file : kRelease) ASSERT_TRUE(WriteFileBytes(strOld1 + file.pszName, file.strBytes));
    ASSERT_TRUE(WriteFileBytes(strOld1 + "bin\\big.dll", strBig));
    ASSERT_TRUE(WriteFileBytes(strOld2 + "bin\\big.dll", strBigOld2));
    ASSERT_TRUE(WriteFileBytes(strOld1 + "noise.bin", Noise(4, 60000)));
    ASSERT_TRUE(WriteFileBytes(m_strRelease + "bin\\big.dll", strBigNew));
    ASSERT_TRUE(WriteFileBytes(m_strRelease + "noise.bin", Noise(5, 60000)));
    ASSERT_TRUE(WriteFileBytes(m_strInstall + "bin\\big.dll", strBig));
    ASSERT_TRUE(WriteFileBytes(m_strInstall + "noise.bin", Noise(4, 60000)));

    const std::string strArgs = "program " + Quoted(m_strRelease) + " --version 2 --region CN --delta-from " +
                                Quoted(strOld1) + " --delta-from " + Quoted(strOld2);
    const ToolRun run = RunManifestTool(m_tmp, strArgs);
    ASSERT_EQ(0u, run.dwExit) << run.strError;
    EXPECT_NE(std::string::npos, run.strOutput.find("total: ")) << run.strOutput;

    // What a client that knows no patches sees: the same changed files, the new keys read beside.
    S_UpdateCheckInfo request{m_strInstall, m_strRelease + "UpdateConfig.ini", "1", "CN", ""};
    std::vector<S_UpdateFileInfo> vecList;
    ASSERT_EQ(0, CompareProgramFiles(request, vecList));
    ASSERT_EQ((std::vector<std::string>{"bin\\big.dll", "noise.bin"}), Names(vecList));
    const S_FileDelta& big = vecList[0].delta;
    ASSERT_EQ(2u, big.vecPatches.size());
    EXPECT_TRUE(big.bHasCopy);
    EXPECT_FALSE(vecList[1].delta.bHasCopy);             // noise does not compress,
    EXPECT_TRUE(vecList[1].delta.vecPatches.empty());    // nor does a patch between two noises save
    CMD5 md5;
    for (size_t i = 0; i < 2; ++i) {
        const std::string strBase = (i == 0 ? strOld1 : strOld2) + "bin\\big.dll";
        std::string strBaseDigest, strPatchDigest;
        md5.GetFileMD5(strBase.c_str(), strBaseDigest);
        EXPECT_EQ(strBaseDigest, big.vecPatches[i].strBase);
        const std::string strPatch = m_strRelease + big.vecPatches[i].strRemoteName;
        md5.GetFileMD5(strPatch.c_str(), strPatchDigest);
        EXPECT_EQ(big.vecPatches[i].strDigest, strPatchDigest);
        EXPECT_EQ(big.vecPatches[i].nSize, ReadFileBytes(strPatch).size());
        EXPECT_LE(big.vecPatches[i].nSize * 10, big.copy.nSize * 9);
        const std::string strOut = m_tmp / ("applied" + std::to_string(i));
        const ToolRun apply = RunTool(m_tmp, "patch apply " + Quoted(strBase) + " " + Quoted(strPatch) + " " + Quoted(strOut));
        ASSERT_EQ(0u, apply.dwExit) << apply.strError;
        EXPECT_TRUE(ReadFileBytes(strOut) == strBigNew);
    }

    // Same inputs, same bytes: the manifest and every published way.
    const std::string strManifest = ReadFileBytes(m_strRelease + "UpdateConfig.ini");
    const std::string strPatch = ReadFileBytes(m_strRelease + big.vecPatches[0].strRemoteName);
    CDirectoryEx::DeleteDirectory(m_strRelease + "UPDATE");
    ASSERT_EQ(0u, RunManifestTool(m_tmp, strArgs).dwExit);
    EXPECT_TRUE(strManifest == ReadFileBytes(m_strRelease + "UpdateConfig.ini"));
    EXPECT_TRUE(strPatch == ReadFileBytes(m_strRelease + big.vecPatches[0].strRemoteName));

    // Signed: SHA-256 digests inside the signature, and the published ways are no part of the release.
    const std::string strKey = m_tmp / "k.pem";   // outside the release
    const ToolRun keygen = RunTool(m_tmp, "keygen " + Quoted(strKey));
    ASSERT_EQ(0u, keygen.dwExit) << keygen.strError;
    ASSERT_EQ(0u, RunManifestTool(m_tmp, strArgs + " --key " + Quoted(strKey) + " --kind 1").dwExit);
    CConfigFile manifest(m_strRelease + "UpdateConfig.ini");
    S_FileDelta signedBig;
    ASSERT_TRUE(ReadFileDelta([&](const std::string& strName) { return manifest.FindValue("bin\\big.dll", strName); },
                              Read(manifest, "bin\\big.dll", "SIZE"), signedBig));
    ASSERT_EQ(2u, signedBig.vecPatches.size());
    EXPECT_EQ(EDeltaDigest::Sha256, signedBig.eDigest);
    std::string strBaseSha;
    CSha256().GetFileSHA256((strOld1 + "bin\\big.dll").c_str(), strBaseSha);
    EXPECT_EQ(strBaseSha, signedBig.vecPatches[0].strBase);
    EXPECT_TRUE(FileExists(m_strRelease + signedBig.vecPatches[0].strRemoteName));
    const std::string strPublicKey = keygen.strOutput.substr(0, keygen.strOutput.find_first_of("\r\n"));
    const ToolRun verify = RunTool(m_tmp, "verify " + Quoted(m_strRelease) + " " + strPublicKey + " --kind 1");
    EXPECT_EQ(0u, verify.dwExit) << verify.strError << verify.strOutput;
}

// check against a mirror: the test server and nginx, each serving the signed
// release as published, or with one of the faults a half-copied mirror has.
TEST_F(ManifestToolTest, CheckFindsWhatAMirrorServesWrong) {
    ASSERT_NE(0, TestServer::NginxPort()) << "nginx runs under scripts/test";
    const std::string strKey = m_tmp / "k.pem";
    const ToolRun keygen = RunTool(m_tmp, "keygen " + Quoted(strKey));
    ASSERT_EQ(0u, keygen.dwExit) << keygen.strError;
    const std::string strPublicKey = keygen.strOutput.substr(0, keygen.strOutput.find_first_of("\r\n"));
    const struct {
        const char* pszName;
        std::function<void(const std::string& strKindDir)> fnBreak;
        DWORD dwExit;
        const char* pszLine;   // in the output
    } kCases[] = {
        {"good", [](const std::string&) {}, 0, "0 problems: serves the signed release"},
        {"stale", [](const std::string& d) { WriteFileBytes(d + "bin\\a.dll", "library a, old"); }, 1,
         "wrong size: bin\\a.dll"},
        {"same size", [](const std::string& d) { WriteFileBytes(d + "bin\\a.dll", "library A"); }, 1,
         "not the manifest's digest: bin\\a.dll (SHA256 "},
        {"missing", [](const std::string& d) { DeleteFileA((d + "bin_x\\b.dll").c_str()); }, 1,
         "missing: bin_x\\b.dll (HTTP 404 from "},
        {"web page", [](const std::string& d) { WriteFileBytes(d + "bin.txt", "<!DOCTYPE html>"); }, 1,
         "a web page: bin.txt"},
        {"sig for another path",
         [&](const std::string& d) {
             RunTool(m_tmp, "sign " + Quoted(d + "UpdateConfig.ini") + " --key " + Quoted(strKey) + " --kind 3");
         },
         1, "signature: signed for /3/UpdateConfig.ini, served at /9/UpdateConfig.ini"},
    };
    const std::string strTestRoot = m_tmp / "mirror\\";
    const struct {
        const char* pszWhat;
        std::string strUrl;
        std::string strKindDir;
    } kMirrors[] = {
        {"test server", "http://127.0.0.1:" + std::to_string(TestServer::First().Port()), strTestRoot + "9\\"},
        {"nginx", "http://127.0.0.1:" + std::to_string(TestServer::NginxPort()), TestServer::NginxRoot() + "9\\"},
        // nginx over TLS in front of the test server, its certificate for localhost.
        {"https", "https://localhost:" + std::to_string(TestServer::TlsPort("QOVA_TEST_TLS")), strTestRoot + "9\\"}};
    for (const auto& mirror : kMirrors) {
        for (const auto& row : kCases) {
            SCOPED_TRACE(std::string(mirror.pszWhat) + ", " + row.pszName);
            CDirectoryEx::DeleteDirectory(mirror.strKindDir);
            for (const ReleaseFile& file : kRelease) ASSERT_TRUE(WriteFileBytes(mirror.strKindDir + file.pszName, file.strBytes));
            ASSERT_EQ(0u, RunManifestTool(m_tmp, "program " + Quoted(mirror.strKindDir) +
                                                     " --version 2.0 --region CN --kind 9 --key " + Quoted(strKey))
                              .dwExit);
            ASSERT_TRUE(TestServer::First().Serve(strTestRoot));
            row.fnBreak(mirror.strKindDir);
            const ToolRun check = RunTool(m_tmp, "check " + mirror.strUrl + "/ --kind 9 --public-key " + strPublicKey);
            EXPECT_EQ(row.dwExit, check.dwExit) << check.strOutput << check.strError;
            EXPECT_NE(std::string::npos, check.strOutput.find(row.pszLine)) << check.strOutput;
            // The signature's line, one line per file's problem and the summary.
            const size_t nLines = std::count(check.strOutput.begin(), check.strOutput.end(), '\n');
            const bool bFileProblem = row.dwExit != 0 && std::string(row.pszLine).rfind("signature:", 0) != 0;
            EXPECT_EQ(bFileProblem ? 3u : 2u, nLines) << check.strOutput;
        }
    }
    CDirectoryEx::DeleteDirectory(kMirrors[1].strKindDir);
    EXPECT_EQ(2u, RunTool(m_tmp, "check http://127.0.0.1:1/").dwExit);   // no --kind
    EXPECT_EQ(2u, RunTool(m_tmp, "check ftp://127.0.0.1 --kind 1").dwExit);
    // A certificate the client would refuse is a mirror it cannot fetch from.
    const ToolRun wrongName = RunTool(m_tmp, "check https://localhost:" +
                                                 std::to_string(TestServer::TlsPort("QOVA_TEST_TLS_WRONGNAME")) + " --kind 9");
    EXPECT_EQ(1u, wrongName.dwExit);
    EXPECT_NE(std::string::npos, wrongName.strOutput.find("(certificate refused from https://localhost:"))
        << wrongName.strOutput;
}

TEST(FileDelta, AMalformedKeyLeavesTheWholeFileOnly) {
    const std::string strMd5(32, 'a'), strSha(64, 'b');
    const struct {
        std::map<std::string, std::string> keys;
        bool bRead;
        size_t nPatches;
    } rows[] = {
        {{}, true, 0},
        {{{"COPYSIZE", "90"}, {"COPYDIGEST", strMd5}, {"PATCH1BASE", strMd5}, {"PATCH1SIZE", "9"},
          {"PATCH1DIGEST", strMd5}, {"PATCH3BASE", strMd5}}, true, 1},   // numbering ends at the first gap
        {{{"PATCH1BASE", strSha}, {"PATCH1SIZE", "9"}, {"PATCH1DIGEST", strSha}}, true, 1},
        {{{"PATCH1BASE", strMd5}, {"PATCH1SIZE", "9"}, {"PATCH1DIGEST", strSha}}, false, 0},   // two kinds
        {{{"PATCH1BASE", strMd5}, {"PATCH1SIZE", "9"}}, false, 0},
        {{{"PATCH1BASE", std::string(32, 'A')}, {"PATCH1SIZE", "9"}, {"PATCH1DIGEST", strMd5}}, false, 0},
        {{{"PATCH1BASE", strMd5.substr(1)}, {"PATCH1SIZE", "9"}, {"PATCH1DIGEST", strMd5}}, false, 0},
        {{{"COPYSIZE", "100"}, {"COPYDIGEST", strMd5}}, false, 0},   // not below the file's SIZE
        {{{"COPYSIZE", "0"}, {"COPYDIGEST", strMd5}}, false, 0},
        {{{"COPYSIZE", " 9"}, {"COPYDIGEST", strMd5}}, false, 0},
        {{{"COPYDIGEST", strMd5}}, false, 0},
        {{{"COPYSIZE", "90"}, {"COPYDIGEST", strMd5}, {"PATCH1BASE", strMd5}, {"PATCH1SIZE", "9"},
          {"PATCH1DIGEST", strMd5}, {"PATCH2SIZE", "9"}}, false, 0},   // a later patch spoils them all
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::Message() << "row " << (&row - rows));
        S_FileDelta delta;
        delta.bHasCopy = true;
        const auto find = [&](const std::string& strKey) -> const std::string* {
            const auto it = row.keys.find(strKey);
            return it == row.keys.end() ? nullptr : &it->second;
        };
        EXPECT_EQ(row.bRead, ReadFileDelta(find, "100", delta));
        EXPECT_EQ(row.nPatches, delta.vecPatches.size());
        EXPECT_EQ(row.bRead && row.keys.count("COPYSIZE") != 0, delta.bHasCopy);
        if (row.nPatches) {
            EXPECT_EQ(kDeltaFolder + delta.vecPatches[0].strDigest + ".patch", delta.vecPatches[0].strRemoteName);
        }
    }
}

}  // namespace
