// The silent data-set update end to end: the real Update.exe with
// -silent -t:3 -d:Maps in a fresh installation against the local test server.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "support/Installation.h"
#include "support/SignedRelease.h"
#include "support/TestServer.h"
#include "support/UiDriver.h"

namespace {

const char kArgs[] = "-silent -t:3 -d:Maps";
const char kManifestUrl[] = "/3/config.ini";

const std::vector<ReleaseFile> kOldMaps = {
    {"city.dat", "old city"},
    {"roads\\main.dat", "old roads"},
    {"same.dat", "unchanged"},
};
const std::vector<ReleaseFile> kNewMaps = {
    {"city.dat", "new city, longer"},
    {"roads\\main.dat", "new roads"},
    {"same.dat", "unchanged"},
    {"海\\岛\\诚.dat", "a new file two directories down"},
};
// What a previous update installed as the data set's manifest.
const char kOldManifest[] = "[city.dat]\r\nMD5=0\r\n";

// The data set as installed, with its manifest.
void InstallMaps(const TestInstallation& inst, const std::vector<ReleaseFile>& vecFiles) {
    for (const ReleaseFile& file : vecFiles) ASSERT_TRUE(WriteFileBytes(inst.App("Maps\\" + file.strName), file.strBytes));
    ASSERT_TRUE(WriteFileBytes(inst.App("Maps\\config.ini"), kOldManifest));
}

void ExpectMaps(const TestInstallation& inst, const std::vector<ReleaseFile>& vecFiles, const char* pszCase) {
    for (const ReleaseFile& file : vecFiles)
        EXPECT_EQ(file.strBytes, ReadFileBytes(inst.App("Maps\\" + file.strName))) << pszCase << ": " << file.strName;
}

std::string PublishedManifest(const TestInstallation& inst) { return ReadFileBytes(inst.ReleaseDir() + "3\\config.ini"); }

TEST(SilentData, UpdatesTheDataSetAndTouchesNothingElseButBackups) {
    TestInstallation inst("4.0.1007.0715", "CN", true);
    ASSERT_TRUE(inst.Install({{"QOVA.dll", "program"}, {"bin\\old.bak", "backup"}, {"Maps\\x.dat.bak", "backup"}}));
    InstallMaps(inst, kOldMaps);
    ASSERT_TRUE(inst.PublishData(3, kNewMaps));
    ASSERT_TRUE(inst.Serve());
    std::vector<std::string> vecOutside = ListTree(inst.AppDir());

    const DWORD dwStart = GetTickCount();
    ASSERT_TRUE(inst.RunUpdate(kArgs));
    EXPECT_LT(GetTickCount() - dwStart, 4500u) << "no client restart";

    ExpectMaps(inst, kNewMaps, "updated");
    EXPECT_EQ(PublishedManifest(inst), ReadFileBytes(inst.App("Maps\\config.ini")));
    EXPECT_FALSE(FileExists(inst.App("UPDATE\\Maps\\config.ini"))) << "staging deleted";
    EXPECT_TRUE(FileExists(inst.App("QOVA.dll")));
    EXPECT_TRUE(inst.ClientLog().empty());
    EXPECT_FALSE(FileExists(inst.App("UpdateRecord.dat")));
    EXPECT_EQ("4.0.1007.0715", inst.InstalledVersion());
    // Outside the data set only the backups went.
    std::vector<std::string> vecAfter;
    for (const std::string& strName : ListTree(inst.AppDir()))
        if (strName.compare(0, 5, "Maps\\") != 0 && strName.compare(0, 12, "UpdateState\\") != 0) vecAfter.push_back(strName);
    std::vector<std::string> vecExpected;
    for (const std::string& strName : vecOutside)
        if (strName.compare(0, 5, "Maps\\") != 0 && strName.compare(0, 12, "UpdateState\\") != 0 && strName != "bin\\old.bak")
            vecExpected.push_back(strName);
    EXPECT_EQ(vecExpected, vecAfter);
    // What stays for the next run, beside the staging directories: the log, the digests and the accepted manifest.
    EXPECT_EQ(std::vector<std::string>({"Digests.cache", "Kept-3-config.ini", "Update.log"}),
              ListTree(inst.App("UpdateState\\")));
    EXPECT_TRUE(ListTree(inst.App("UPDATE\\")).empty());
    EXPECT_FALSE(FileExists(inst.App("Maps\\x.dat.bak")));
    EXPECT_EQ(std::vector<std::string>({kManifestUrl, "/3/city.dat", "/3/roads/main.dat", u8"/3/海/岛/诚.dat"}),
              TestServer::First().RequestLogInRuns(1));   // UTF-8
}

// -d: with a Chinese name: the argument reaches the program as UTF-16, so the
// set is found whatever the system's code page (the locale runs repeat it).
TEST(SilentData, ADataSetWithAChineseNameIsUpdated) {
    TestInstallation inst("4.0.1007.0715", "CN", false);
    ASSERT_TRUE(inst.Install({{"皮肤\\skin.dat", "old skin"}}));
    ASSERT_TRUE(inst.PublishData(4, {{"skin.dat", "new skin"}, {"图\\面.png", "new picture"}}));
    ASSERT_TRUE(inst.Serve());
    ASSERT_TRUE(inst.RunUpdate("-silent -t:4 -d:皮肤"));
    EXPECT_EQ("new skin", ReadFileBytes(inst.App("皮肤\\skin.dat")));
    EXPECT_EQ("new picture", ReadFileBytes(inst.App("皮肤\\图\\面.png")));
    EXPECT_EQ(ReadFileBytes(inst.ReleaseDir() + "4\\config.ini"), ReadFileBytes(inst.App("皮肤\\config.ini")));
    EXPECT_EQ(std::vector<std::string>({"/4/config.ini", "/4/skin.dat", "/4/图/面.png"}),
              TestServer::First().RequestLogInRuns(1));
}

TEST(SilentData, NoManifestOrNoChange) {
    const struct {
        const char* pszName;
        bool bPublished;
        DWORD dwExit;   // spelled out: a renumbered code breaks every script that reads it
    } cases[] = {
        {"manifest not fetched: data untouched, backups gone, staging left", false, 1},
        {"nothing changed: only the manifest is replaced", true, 0},
    };
    for (const auto& c : cases) {
        TestInstallation inst("4.0.1007.0715", "CN", false);
        InstallMaps(inst, kOldMaps);
        ASSERT_TRUE(inst.Install({{"Maps\\x.dat.bak", "backup"}, {"UPDATE\\Maps\\left", "from before"}}));
        if (c.bPublished) ASSERT_TRUE(inst.PublishData(3, kOldMaps));
        ASSERT_TRUE(inst.Serve());

        DWORD dwExit = 99;
        ASSERT_TRUE(inst.RunUpdate(kArgs, 60000, &dwExit)) << c.pszName;
        EXPECT_EQ(c.dwExit, dwExit) << c.pszName;
        ExpectMaps(inst, kOldMaps, c.pszName);
        EXPECT_FALSE(FileExists(inst.App("Maps\\x.dat.bak"))) << c.pszName;
        EXPECT_EQ(c.bPublished ? PublishedManifest(inst) : kOldManifest, ReadFileBytes(inst.App("Maps\\config.ini")))
            << c.pszName;
        EXPECT_EQ(!c.bPublished, FileExists(inst.App("UPDATE\\Maps\\left"))) << c.pszName;
        if (c.bPublished) EXPECT_EQ(std::vector<std::string>({kManifestUrl}), TestServer::First().RequestLog());
    }
}

TEST(SilentData, AFailedOrDamagedFetchInstallsNothing) {
    const struct {
        const char* pszName;
        const char* pszFault;
        const char* pszServedBytes;
    } cases[] = {
        {"second of three not found", "404", nullptr},
        {"second of three dropped", "drop", nullptr},
        {"second of three served with other content", nullptr, "NEW roads"},
    };
    for (const auto& c : cases) {
        TestInstallation inst("4.0.1007.0715", "CN", false);
        InstallMaps(inst, kOldMaps);
        ASSERT_TRUE(inst.PublishData(3, kNewMaps));
        if (c.pszServedBytes) ASSERT_TRUE(WriteFileBytes(inst.ReleaseDir() + "3\\roads\\main.dat", c.pszServedBytes));
        ASSERT_TRUE(inst.Serve());
        if (c.pszFault) ASSERT_TRUE(TestServer::First().SetFault("/3/roads/main.dat", c.pszFault));

        DWORD dwExit = 99;
        ASSERT_TRUE(inst.RunUpdate(kArgs, 60000, &dwExit)) << c.pszName;
        EXPECT_EQ(3u, dwExit) << c.pszName << ": a file not delivered intact";
        ExpectMaps(inst, kOldMaps, c.pszName);
        EXPECT_FALSE(FileExists(inst.App("Maps\\海\\岛\\诚.dat"))) << c.pszName;
        EXPECT_EQ(kOldManifest, ReadFileBytes(inst.App("Maps\\config.ini"))) << c.pszName;
        EXPECT_EQ(std::vector<std::string>({"Digests.cache", "Kept-3-config.ini", "Update.log"}),
                  ListTree(inst.App("UpdateState\\")))
            << c.pszName;
        EXPECT_TRUE(ListTree(inst.App("UPDATE\\")).empty()) << c.pszName << ": staging deleted";
    }
}

// Without -d: the staging directory is UPDATE\ itself, which a run deletes:
// the road's state lies beside it, moved there from UPDATE\ once.
TEST(SilentData, AnEmptyNameLeavesTheRoadsStateInPlace) {
    TestInstallation inst("4.0.1007.0715", "CN", false);
    ASSERT_TRUE(inst.Install({{"UPDATE\\Update.log", "an earlier version's line\r\n"}, {"UPDATE\\Digests.cache", "?"}}));
    ASSERT_TRUE(inst.PublishData(3, {{"a.dat", "new a"}}));
    ASSERT_TRUE(inst.Serve());
    for (const char* pszRun : {"installs", "finds nothing new"}) ASSERT_TRUE(inst.RunUpdate("-silent -t:3")) << pszRun;
    EXPECT_EQ("new a", ReadFileBytes(inst.App("a.dat")));
    EXPECT_EQ(std::vector<std::string>({"Digests.cache", "Kept-3-config.ini", "Update.log"}),
              ListTree(inst.App("UpdateState\\")));
    const std::string strLog = ReadFileBytes(inst.App("UpdateState\\Update.log"));
    EXPECT_EQ(0u, strLog.find("an earlier version's line")) << strLog;
    EXPECT_NE(std::string::npos, strLog.find("start state-moved files=2")) << strLog;
    EXPECT_LT(strLog.find("end installed"), strLog.rfind("start silent-data")) << "the first run's lines survived the second";
}

TEST(SilentData, StagedCopiesWithTheRightDigestAreReused) {
    TestInstallation inst("4.0.1007.0715", "CN", false);
    InstallMaps(inst, kOldMaps);
    // Left by a run killed after its fetch: one copy good, one damaged.
    ASSERT_TRUE(inst.Install({{"UPDATE\\Maps\\city.dat", kNewMaps[0].strBytes},
                              {"UPDATE\\Maps\\roads\\main.dat", "new roadz"}}));
    ASSERT_TRUE(inst.PublishData(3, kNewMaps));
    ASSERT_TRUE(inst.Serve());

    ASSERT_TRUE(inst.RunUpdate(kArgs));
    EXPECT_EQ(std::vector<std::string>({kManifestUrl, "/3/roads/main.dat", u8"/3/海/岛/诚.dat"}),
              TestServer::First().RequestLogInRuns(1));
    ExpectMaps(inst, kNewMaps, "reused");
}

TEST(SilentData, ALockedFileIsMovedAsideAndAnUninstallableOneKeepsTheWholeOldDataSet) {
    TestInstallation inst("4.0.1007.0715", "CN", false);
    InstallMaps(inst, kOldMaps);
    ASSERT_TRUE(inst.PublishData(3, kNewMaps));
    ASSERT_TRUE(inst.Serve());
    {
        UiProcess holder;
        ASSERT_TRUE(inst.Hold(holder, "Maps\\city.dat", "rd"));
        ASSERT_TRUE(inst.RunUpdate(kArgs));
        ExpectMaps(inst, kNewMaps, "locked");
        EXPECT_EQ("old city", ReadFileBytes(inst.App("Maps\\city.dat.bak")));
        EXPECT_EQ(PublishedManifest(inst), ReadFileBytes(inst.App("Maps\\config.ini")));
    }

    // A newer data set while the backup is held without delete sharing and the file is in use again.
    const std::vector<ReleaseFile> vecNewer = {{"city.dat", "newer city"}, {"same.dat", "newer same"}};
    ASSERT_TRUE(inst.PublishData(3, vecNewer));
    const std::string strManifestBefore = ReadFileBytes(inst.App("Maps\\config.ini"));
    {
        UiProcess holdBackup, holdTarget;
        ASSERT_TRUE(inst.Hold(holdBackup, "Maps\\city.dat.bak", "r"));
        ASSERT_TRUE(inst.Hold(holdTarget, "Maps\\city.dat", "rd"));
        ASSERT_TRUE(inst.RunUpdate(kArgs));
        EXPECT_EQ(kNewMaps[0].strBytes, ReadFileBytes(inst.App("Maps\\city.dat")));
        EXPECT_EQ(kNewMaps[2].strBytes, ReadFileBytes(inst.App("Maps\\same.dat"))) << "all or nothing";
        EXPECT_EQ(strManifestBefore, ReadFileBytes(inst.App("Maps\\config.ini")))
            << "the manifest is installed only with every file";
    }
    ASSERT_TRUE(inst.RunUpdate(kArgs));
    ExpectMaps(inst, vecNewer, "next run");
    EXPECT_EQ(PublishedManifest(inst), ReadFileBytes(inst.App("Maps\\config.ini")));
    EXPECT_FALSE(FileExists(inst.App("Maps\\city.dat.bak")));
}

TEST(SilentData, ASignedDataSetInstallsOnlyWhatItsKeySigned) {
    for (const S_SignedCase& c : SignedCases()) {
        TestInstallation inst("4.0.1007.0715", "CN", false);
        InstallMaps(inst, kOldMaps);
        ASSERT_TRUE(inst.PublishData(3, kNewMaps));
        std::string strSigned;
        ASSERT_TRUE(PrepareSignedCase(inst, c.eCase, inst.ReleaseDir() + "3\\", "config.ini", "Maps", "city.dat",
                                      &strSigned))
            << c.pszName;
        const std::string strRecordBefore = inst.ConfigValue("Signature", "Maps");
        ASSERT_TRUE(inst.Serve());

        ASSERT_TRUE(inst.RunUpdate(kArgs)) << c.pszName;
        const bool bInstalls = Installs(c.eCase);
        ExpectMaps(inst, bInstalls ? kNewMaps : kOldMaps, c.pszName);
        EXPECT_EQ(bInstalls, FileExists(inst.App("Maps\\海\\岛\\诚.dat"))) << c.pszName;
        EXPECT_EQ(bInstalls ? ReadFileBytes(inst.ReleaseDir() + "3\\config.ini") : kOldManifest,
                  ReadFileBytes(inst.App("Maps\\config.ini")))
            << c.pszName;
        EXPECT_EQ(ExpectedRecord(c.eCase, strSigned, strRecordBefore), inst.ConfigValue("Signature", "Maps"))
            << c.pszName;

        std::vector<std::string> vecRequests = ManifestRequests(c.eCase, kManifestUrl);
        const size_t nManifestRequests = vecRequests.size();
        if (bInstalls || c.eCase == ESigned::Md5Collision) {
            for (const char* pszUrl : {"/3/city.dat", "/3/roads/main.dat", u8"/3/海/岛/诚.dat"}) vecRequests.push_back(pszUrl);
        } else {
            EXPECT_FALSE(FileExists(inst.App("UPDATE\\Maps\\config.ini"))) << c.pszName;
            EXPECT_FALSE(FileExists(inst.App("UPDATE\\Maps\\config.ini.sig"))) << c.pszName;
        }
        EXPECT_EQ(SortRuns(vecRequests, nManifestRequests), TestServer::First().RequestLogInRuns(nManifestRequests)) << c.pszName;
    }
}

TEST(SilentData, ASignedDataSetWithPatchesTakesThem) {
    TestInstallation inst("4.0.1007.0715", "CN", false);
    const std::string strOld = ProgramLikeBytes(3, 100000, false), strNew = ProgramLikeBytes(3, 100000, true);
    InstallMaps(inst, {{"city.dat", strOld}});
    ASSERT_TRUE(WriteFileBytes(inst.Temp("old\\city.dat"), strOld));
    ASSERT_TRUE(WriteFileBytes(inst.ReleaseDir() + "3\\city.dat", strNew));
    ASSERT_TRUE(PublishWithPatches(inst, {"data", inst.ReleaseDir() + "3\\"}, inst.Temp("old\\"), 3));
    ASSERT_TRUE(inst.Serve());

    ASSERT_TRUE(inst.RunUpdate(kArgs));
    ExpectMaps(inst, {{"city.dat", strNew}}, "patched");
    EXPECT_EQ(PublishedManifest(inst), ReadFileBytes(inst.App("Maps\\config.ini")));
    EXPECT_LT(TestServer::First().BodyBytes(), static_cast<long long>(strNew.size() / 10));   // manifest, .sig, patch
    EXPECT_NE(std::string::npos, ReadFileBytes(inst.App("UpdateState\\Update.log")).find("way file=city.dat way=patch"));
}

}  // namespace
