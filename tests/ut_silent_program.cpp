// The silent program update end to end: the real Update.exe in a fresh
// installation against the local test server. Runs that restart the client
// wait the fixed 5 seconds, so only the cases about the restart and the
// notification carry the client stand-in; the others have no QOVAClient.exe
// and end at once.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "manifest/ManifestSignature.h"
#include "platform/fs/Sha256.h"
#include "platform/ini/CryptConfigFile.h"
#include "support/Installation.h"
#include "support/SignedRelease.h"
#include "support/TestServer.h"
#include "support/UiDriver.h"
#include "ui/resource.h"

namespace {

const char kInstalled[] = "4.0.1007.0715";
const char kOffered[] = "4.0.1008.0101";
const char kNotifyTitle[] = "QOVA升级通知";
const DWORD kRunTimeoutMs = 60000;

// The installed files and the release that changes two, adds one in a new
// subdirectory and leaves one alone.
const std::vector<ReleaseFile> kOldFiles = {
    {"QOVA.dll", "old QOVA.dll"},
    {"bin\\plugin.dll", "old plugin"},
    {"readme.txt", "same readme"},
};
const std::vector<ReleaseFile> kNewFiles = {
    {"QOVA.dll", "new QOVA.dll, a little longer"},
    {"bin\\plugin.dll", "new plugin"},
    {"readme.txt", "same readme"},
    {"bin\\地图\\extra.dat", "a file new in this version"},
};

ProgramRelease Release(const std::string& strVersion, int nNotify = -1, const std::string& strRegion = "CN") {
    ProgramRelease release;
    release.strVersion = strVersion;
    release.strRegion = strRegion;
    release.nNotify = nNotify;
    release.vecFiles = kNewFiles;
    return release;
}

void ExpectFiles(const TestInstallation& inst, const std::vector<ReleaseFile>& vecFiles, const char* pszCase) {
    for (const ReleaseFile& file : vecFiles)
        EXPECT_EQ(file.strBytes, ReadFileBytes(inst.App(file.strName))) << pszCase << ": " << file.strName;
}

// Runs Update.exe; when the notification appears, checks its versions and
// presses nButton. Returns whether it appeared; *pdwAfterAnswerMs is the time
// from the answer (or the start) to the end of the run.
bool RunAnswering(const TestInstallation& inst, int nButton, DWORD* pdwAfterAnswerMs = nullptr) {
    UiProcess update;
    EXPECT_TRUE(inst.StartUpdate(update, "-silent"));
    DWORD dwMark = GetTickCount();
    bool bNotified = false;
    bool bEnded = false;
    while (!bEnded && GetTickCount() - dwMark < kRunTimeoutMs) {
        if (HWND hNotify = FindTopWindow(kNotifyTitle, 100, update.Id())) {
            bNotified = true;
            EXPECT_EQ(inst.InstalledVersion(), ControlText(hNotify, IDC_TXT_NOTIFY_NEWVER))
                << "the version shown is the one installed";
            EXPECT_TRUE(ClickControl(hNotify, nButton));
            dwMark = GetTickCount();
        }
        bEnded = update.Wait(bNotified ? kRunTimeoutMs : 100, nullptr);
    }
    EXPECT_TRUE(bEnded) << "Update.exe did not end";
    if (pdwAfterAnswerMs) *pdwAfterAnswerMs = GetTickCount() - dwMark;
    return bNotified;
}

TEST(SilentProgram, NothingToDoOrNoManifestOnlyCleansUp) {
    const struct {
        const char* pszName;
        bool bPublished;
        bool bStagingKept;
    } cases[] = {
        {"nothing to update", true, false},
        {"manifest not fetched", false, true},
    };
    for (const auto& c : cases) {
        TestInstallation inst(kInstalled, "CN", true);
        ASSERT_TRUE(inst.Install(kOldFiles));
        ASSERT_TRUE(inst.Install({{"QOVA.dll.bak", "backup"}, {"bin\\x.bak", "backup"}, {"UPDATE\\Program\\left", "x"}}));
        ProgramRelease release;
        release.strVersion = kInstalled;
        release.vecFiles = kOldFiles;
        if (c.bPublished) ASSERT_TRUE(inst.PublishProgram(release));
        ASSERT_TRUE(inst.Serve());

        const DWORD dwStart = GetTickCount();
        ASSERT_TRUE(inst.RunUpdate("-silent", kRunTimeoutMs)) << c.pszName;
        EXPECT_LT(GetTickCount() - dwStart, 4500u) << c.pszName << ": no restart, so no wait";
        EXPECT_FALSE(FileExists(inst.App("QOVA.dll.bak"))) << c.pszName;
        EXPECT_FALSE(FileExists(inst.App("bin\\x.bak"))) << c.pszName;
        EXPECT_EQ(c.bStagingKept, FileExists(inst.App("UPDATE\\Program\\left"))) << c.pszName;
        EXPECT_TRUE(inst.ClientLog().empty()) << c.pszName;
        EXPECT_FALSE(FileExists(inst.App("UpdateRecord.dat"))) << c.pszName;
        EXPECT_EQ(kInstalled, inst.InstalledVersion()) << c.pszName;
        ExpectFiles(inst, kOldFiles, c.pszName);
    }
}

TEST(SilentProgram, NotifiedUpdateInstallsRecordsAndRestartsTheClient) {
    const struct {
        const char* pszName;
        int nButton;
        std::vector<std::string> vecLog;
    } cases[] = {
        {"立即升级 closes the client", IDC_BTN_UPGRADE, {"start", "close", "start"}},
        {"下次升级 leaves it running", IDC_BTN_LATER, {"start", "start"}},
    };
    for (const auto& c : cases) {
        ProductKey key;
        ASSERT_TRUE(key.IsOpen());
        TestInstallation inst(kInstalled, "CN", true);
        ASSERT_TRUE(inst.Install(kOldFiles));
        ASSERT_TRUE(inst.PublishProgram(Release(kOffered, 1)));
        ASSERT_TRUE(inst.Serve());
        UiProcess client;
        ASSERT_TRUE(inst.StartClient(client));

        DWORD dwAfterAnswer = 0;
        EXPECT_TRUE(RunAnswering(inst, c.nButton, &dwAfterAnswer)) << c.pszName;
        EXPECT_GE(dwAfterAnswer, 4900u) << c.pszName << ": the client is started again 5 s after the answer";
        EXPECT_LT(dwAfterAnswer, 20000u) << c.pszName;
        ASSERT_TRUE(WaitUntil([&] { return inst.ClientLog().size() >= c.vecLog.size(); }, 15000)) << c.pszName;
        EXPECT_EQ(c.vecLog, inst.ClientLog()) << c.pszName;

        ExpectFiles(inst, kNewFiles, c.pszName);
        EXPECT_EQ(kOffered, inst.InstalledVersion()) << c.pszName;
        EXPECT_EQ("1", inst.RecordValue("IsSucceed")) << c.pszName;
        EXPECT_EQ(kOffered, inst.RecordValue("NewVersion")) << c.pszName;
        EXPECT_EQ(kInstalled, inst.RecordValue("OldVersion")) << c.pszName;
        EXPECT_EQ(inst.AppDir(), key.Value("InstallPath")) << c.pszName;
        EXPECT_EQ(kOffered, key.Value("Version")) << c.pszName;
        EXPECT_FALSE(FileExists(inst.App("UPDATE\\Program\\UpdateConfig.ini"))) << c.pszName;
        CloseAllClients();
    }
}

TEST(SilentProgram, TheManifestDecidesNotificationAndVersion) {
    const struct {
        const char* pszName;
        ProgramRelease release;
        bool bInstalled;
        bool bNotified;
        std::string strVersionAfter;
    } cases[] = {
        {"newer, NOTIFIY 0: no notification, restart all the same", Release(kOffered, 0), true, false, kOffered},
        {"region changed, same version: notification", Release(kInstalled, 0, "TW"), true, true, kInstalled},
        {"lower version, unconditional: installed and recorded",
         [] {
             ProgramRelease r = Release("4.0.1006.0101", 1);
             r.nUnconditional = 1;
             return r;
         }(),
         true, false, "4.0.1006.0101"},
        {"lower version without the flag: nothing", Release("4.0.1006.0101", 1), false, false, kInstalled},
    };
    for (const auto& c : cases) {
        ProductKey key;
        TestInstallation inst(kInstalled, "CN", true);
        ASSERT_TRUE(inst.Install(kOldFiles));
        ASSERT_TRUE(inst.PublishProgram(c.release));
        ASSERT_TRUE(inst.Serve());

        EXPECT_EQ(c.bNotified, RunAnswering(inst, IDC_BTN_LATER)) << c.pszName;
        ExpectFiles(inst, c.bInstalled ? kNewFiles : kOldFiles, c.pszName);
        EXPECT_EQ(c.strVersionAfter, inst.InstalledVersion()) << c.pszName;
        EXPECT_EQ(c.bInstalled ? c.strVersionAfter : "", key.Value("Version")) << c.pszName;
        EXPECT_EQ(c.bInstalled ? "1" : "", inst.RecordValue("IsSucceed")) << c.pszName;
        if (c.bInstalled) {
            ASSERT_TRUE(WaitUntil([&] { return !inst.ClientLog().empty(); }, 15000)) << c.pszName;
        }
        EXPECT_EQ(c.bInstalled ? std::vector<std::string>{"start"} : std::vector<std::string>{}, inst.ClientLog())
            << c.pszName;
        CloseAllClients();
    }
}

// Below a folder that no ANSI code page spells whole (䶮 is outside GBK, Ş
// outside 936, 932 and 950): the application directory, the staging directory,
// the registry's InstallPath and the support tool all name it as it is.
TEST(SilentProgram, InstallsBelowAFolderOutsideEveryCodePage) {
    ProductKey key;
    ASSERT_TRUE(key.IsOpen());
    TestInstallation inst(kInstalled, "CN", false, "安装䶮Şükrü");
    ASSERT_NE(std::string::npos, inst.AppDir().find("\\安装䶮Şükrü\\"));
    ASSERT_TRUE(inst.Install(kOldFiles));
    ASSERT_TRUE(inst.PublishProgram(Release(kOffered, 0)));
    ASSERT_TRUE(inst.Serve());

    ASSERT_TRUE(inst.RunUpdate("-silent", kRunTimeoutMs));
    ExpectFiles(inst, kNewFiles, "below 安装䶮Şükrü");
    EXPECT_EQ(kOffered, inst.InstalledVersion());
    EXPECT_EQ("1", inst.RecordValue("IsSucceed"));
    EXPECT_EQ(inst.AppDir(), key.Value("InstallPath"));   // read back as UTF-16
    EXPECT_EQ(kOffered, key.Value("Version"));
    EXPECT_FALSE(FileExists(inst.App("UPDATE\\Program\\UpdateConfig.ini")));

    // The support tool works on the same folder: edits Config.dat there, and
    // publishes a manifest of files below it.
    EXPECT_EQ(0, inst.RunTool({"config", "set", inst.App("Config.dat"), "Update", "Version", "4.0.1009.0101"}));
    EXPECT_EQ("4.0.1009.0101", inst.InstalledVersion());
    EXPECT_EQ(0, inst.RunTool({"manifest", "data", inst.App("bin")}));
    const std::string strManifest = ReadFileBytes(inst.App("bin\\config.ini"));
    EXPECT_NE(std::string::npos, strManifest.find(Gbk("[地图\\extra.dat]"))) << strManifest;
    EXPECT_NE(std::string::npos, strManifest.find("MD5=" + Md5Hex("a file new in this version")));
}

// A release made from an installed copy carries the publisher's own state:
// the client keeps its own and installs the rest.
TEST(SilentProgram, AReleaseNeverReplacesTheClientsOwnState) {
    TestInstallation inst(kInstalled, "CN", false);
    ASSERT_TRUE(inst.Install(kOldFiles));
    const std::string strOwnConfig = ReadFileBytes(inst.App("Config.dat"));
    ProgramRelease release = Release(kOffered);
    release.vecFiles.push_back({"Config.dat", "the publisher's own configuration"});
    release.vecFiles.push_back({"UPDATE\\Update.log", "the publisher's log"});
    release.vecFiles.push_back({"UpdateState\\Update.log", "the publisher's log"});
    release.vecFiles.push_back({"bin\\plugin.dll.bak", "a backup"});
    ASSERT_TRUE(inst.PublishProgram(release));
    ASSERT_TRUE(inst.Serve());

    ASSERT_TRUE(inst.RunUpdate("-silent"));
    ExpectFiles(inst, kNewFiles, "the rest of the release");
    EXPECT_EQ(kOffered, inst.InstalledVersion());
    EXPECT_NE(strOwnConfig, ReadFileBytes(inst.App("Config.dat"))) << "the version moved on in the own file";
    EXPECT_EQ("127.0.0.1", inst.ConfigValue("Update", "ServerIP"));
    EXPECT_FALSE(FileExists(inst.App("bin\\plugin.dll.bak")));
    const std::string strLog = ReadFileBytes(inst.App("UpdateState\\Update.log"));
    EXPECT_EQ(std::string::npos, strLog.find("the publisher's log"));
    EXPECT_NE(std::string::npos, strLog.find("compare skipped file=Config.dat reason=\"the client's own state\""))
        << strLog;
    EXPECT_EQ(std::vector<std::string>({"/1/UpdateConfig.ini", "/1/QOVA.dll", "/1/bin/plugin.dll",
                                        u8"/1/bin/地图/extra.dat"}),
              TestServer::First().RequestLogInRuns(1));
}

std::string UpdateLog(const TestInstallation& inst) { return ReadFileBytes(inst.App("UpdateState\\Update.log")); }

// A staged rollout: a silent run installs only where the installation's draw
// falls inside the percentage, says so when it holds back, and a raise reaches
// the held ones with the draw they have.
TEST(SilentProgram, AStagedRolloutInstallsOnlyInsideItsShare) {
    const struct {
        const char* pszName;
        const char* pszRollout;
        const char* pszDraw;   // on record before the run; empty: none yet
        bool bInstalled;
        const char* pszLogLine;
    } cases[] = {
        {"inside 10 %", "10", "999", true, "compare admitted rollout=10 draw=999"},
        {"outside 10 %, then raised to 20 %", "10", "1000", false, "compare held-back rollout=10 draw=1000 offered="},
        {"halted", "0", "0", false, "compare halted rollout=0 draw=0"},
        {"everyone", "100", "9999", true, "compare changed="},
    };
    for (const auto& c : cases) {
        TestInstallation inst(kInstalled, "CN", false);
        ASSERT_TRUE(inst.Install(kOldFiles));
        CCryptConfigFile user(inst.App("UserConfig.dat"), "");
        ASSERT_EQ(0, user.WriteString("Rollout", "Draw", c.pszDraw));
        ProgramRelease release = Release(kOffered);
        release.strRollout = c.pszRollout;
        ASSERT_TRUE(inst.PublishProgram(release));
        ASSERT_TRUE(inst.Serve());

        ASSERT_TRUE(inst.RunUpdate("-silent")) << c.pszName;
        ExpectFiles(inst, c.bInstalled ? kNewFiles : kOldFiles, c.pszName);
        const std::string strLog = UpdateLog(inst);
        EXPECT_NE(std::string::npos, strLog.find(c.pszLogLine)) << c.pszName << "\n" << strLog;
        EXPECT_EQ(c.bInstalled, strLog.find("end held-back") == std::string::npos) << c.pszName << "\n" << strLog;
        if (c.bInstalled || std::string(c.pszRollout) == "0") continue;
        release.strRollout = "20";
        ASSERT_TRUE(inst.PublishProgram(release));
        ASSERT_TRUE(inst.RunUpdate("-silent")) << c.pszName;
        ExpectFiles(inst, kNewFiles, c.pszName);
        user.Initialize(inst.App("UserConfig.dat"), "");
        std::string strDraw;
        user.ReadString("Rollout", "Draw", "", strDraw);
        EXPECT_EQ(c.pszDraw, strDraw) << "never drawn again";
    }
}

TEST(SilentProgram, ALockedFileIsMovedAsideAndItsBackupGoesNextRun) {
    TestInstallation inst(kInstalled, "CN", false);
    ASSERT_TRUE(inst.Install(kOldFiles));
    ASSERT_TRUE(inst.PublishProgram(Release(kOffered)));
    ASSERT_TRUE(inst.Serve());
    {
        UiProcess holder;
        ASSERT_TRUE(inst.Hold(holder, "QOVA.dll", "rd"));
        ASSERT_TRUE(inst.RunUpdate("-silent"));
        ExpectFiles(inst, kNewFiles, "locked");
        EXPECT_EQ("old QOVA.dll", ReadFileBytes(inst.App("QOVA.dll.bak")));
        EXPECT_EQ(kOffered, inst.InstalledVersion());
        EXPECT_EQ("1", inst.RecordValue("IsSucceed"));
    }
    ASSERT_TRUE(inst.RunUpdate("-silent"));
    EXPECT_FALSE(FileExists(inst.App("QOVA.dll.bak")));
    ExpectFiles(inst, kNewFiles, "next run");
}


bool HasBackups(const TestInstallation& inst) {
    for (const std::string& strName : ListTree(inst.AppDir()))
        if (strName.size() > 4 && strName.compare(strName.size() - 4, 4, ".bak") == 0) return true;
    return false;
}

// Something that is not a running program (a virus scanner, an indexer)
// holds the second of the three changed files without delete sharing.
TEST(SilentProgram, AHeldFileIsWaitedOutOrTheWholeOldReleaseStays) {
    const struct {
        const char* pszName;
        DWORD dwHoldMs;   // INFINITE: until the test lets go
        bool bInstalled;
    } cases[] = {
        {"held 1 s", 1000, true},
        {"held 3 s", 3000, true},
        {"held for ever", INFINITE, false},
    };
    for (const auto& c : cases) {
        ProductKey key;
        TestInstallation inst(kInstalled, "CN", false);
        ASSERT_TRUE(inst.Install(kOldFiles));
        ASSERT_TRUE(inst.PublishProgram(Release(kOffered)));
        ASSERT_TRUE(inst.Serve());
        UiProcess holder;
        ASSERT_TRUE(inst.Hold(holder, "bin\\plugin.dll", "r", c.dwHoldMs)) << c.pszName;

        const DWORD dwStart = GetTickCount();
        ASSERT_TRUE(inst.RunUpdate("-silent")) << c.pszName;
        const DWORD dwRunMs = GetTickCount() - dwStart;
        std::printf("[ timing ] %s: the run took %lu ms\n", c.pszName, static_cast<unsigned long>(dwRunMs));
        EXPECT_LT(dwRunMs, 20000u) << c.pszName;
        ExpectFiles(inst, c.bInstalled ? kNewFiles : kOldFiles, c.pszName);
        EXPECT_EQ(c.bInstalled, FileExists(inst.App("bin\\地图\\extra.dat"))) << c.pszName;
        EXPECT_EQ(c.bInstalled ? kOffered : kInstalled, inst.InstalledVersion()) << c.pszName;
        EXPECT_EQ(c.bInstalled ? kOffered : "", key.Value("Version")) << c.pszName;
        EXPECT_EQ(c.bInstalled ? "1" : "0", inst.RecordValue("IsSucceed")) << c.pszName;
        // The held file's own kept copy may stay beside it as a "*.bak" until the next run.
        if (c.bInstalled) EXPECT_FALSE(HasBackups(inst)) << c.pszName << ": no copy kept for putting back is left";
        EXPECT_FALSE(FileExists(inst.App("UpdateState\\Install.journal"))) << c.pszName;
        const std::string strLog = UpdateLog(inst);
        EXPECT_NE(std::string::npos, strLog.find(c.bInstalled ? "install done files=3 moved-aside=0 waited-ms="
                                                               : "install failed file=bin\\plugin.dll error="))
            << c.pszName << "\n" << strLog;
        if (!c.bInstalled) {
            std::printf("%s", strLog.c_str());   // what a support desk would read
            EXPECT_GE(dwRunMs, 9500u) << c.pszName << ": waited about 10 s";
            EXPECT_NE(std::string::npos, strLog.find("rolled-back=1")) << strLog;
            holder.Kill();
            ASSERT_TRUE(inst.RunUpdate("-silent"));
            ExpectFiles(inst, kNewFiles, "next run");
            EXPECT_EQ(kOffered, inst.InstalledVersion());
            EXPECT_FALSE(HasBackups(inst)) << "next run";
        }
    }
}

// The restarted client may already run the half-installed files when the next run starts.
TEST(SilentProgram, ARunKilledWhilePuttingFilesInPlaceIsUndoneByTheNext) {
    const struct {
        const char* pszName;
        const char* pszHoldNew;   // how QOVA.dll (new) is held during the next run; nullptr: not at all
    } cases[] = {
        {"nothing holds the files", nullptr},
        {"the restarted client runs the new QOVA.dll", "rd"},
        {"QOVA.dll held without delete sharing for ever", "r"},
    };
    for (const auto& c : cases) {
        const bool bStuck = c.pszHoldNew && std::string(c.pszHoldNew) == "r";
        TestInstallation inst(kInstalled, "CN", bStuck);
        ASSERT_TRUE(inst.Install(kOldFiles));
        ASSERT_TRUE(inst.PublishProgram(Release(kOffered)));
        ASSERT_TRUE(inst.Serve());
        {
            UiProcess holder, update;
            ASSERT_TRUE(inst.Hold(holder, "bin\\plugin.dll", "r"));
            ASSERT_TRUE(inst.StartUpdate(update, "-silent"));
            // Killed while it waits for the second file, the first one already new.
            ASSERT_TRUE(WaitUntil([&] { return ReadFileBytes(inst.App("QOVA.dll")) == kNewFiles[0].strBytes; }, 20000));
            update.Kill();
            ASSERT_EQ("old plugin", ReadFileBytes(inst.App("bin\\plugin.dll"))) << "a mix, until the next run";
        }
        UiProcess running;
        if (c.pszHoldNew) ASSERT_TRUE(inst.Hold(running, "QOVA.dll", c.pszHoldNew)) << c.pszName;
        // The next run cannot even reach the server: it puts the old release back all the same.
        ASSERT_TRUE(inst.Serve());
        ASSERT_TRUE(TestServer::First().SetFault("/1/UpdateConfig.ini", "404"));
        ASSERT_TRUE(inst.RunUpdate("-silent")) << c.pszName;
        const std::string strLog = UpdateLog(inst);
        if (bStuck) {
            // Nothing but the log line: the mix stays for a run that can undo it.
            EXPECT_NE(std::string::npos, strLog.find("recover stuck file=" + inst.App("QOVA.dll") + " error=")) << strLog;
            EXPECT_NE(std::string::npos, strLog.find("end recover-stuck stage=start")) << strLog;
            EXPECT_TRUE(FileExists(inst.App("UpdateState\\Install.journal"))) << c.pszName;
            EXPECT_TRUE(FileExists(inst.App("UPDATE\\Program\\QOVA.dll"))) << c.pszName << ": staging kept";
            EXPECT_EQ(kNewFiles[0].strBytes, ReadFileBytes(inst.App("QOVA.dll"))) << c.pszName;
            EXPECT_TRUE(HasBackups(inst)) << c.pszName << ": the kept copies stay";
            EXPECT_TRUE(TestServer::First().RequestLog().empty()) << c.pszName << ": no manifest asked for";
            Sleep(1000);   // a client started as the run ended has logged by now
            EXPECT_TRUE(inst.ClientLog().empty()) << c.pszName << ": no client started";
            running.Kill();
            ASSERT_TRUE(inst.RunUpdate("-silent")) << c.pszName;
        }
        ExpectFiles(inst, kOldFiles, c.pszName);
        EXPECT_FALSE(FileExists(inst.App("bin\\地图\\extra.dat"))) << c.pszName;
        EXPECT_FALSE(FileExists(inst.App("UpdateState\\Install.journal"))) << c.pszName;
        EXPECT_EQ(kInstalled, inst.InstalledVersion()) << c.pszName;
        EXPECT_NE(std::string::npos, UpdateLog(inst).find("recover rolled-back files=")) << UpdateLog(inst);
        if (c.pszHoldNew) continue;
        EXPECT_FALSE(HasBackups(inst));
        // And the one after that installs the release whole.
        ASSERT_TRUE(inst.Serve());
        ASSERT_TRUE(inst.RunUpdate("-silent"));
        ExpectFiles(inst, kNewFiles, "finished");
        EXPECT_EQ(kOffered, inst.InstalledVersion());
    }
}

// Each line names its event; the log is bounded and never stops a run.
TEST(SilentProgram, TheLogSaysWhyAndNeverStopsARun) {
    const std::string strRefused =
        std::string("manifest refused name=UpdateConfig.ini reason=\"") + SignatureCheckText(ESignatureCheck::OtherKey);
    const std::string strChanged =
        std::string("manifest refused name=UpdateConfig.ini reason=\"") + SignatureCheckText(ESignatureCheck::BadSignature);
    const struct {
        const char* pszName;
        int nSetUp;   // 0 nothing, 1 signed by another key, 2 a file broken off, 3 no server, 4 full log, 5 log unwritable,
                      // 6 a held backup, 7 UpdateRecord.dat a directory, 8 control characters in the version,
                      // 9 a damaged kept manifest held
                      // 10 a second entry for one file, 11 a manifest byte changed after signing,
                      // 12 a damaged Config.dat, 13 a QOVAClient.exe that is not a program
        bool bInstalled;
        std::string strLine;
        DWORD dwExit = 0;   // spelled out: a renumbered code breaks every script that reads it
    } cases[] = {
        {"installed", 0, true, "end installed stage=install ms="},
        {"refused signature", 1, false, strRefused, 2},
        {"a server that breaks a file off", 2, false, "fetch failed file=bin\\plugin.dll reason=\"broken body\"", 3},
        {"no server", 3, false, "manifest unavailable name=UpdateConfig.ini", 1},
        {"no server: the end's hint", 3, false, "exit=1 hint=\"check the network and ServerIP, then UpdateTool check\"", 1},
        // Another key and changed bytes call for different people.
        {"a manifest changed after signing", 11, false, strChanged, 2},
        {"a damaged Config.dat is named so", 12, false, "manifest not-asked file=Config.dat reason=\"Config.dat is damaged\"", 2},
        {"log past 256 KiB: moved to Update.log.1", 4, true, "start silent-program update-exe=4.0.0.0 kind=1"},
        {"log that cannot be written", 5, true, ""},
        // Failures the run survives, each with its call, file and Win32 error.
        {"a backup held without delete sharing", 6, true,
         "best-effort call=DeleteFileW file=<app>stale.bak error=32"},
        {"a damaged kept manifest held without delete sharing", 9, true,
         "best-effort call=DeleteFileW file=<app>UpdateState\\Kept-1-UpdateConfig.ini error=32"},
        {"an UpdateRecord.dat that is a directory", 7, true,
         "best-effort call=WriteUpdateRecord file=<app>UpdateRecord.dat error="},
        {"a client that cannot be started", 13, true, "best-effort call=ShellExecuteExW file=<app>QOVAClient.exe error="},
        // An absent key is a normal installation: a note, no failure.
        {"no product key to write", 0, true, "registry not-written key=HKLM\\SOFTWARE\\QOVA reason=absent"},
        // A value cannot end its line or fake another one.
        {"control characters in a logged value", 8, true, "version=\"4.0\\x1b[2K\\x0bend\""},
        // Another spelling of one file would share its kept copy in the journal.
        {"a second entry for the same file", 10, true, "compare refused file=BIN//plugin.dll reason=\"a second entry for the same file\""},
    };
    const std::string strOldLog(300 * 1024, 'x');
    for (const auto& c : cases) {
        TestInstallation inst(kInstalled, "CN", false);
        ASSERT_TRUE(inst.Install(kOldFiles));
        ProgramRelease release = Release(kOffered);
        if (c.nSetUp == 10) release.vecFiles.push_back({"BIN//plugin.dll", "new plugin"});
        ASSERT_TRUE(inst.PublishProgram(release));
        if (c.nSetUp == 1) {
            ASSERT_TRUE(PrepareSignedCase(inst, ESigned::OtherKey, inst.ReleaseDir() + "1\\", "UpdateConfig.ini",
                                          "Program", "QOVA.dll", nullptr));
        }
        if (c.nSetUp == 11) {
            ASSERT_TRUE(PrepareSignedCase(inst, ESigned::ManifestByteChanged, inst.ReleaseDir() + "1\\",
                                          "UpdateConfig.ini", "Program", "QOVA.dll", nullptr));
        }
        if (c.nSetUp == 12) ASSERT_TRUE(WriteFileBytes(inst.App("Config.dat"), "not an encrypted file"));
        if (c.nSetUp == 13) ASSERT_TRUE(WriteFileBytes(inst.App("QOVAClient.exe"), "not a program"));
        if (c.nSetUp == 3) ASSERT_TRUE(inst.SetConfig("Update", "ServerPort", "1"));   // nothing listens there
        if (c.nSetUp == 4) ASSERT_TRUE(WriteFileBytes(inst.App("UpdateState\\Update.log"), strOldLog));
        UiProcess holder;
        if (c.nSetUp == 6) ASSERT_TRUE(WriteFileBytes(inst.App("stale.bak"), "old") && inst.Hold(holder, "stale.bak", "r"));
        if (c.nSetUp == 9) {
            ASSERT_TRUE(WriteFileBytes(inst.App("UpdateState\\Kept-1-UpdateConfig.ini"), "damaged") &&
                        inst.Hold(holder, "UpdateState\\Kept-1-UpdateConfig.ini", "r"));
        }
        if (c.nSetUp == 7) ASSERT_TRUE(CreateDirectoryA(inst.App("UpdateRecord.dat").c_str(), nullptr));
        if (c.nSetUp == 8) ASSERT_TRUE(inst.SetConfig("Update", "Version", "4.0\x1b[2K\x0b" "end"));
        if (c.nSetUp == 5) {
            CreateDirectoryA(inst.App("UpdateState").c_str(), nullptr);
            ASSERT_TRUE(CreateDirectoryA(inst.App("UpdateState\\Update.log").c_str(), nullptr));
        }
        ASSERT_TRUE(inst.Serve());
        if (c.nSetUp == 2) ASSERT_TRUE(TestServer::First().SetFault("/1/bin/plugin.dll", "drop"));

        DWORD dwExit = 99;
        ASSERT_TRUE(inst.RunUpdate("-silent", 60000, &dwExit)) << c.pszName;
        EXPECT_EQ(c.dwExit, dwExit) << c.pszName;
        ExpectFiles(inst, c.bInstalled ? kNewFiles : kOldFiles, c.pszName);
        if (c.nSetUp == 5) continue;   // the run's result is all there is to see
        const std::string strLog = UpdateLog(inst);
        std::string strLine = c.strLine;
        if (strLine.find("<app>") != std::string::npos) strLine.replace(strLine.find("<app>"), 5, inst.AppDir());
        EXPECT_NE(std::string::npos, strLog.find(strLine)) << c.pszName << "\n" << strLog;
        EXPECT_EQ(0u, strLog.find("20")) << c.pszName << ": each line starts with its time";
        EXPECT_EQ(std::string::npos, strLog.find("-----BEGIN")) << c.pszName << ": no key material";
        EXPECT_EQ(std::string::npos, strLog.find_first_of("\x1b\x0b")) << c.pszName << ": no raw control character";
        EXPECT_EQ(std::string::npos, strLog.find("call=WriteProductRegistry")) << c.pszName << ": the key is only absent";
        if (c.nSetUp == 4) {
            EXPECT_EQ(strOldLog, ReadFileBytes(inst.App("UpdateState\\Update.log.1"))) << c.pszName;
            EXPECT_LT(strLog.size(), 4096u) << c.pszName;
        }
    }
}

TEST(SilentProgram, AFileThatCannotBeInstalledKeepsTheWholeOldReleaseUntilANextRunFinishes) {
    ProductKey key;
    TestInstallation inst(kInstalled, "CN", false);
    ASSERT_TRUE(inst.Install(kOldFiles));
    ASSERT_TRUE(inst.Install({{"QOVA.dll.bak", "stale backup"}}));
    ASSERT_TRUE(inst.PublishProgram(Release(kOffered)));
    ASSERT_TRUE(inst.Serve());
    {
        // A stale backup nobody can delete and the target in use: no way to put the new file there.
        UiProcess holdBackup, holdTarget;
        ASSERT_TRUE(inst.Hold(holdBackup, "QOVA.dll.bak", "r"));
        ASSERT_TRUE(inst.Hold(holdTarget, "QOVA.dll", "rd"));
        DWORD dwExit = 99;
        ASSERT_TRUE(inst.RunUpdate("-silent", 60000, &dwExit));
        EXPECT_EQ(5u, dwExit) << "install-failed";
        for (const char* pszPart : {"replaced=0 put-back=\"\" old-release=back", "hint=\"a program holds QOVA.dll"})
            EXPECT_NE(std::string::npos, UpdateLog(inst).find(pszPart)) << UpdateLog(inst);
        EXPECT_EQ("old QOVA.dll", ReadFileBytes(inst.App("QOVA.dll")));
        EXPECT_EQ("stale backup", ReadFileBytes(inst.App("QOVA.dll.bak")));
        ExpectFiles(inst, kOldFiles, "the others are put back");
        EXPECT_FALSE(FileExists(inst.App("bin\\地图\\extra.dat"))) << "a new file is taken out again";
        EXPECT_EQ(kInstalled, inst.InstalledVersion());
        EXPECT_EQ("", key.Value("Version"));
        EXPECT_EQ("0", inst.RecordValue("IsSucceed"));
        EXPECT_EQ(kOffered, inst.RecordValue("NewVersion"));
        EXPECT_EQ(kInstalled, inst.RecordValue("OldVersion"));
        EXPECT_FALSE(FileExists(inst.App("UPDATE\\Program\\QOVA.dll")));
    }
    // Let go: the next run compares again and finishes the job.
    ASSERT_TRUE(inst.RunUpdate("-silent"));
    ExpectFiles(inst, kNewFiles, "next run");
    EXPECT_FALSE(FileExists(inst.App("QOVA.dll.bak")));
    EXPECT_EQ(kOffered, inst.InstalledVersion());
    EXPECT_EQ(kOffered, key.Value("Version"));
    EXPECT_EQ("1", inst.RecordValue("IsSucceed"));
}

TEST(SilentProgram, AFailedOrDamagedDownloadInstallsNothing) {
    const struct {
        const char* pszName;
        const char* pszFault;        // server fault on bin\plugin.dll, or nullptr
        const char* pszServedBytes;  // served in place of the published bytes, or nullptr
        const char* pszManifestSize; // SIZE written into the manifest instead, or nullptr
        const char* pszLogPart;      // in the log: sizes and the server a support desk asks for
    } cases[] = {
        {"second of three not found", "404", nullptr, nullptr, "reason=\"HTTP status\" server=127.0.0.1:"},
        {"second of three cut short", "short", nullptr, nullptr, "reason=\"content mismatch\" server=127.0.0.1:"},
        {"served with other content of the same size", nullptr, "NEW plugin", nullptr,
         "check damaged file=bin\\plugin.dll digest=MD5 server=127.0.0.1:"},
        {"served content longer than SIZE says", nullptr, nullptr, "3", "expected=3 announced=10"},
    };
    for (const auto& c : cases) {
        TestInstallation inst(kInstalled, "CN", false);
        ASSERT_TRUE(inst.Install(kOldFiles));
        ASSERT_TRUE(inst.PublishProgram(Release(kOffered)));
        const std::string strRelease = inst.ReleaseDir() + "1\\";
        if (c.pszServedBytes) ASSERT_TRUE(WriteFileBytes(strRelease + "bin\\plugin.dll", c.pszServedBytes));
        if (c.pszManifestSize) {
            std::string strManifest = ReadFileBytes(strRelease + "UpdateConfig.ini");
            const std::string strSize = "SIZE=" + std::to_string(std::string("new plugin").size()) + "\r\n";
            const size_t nAt = strManifest.find(strSize, strManifest.find("[bin\\plugin.dll]"));
            ASSERT_NE(std::string::npos, nAt);
            strManifest.replace(nAt, strSize.size(), std::string("SIZE=") + c.pszManifestSize + "\r\n");
            ASSERT_TRUE(WriteFileBytes(strRelease + "UpdateConfig.ini", strManifest));
        }
        ASSERT_TRUE(inst.Serve());
        if (c.pszFault) ASSERT_TRUE(TestServer::First().SetFault("/1/bin/plugin.dll", c.pszFault));

        DWORD dwExit = 99;
        ASSERT_TRUE(inst.RunUpdate("-silent", 60000, &dwExit)) << c.pszName;
        EXPECT_EQ(3u, dwExit) << c.pszName << ": a file not delivered intact";
        EXPECT_NE(std::string::npos, UpdateLog(inst).find(c.pszLogPart)) << c.pszName << "\n" << UpdateLog(inst);
        ExpectFiles(inst, kOldFiles, c.pszName);
        EXPECT_FALSE(FileExists(inst.App("bin\\地图\\extra.dat"))) << c.pszName;
        EXPECT_EQ(kInstalled, inst.InstalledVersion()) << c.pszName;
        EXPECT_FALSE(FileExists(inst.App("UpdateRecord.dat"))) << c.pszName;
        EXPECT_FALSE(FileExists(inst.App("UPDATE\\Program\\UpdateConfig.ini"))) << c.pszName << ": staging deleted";
        EXPECT_EQ(std::vector<std::string>({"Config.dat", "QOVA.dll", "Update.exe", "UpdateState\\Digests.cache",
                                            "UpdateState\\Kept-1-UpdateConfig.ini", "UpdateState\\Update.log",
                                            "UserConfig.dat", "bin\\plugin.dll", "readme.txt"}),
                  ListTree(inst.AppDir()))
            << c.pszName << ": nothing left behind";

        if (c.pszFault) {
            // Once the server is well, the next run fetches all three again.
            ASSERT_TRUE(inst.Serve());
            ASSERT_TRUE(inst.RunUpdate("-silent")) << c.pszName;
            EXPECT_EQ(std::vector<std::string>({"/1/UpdateConfig.ini", "/1/QOVA.dll", "/1/bin/plugin.dll",
                                                u8"/1/bin/地图/extra.dat"}),
                      TestServer::First().RequestLogInRuns(1))
                << c.pszName;
            ExpectFiles(inst, kNewFiles, c.pszName);
            EXPECT_EQ(kOffered, inst.InstalledVersion()) << c.pszName;
        }
    }
}

TEST(SilentProgram, ARunKilledBeforeOrDuringTheCopyIsFinishedByTheNext) {
    // Killed after the fetch: staged copies left, one of them damaged, one never fetched.
    {
        TestInstallation inst(kInstalled, "CN", false);
        ASSERT_TRUE(inst.Install(kOldFiles));
        ASSERT_TRUE(inst.Install({{"UPDATE\\Program\\QOVA.dll", kNewFiles[0].strBytes},
                                  {"UPDATE\\Program\\bin\\plugin.dll", "new plug"}}));
        ASSERT_TRUE(inst.PublishProgram(Release(kOffered)));
        ASSERT_TRUE(inst.Serve());
        ASSERT_TRUE(inst.RunUpdate("-silent"));
        // The request log is UTF-8.
        EXPECT_EQ(std::vector<std::string>({"/1/UpdateConfig.ini", "/1/bin/plugin.dll", u8"/1/bin/地图/extra.dat"}),
                  TestServer::First().RequestLogInRuns(1));
        ExpectFiles(inst, kNewFiles, "killed after the fetch");
        EXPECT_EQ(kOffered, inst.InstalledVersion());
    }
    // Killed while copying: one file new, one old, one missing, the version not advanced.
    {
        TestInstallation inst(kInstalled, "CN", false);
        ASSERT_TRUE(inst.Install({kNewFiles[0], kOldFiles[1], kOldFiles[2]}));
        ASSERT_TRUE(inst.PublishProgram(Release(kOffered)));
        ASSERT_TRUE(inst.Serve());
        ASSERT_TRUE(inst.RunUpdate("-silent"));
        ExpectFiles(inst, kNewFiles, "killed while copying");
        EXPECT_EQ(kOffered, inst.InstalledVersion());
        EXPECT_EQ("1", inst.RecordValue("IsSucceed"));
    }
}

TEST(SilentProgram, ASignedReleaseInstallsOnlyWhatItsKeySigned) {
    for (const S_SignedCase& c : SignedCases()) {
        TestInstallation inst(kInstalled, "CN", false);
        ASSERT_TRUE(inst.Install(kOldFiles));
        ASSERT_TRUE(inst.PublishProgram(Release(kOffered)));
        std::string strSigned;
        ASSERT_TRUE(PrepareSignedCase(inst, c.eCase, inst.ReleaseDir() + "1\\", "UpdateConfig.ini", "Program",
                                      "QOVA.dll", &strSigned))
            << c.pszName;
        const std::string strRecordBefore = inst.ConfigValue("Signature", "Program");
        ASSERT_TRUE(inst.Serve());

        ASSERT_TRUE(inst.RunUpdate("-silent")) << c.pszName;
        const bool bInstalls = Installs(c.eCase);
        ExpectFiles(inst, bInstalls ? kNewFiles : kOldFiles, c.pszName);
        EXPECT_EQ(bInstalls, FileExists(inst.App("bin\\地图\\extra.dat"))) << c.pszName;
        EXPECT_EQ(bInstalls ? kOffered : kInstalled, inst.InstalledVersion()) << c.pszName;
        EXPECT_EQ(bInstalls, FileExists(inst.App("UpdateRecord.dat"))) << c.pszName;
        EXPECT_EQ(ExpectedRecord(c.eCase, strSigned, strRecordBefore), inst.ConfigValue("Signature", "Program"))
            << c.pszName;

        std::vector<std::string> vecRequests = ManifestRequests(c.eCase, "/1/UpdateConfig.ini");
        const size_t nManifestRequests = vecRequests.size();
        if (bInstalls || c.eCase == ESigned::Md5Collision) {
            // The files come only after a manifest that passed; the false one is refused by its SHA-256.
            for (const char* pszUrl : {"/1/QOVA.dll", "/1/bin/plugin.dll", u8"/1/bin/地图/extra.dat"})
                vecRequests.push_back(pszUrl);
        } else {
            EXPECT_FALSE(FileExists(inst.App("UPDATE\\Program\\UpdateConfig.ini"))) << c.pszName;
            EXPECT_FALSE(FileExists(inst.App("UPDATE\\Program\\UpdateConfig.ini.sig"))) << c.pszName;
        }
        EXPECT_EQ(SortRuns(vecRequests, nManifestRequests), TestServer::First().RequestLogInRuns(nManifestRequests)) << c.pszName;
    }
}

// A manifest of ServerIP that does not verify sends the run to ServerIP2.
TEST(SilentProgram, ARefusedManifestOnServerIpIsTakenFromServerIp2) {
    TestInstallation inst(kInstalled, "CN", false);
    ASSERT_TRUE(inst.Install(kOldFiles));
    ASSERT_TRUE(inst.PublishProgram(Release(kOffered)));
    const std::string strRelease = inst.ReleaseDir() + "1\\";
    std::string strSigned;
    ASSERT_TRUE(PrepareSignedCase(inst, ESigned::Good, strRelease, "UpdateConfig.ini", "Program", "", &strSigned));
    for (const char* pszName : {"UpdateConfig.ini", "UpdateConfig.ini.sig"})
        ASSERT_TRUE(WriteFileBytes(inst.Temp("second\\1\\") + pszName, ReadFileBytes(strRelease + pszName)));
    ASSERT_TRUE(PrepareSignedCase(inst, ESigned::OtherKey, strRelease, "UpdateConfig.ini", "Program", "", nullptr));
    TestServer second = TestServer::Second();
    ASSERT_TRUE(second.Serve(inst.Temp("second\\")));
    ASSERT_TRUE(inst.SetConfig("Update", "ServerIP2", "127.0.0.1"));
    ASSERT_TRUE(inst.SetConfig("Update", "ServerPort2", std::to_string(second.Port())));
    ASSERT_TRUE(inst.Serve());

    const DWORD dwStart = GetTickCount();
    ASSERT_TRUE(inst.RunUpdate("-silent"));
    std::printf("[ hostile  ] refused manifest on ServerIP: installed from ServerIP2's in %lu ms\n",
                static_cast<unsigned long>(GetTickCount() - dwStart));
    ExpectFiles(inst, kNewFiles, "refused on ServerIP");
    EXPECT_EQ(kOffered, inst.InstalledVersion());
    EXPECT_EQ(strSigned, inst.ConfigValue("Signature", "Program"));
    // The files are asked of ServerIP first again: the SHA-256 of the manifest taken pins them.
    EXPECT_EQ(SortRuns({"/1/UpdateConfig.ini", "/1/UpdateConfig.ini.sig", "/1/QOVA.dll", "/1/bin/plugin.dll",
                        u8"/1/bin/地图/extra.dat"}, 2),
              TestServer::First().RequestLogInRuns(2));
    EXPECT_EQ(SortRuns({"/1/UpdateConfig.ini", "/1/UpdateConfig.ini.sig"}, 2), second.RequestLogInRuns(2));
    EXPECT_NE(std::string::npos, UpdateLog(inst).find("manifest not-taken name=UpdateConfig.ini server=127.0.0.1:"))
        << UpdateLog(inst);
}

// A release with patches from the installed one: each file comes its
// cheapest way; a way that fails in any manner leaves it to the next one.
TEST(SilentProgram, AReleaseWithPatchesTakesThemAndFallsBackPerFile) {
    enum class EBreak { None, Unsigned, Held, PatchMissing, PatchDamaged, PatchTooLong, NotTheBase, WrongResult, NoPatchNorCopy };
    const struct {
        const char* pszName;
        EBreak eBreak;
        const char* pszWay;      // the way bin\big.dll came
        const char* pszReason;   // of its fallback from the patch (nullptr: none)
    } rows[] = {
        {"patch taken", EBreak::None, "patch", nullptr},
        {"patch taken, its base held by a running program", EBreak::Held, "patch", nullptr},
        {"unsigned: an MD5 patch from the comparison's digest", EBreak::Unsigned, "patch", nullptr},
        {"patch missing", EBreak::PatchMissing, "copy", "reason=\"HTTP status\""},
        {"patch damaged, its size", EBreak::PatchDamaged, "copy", "reason=\"patch digest\""},
        {"patch too long", EBreak::PatchTooLong, "copy", "reason=\"content mismatch\""},
        {"installed file edited by hand", EBreak::NotTheBase, "copy", "reason=\"installed file is no base\""},
        {"result of another base", EBreak::WrongResult, "copy", "reason=\"result digest\""},
        {"neither patch nor copy there", EBreak::NoPatchNorCopy, "file", "reason=\"HTTP status\""},
    };
    const std::string strOldBig = ProgramLikeBytes(7, 200000, false), strNewBig = ProgramLikeBytes(7, 200000, true);
    const std::vector<ReleaseFile> vecNew = {{"bin\\big.dll", strNewBig}, {"QOVA.dll", "new QOVA.dll"}};
    for (const auto& row : rows) {
        TestInstallation inst(kInstalled, "CN", false);
        ASSERT_TRUE(inst.Install({{"bin\\big.dll", strOldBig}, {"QOVA.dll", "old QOVA.dll"}}));
        const std::string strRelease = inst.ReleaseDir() + "1\\", strOld = inst.Temp("old\\");
        // Same size, other bytes: a patch from it applies to the installed file and makes something else.
        std::string strBase = strOldBig;
        if (row.eBreak == EBreak::WrongResult) strBase[100] ^= 1;
        ASSERT_TRUE(WriteFileBytes(strOld + "bin\\big.dll", strBase));
        for (const ReleaseFile& file : vecNew) ASSERT_TRUE(WriteFileBytes(strRelease + file.strName, file.strBytes));
        ASSERT_TRUE(PublishWithPatches(inst, {"program", strRelease, "--version", kOffered, "--region", "CN"}, strOld, 1,
                                       row.eBreak != EBreak::Unsigned));
        std::string strPatch, strCopy;
        for (const std::string& strName : ListTree(strRelease + "UPDATE\\delta\\"))
            (strName.find(".patch") != std::string::npos ? strPatch : strCopy) = strRelease + "UPDATE\\delta\\" + strName;
        ASSERT_FALSE(strPatch.empty() || strCopy.empty()) << row.pszName;
        const std::string strPatchBytes = ReadFileBytes(strPatch);
        if (row.eBreak == EBreak::NoPatchNorCopy) ASSERT_TRUE(DeleteFileA(strCopy.c_str()));
        if (row.eBreak == EBreak::PatchMissing || row.eBreak == EBreak::NoPatchNorCopy) ASSERT_TRUE(DeleteFileA(strPatch.c_str()));
        if (row.eBreak == EBreak::PatchDamaged) ASSERT_TRUE(WriteFileBytes(strPatch, std::string(strPatchBytes.size(), 'x')));
        if (row.eBreak == EBreak::PatchTooLong) ASSERT_TRUE(WriteFileBytes(strPatch, strPatchBytes + "x"));
        if (row.eBreak == EBreak::NotTheBase) ASSERT_TRUE(WriteFileBytes(inst.App("bin\\big.dll"), strOldBig + "edited"));
        if (row.eBreak == EBreak::WrongResult) {
            // The installed file claimed as the base of the patch made from the other.
            std::string strManifest = ReadFileBytes(strRelease + "UpdateConfig.ini"), strDigest;
            CSha256().GetFileSHA256(inst.App("bin\\big.dll").c_str(), strDigest);
            ASSERT_NE(std::string::npos, strManifest.find("PATCH1BASE="));
            strManifest.replace(strManifest.find("PATCH1BASE=") + 11, strDigest.size(), strDigest);
            ASSERT_TRUE(WriteFileBytes(strRelease + "UpdateConfig.ini", strManifest));
            ASSERT_TRUE(ResignWithTool(inst, strRelease + "UpdateConfig.ini", 1));
        }
        ASSERT_TRUE(inst.Serve());

        UiProcess holder;
        if (row.eBreak == EBreak::Held) ASSERT_TRUE(inst.Hold(holder, "bin\\big.dll", "rd"));
        ASSERT_TRUE(inst.RunUpdate("-silent")) << row.pszName;
        ExpectFiles(inst, vecNew, row.pszName);
        const std::string strLog = UpdateLog(inst);
        EXPECT_NE(std::string::npos, strLog.find(std::string("fetch way file=bin\\big.dll way=") + row.pszWay))
            << row.pszName << "\n" << strLog;
        EXPECT_NE(std::string::npos, strLog.find("fetch way file=QOVA.dll way=file")) << row.pszName;
        const size_t nFallback = strLog.find("fetch fallback file=bin\\big.dll from=patch");
        EXPECT_EQ(row.pszReason != nullptr, nFallback != std::string::npos) << row.pszName << "\n" << strLog;
        if (row.pszReason) EXPECT_NE(std::string::npos, strLog.find(row.pszReason, nFallback)) << row.pszName;
        if (row.eBreak == EBreak::None || row.eBreak == EBreak::Unsigned) {
            // Counted by the server: manifest, .sig, the small file and the patch, well below the full size.
            EXPECT_LT(TestServer::First().BodyBytes(), static_cast<long long>(strNewBig.size() / 10)) << row.pszName;
            EXPECT_NE(std::string::npos, strLog.find(" full=" + std::to_string(strNewBig.size() + 12))) << strLog;
        }
    }
}

// Over HTTPS (nginx in front of the first test server): only a certificate the
// system accepts for the configured name delivers; a refused one fails that
// server as a dead one would, logged with its problem, and ServerIP2 is asked.
TEST(SilentProgram, OverHttpsOnlyACertificateTheSystemAcceptsDelivers) {
    const struct {
        const char* pszName;
        const char* pszPort;
        const char* pszSecond;  // ServerIP2, or nullptr
        bool bRefused;          // the handshake fails
    } cases[] = {
        {"trusted, for localhost", "QOVA_TEST_TLS", nullptr, false},
        {"another name", "QOVA_TEST_TLS_WRONGNAME", nullptr, true},
        {"expired", "QOVA_TEST_TLS_EXPIRED", nullptr, true},
        {"untrusted CA", "QOVA_TEST_TLS_UNTRUSTED", nullptr, true},
        {"another name, ServerIP2 https", "QOVA_TEST_TLS_WRONGNAME", "https://localhost", true},
        {"untrusted CA, ServerIP2 plain", "QOVA_TEST_TLS_UNTRUSTED", "127.0.0.1", true},
    };
    for (const auto& c : cases) {
        TestInstallation inst(kInstalled, "CN", false);
        ASSERT_TRUE(inst.Install(kOldFiles));
        ASSERT_TRUE(inst.PublishProgram(Release(kOffered)));
        ASSERT_TRUE(PrepareSignedCase(inst, ESigned::Good, inst.ReleaseDir() + "1\\", "UpdateConfig.ini", "Program",
                                      "", nullptr));
        const unsigned short nPort = TestServer::TlsPort(c.pszPort);
        ASSERT_NE(0, nPort) << c.pszPort;
        ASSERT_TRUE(inst.SetConfig("Update", "ServerIP", "https://localhost"));
        ASSERT_TRUE(inst.SetConfig("Update", "ServerPort", std::to_string(nPort)));
        TestServer second = TestServer::Second();
        ASSERT_TRUE(second.Serve(inst.ReleaseDir()));
        if (c.pszSecond) {
            const bool bPlain = c.pszSecond[0] != 'h';
            ASSERT_TRUE(inst.SetConfig("Update", "ServerIP2", c.pszSecond));
            ASSERT_TRUE(inst.SetConfig("Update", "ServerPort2", std::to_string(bPlain ? second.Port()
                                                                                     : TestServer::TlsPort("QOVA_TEST_TLS"))));
        }
        ASSERT_TRUE(inst.Serve());

        ASSERT_TRUE(inst.RunUpdate("-silent")) << c.pszName;
        const bool bInstalls = !c.bRefused || c.pszSecond;
        ExpectFiles(inst, bInstalls ? kNewFiles : kOldFiles, c.pszName);
        EXPECT_EQ(bInstalls ? kOffered : kInstalled, inst.InstalledVersion()) << c.pszName;
        const std::string strLog = UpdateLog(inst);
        const std::string strRefused = "manifest server-refused server=https://localhost:" + std::to_string(nPort) +
                                       " reason=\"certificate refused\"";
        // Wine 8 names no problem (ERROR_WINHTTP_SECURE_CHANNEL_ERROR, no secure-failure flags); Windows does.
        EXPECT_EQ(c.bRefused, strLog.find(strRefused + " error=1") != std::string::npos) << c.pszName << "\n" << strLog;
        EXPECT_EQ(c.bRefused, strLog.find(" certificate=\"") != std::string::npos) << c.pszName;
        // Through TLS the first server sees the requests; a refused handshake asks nothing of it.
        const bool bFirstAsked = !c.bRefused || (c.pszSecond && c.pszSecond[0] == 'h');
        EXPECT_EQ(bFirstAsked, !TestServer::First().RequestLog().empty()) << c.pszName;
        EXPECT_EQ(bInstalls && !bFirstAsked, !second.RequestLog().empty()) << c.pszName;
    }
}

// Redirects as CDNs send them, and web pages as captive portals answer: the
// first server's answers for the release's paths (faults of its test server),
// a second one behind it; nothing but the signed release installs, and a page
// is never taken for "up to date".
TEST(SilentProgram, RedirectsAreFollowedWithinBoundsAndWebPagesFailTheServer) {
    const std::string strTls = "https://localhost:" + std::to_string(TestServer::TlsPort("QOVA_TEST_TLS"));
    const std::string strPlain2 = "http://127.0.0.1:" + std::to_string(TestServer::Second().Port());
    const struct {
        const char* pszName;
        bool bFirstTls;        // ServerIP https://localhost (nginx in front of the first test server)
        std::string strFault;  // on the first server, for each path; "%s": the path
        bool bSecond;          // ServerIP2: the second test server, plain
        const char* pszLog;    // in the log
        bool bInstalls;
        bool bUnsigned = false;  // no PublicKey
    } cases[] = {
        {"http 301 to https, every file", false, "301@" + strTls + "%s", false, "redirected-to=https://localhost:", true},
        {"https 302 to http: refused", true, "302@" + strPlain2 + "%s", false, "reason=\"redirect refused\"", false},
        {"a redirect loop ends", false, "307@http://127.0.0.1:" + std::to_string(TestServer::First().Port()) + "%s",
         false, "reason=\"redirect refused\"", false},
        {"a login page", false, "portal", false, "reason=\"answered a web page\"", false},
        {"a login page, then ServerIP2", false, "portal", true, "manifest accepted", true},
        {"302 to a login page", false, "302@" + strPlain2 + "/login", false, "reason=\"answered a web page\"", false},
        {"a page sent as a file", false, "htmlbody", false, "reason=\"answered a web page\"", false},
        {"no key, a text page", false, "textpage", false, "reason=\"not a manifest\"", false, true},
        {"no key, a text page, then ServerIP2", false, "textpage", true, "manifest accepted", true, true},
    };
    const char* const kPaths[] = {"/1/UpdateConfig.ini", "/1/UpdateConfig.ini.sig", "/1/QOVA.dll", "/1/bin/plugin.dll",
                                  "/1/bin/%E5%9C%B0%E5%9B%BE/extra.dat"};
    for (const auto& c : cases) {
        TestInstallation inst(kInstalled, "CN", false);
        ASSERT_TRUE(inst.Install(kOldFiles));
        ASSERT_TRUE(inst.PublishProgram(Release(kOffered)));
        ASSERT_TRUE(PrepareSignedCase(inst, c.bUnsigned ? ESigned::NoKey : ESigned::Good, inst.ReleaseDir() + "1\\",
                                      "UpdateConfig.ini", "Program", "", nullptr));
        ASSERT_TRUE(inst.Serve());
        TestServer first = TestServer::First(), second = TestServer::Second();
        ASSERT_TRUE(second.Serve(inst.ReleaseDir()));
        ASSERT_TRUE(second.SetFault("/login", "portal"));
        // The redirect loop and the https rows redirect from the first server's own paths.
        TestServer& faulty = c.strFault.compare(0, 4, "301@") == 0 ? second : first;
        for (const char* pszPath : kPaths) {
            std::string strFault = c.strFault;
            const size_t nAt = strFault.find("%s");
            if (nAt != std::string::npos) strFault.replace(nAt, 2, pszPath);
            ASSERT_TRUE(faulty.SetFault(pszPath, strFault)) << c.pszName;
        }
        if (&faulty == &second) {
            ASSERT_TRUE(inst.SetConfig("Update", "ServerPort", std::to_string(second.Port())));
        } else if (c.bFirstTls) {
            ASSERT_TRUE(inst.SetConfig("Update", "ServerIP", "https://localhost"));
            ASSERT_TRUE(inst.SetConfig("Update", "ServerPort", std::to_string(TestServer::TlsPort("QOVA_TEST_TLS"))));
        }
        if (c.bSecond) {
            ASSERT_TRUE(inst.SetConfig("Update", "ServerIP2", "127.0.0.1"));
            ASSERT_TRUE(inst.SetConfig("Update", "ServerPort2", std::to_string(second.Port())));
        }

        ASSERT_TRUE(inst.RunUpdate("-silent")) << c.pszName;
        ExpectFiles(inst, c.bInstalls ? kNewFiles : kOldFiles, c.pszName);
        EXPECT_EQ(c.bInstalls ? kOffered : kInstalled, inst.InstalledVersion()) << c.pszName;
        const std::string strLog = UpdateLog(inst);
        EXPECT_NE(std::string::npos, strLog.find(c.pszLog)) << c.pszName << "\n" << strLog;
        EXPECT_EQ(std::string::npos, strLog.find("up-to-date")) << c.pszName << "\n" << strLog;
        if (!c.bInstalls) EXPECT_NE(std::string::npos, strLog.find("end manifest-unavailable")) << c.pszName << "\n" << strLog;
    }
}

}  // namespace
