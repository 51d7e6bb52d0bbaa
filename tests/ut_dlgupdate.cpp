// The interactive update end to end: the real Update.exe in a fresh
// installation (with the stand-in main client beside it) against the local
// update server, driven under the test display as a person would.
#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>

#include <regex>
#include <string>
#include <vector>

#include "platform/ini/CryptConfigFile.h"
#include "support/Installation.h"
#include "support/Screenshot.h"
#include "support/SignedRelease.h"
#include "support/TempDir.h"
#include "support/TestServer.h"
#include "support/UiDriver.h"
#include "ui/resource.h"

namespace {

const char kTitle[] = "在线更新";
const char kOfferMessage[] = "QOVA有新版本";
const char kUpToDate[] = "您安装的QOVA已经是最新版本！";
const char kDownloading[] = "软件更新后会自动启用新版本！";
const char kConnectionFailed[] = "无法与服务器建立连接,请稍候重试！";
const char kUpdateError[] = "更新过程出现错误,请稍候重试！";
const char kInstalledVersion[] = "4.0.1007.0715";
const char kRegion[] = "CN";
const DWORD kStartTimeoutMs = 20000;

std::string Staging(const TestInstallation& inst, const std::string& strName = "Program") {
    return inst.App("UPDATE\\" + strName + "\\");
}

// Rewrites the published program manifest, e.g. to make it lie about a file.
void PatchManifest(const TestInstallation& inst, const std::string& strFrom, const std::string& strTo) {
    const std::string strPath = inst.ReleaseDir() + "1\\UpdateConfig.ini";
    std::string strText = ReadFileBytes(strPath);
    size_t nPos = strText.find(strFrom);
    ASSERT_NE(nPos, std::string::npos) << strFrom;
    strText.replace(nPos, strFrom.size(), strTo);
    ASSERT_TRUE(WriteFileBytes(strPath, strText));
}

// Section names of UpdateRecord.dat.
std::vector<std::string> RecordSections(const TestInstallation& inst) {
    CCryptConfigFile record(inst.App("UpdateRecord.dat"), "");
    const std::string strText = record.GetText();
    std::vector<std::string> vecNames;
    size_t nLine = 0;
    while (nLine < strText.size()) {
        size_t nEnd = strText.find('\n', nLine);
        if (nEnd == std::string::npos) nEnd = strText.size();
        const size_t nClose = strText.find(']', nLine);
        if (strText[nLine] == '[' && nClose != std::string::npos && nClose < nEnd)
            vecNames.push_back(strText.substr(nLine + 1, nClose - nLine - 1));
        nLine = nEnd + 1;
    }
    return vecNames;
}

std::string RecordValue(const TestInstallation& inst, const std::string& strSection, const std::string& strKey) {
    CCryptConfigFile record(inst.App("UpdateRecord.dat"), "");
    std::string strValue;
    record.ReadString(strSection, strKey, "<none>", strValue);
    return strValue;
}

// One run of the update dialog of an installation.
class DialogRun {
public:
    explicit DialogRun(const TestInstallation& inst) : m_inst(inst) {}
    ~DialogRun() {
        m_process.Kill();
        CloseAllClients();   // the restarted client too, before the installation goes away
    }

    // Starts Update.exe with the arguments and finds its dialog.
    bool Open(const std::string& strArgs = "") {
        if (!m_inst.StartUpdate(m_process, strArgs)) return false;
        m_hDlg = FindTopWindow(kTitle, kStartTimeoutMs, m_process.Id());
        return m_hDlg != nullptr;
    }
    HWND Dlg() const { return m_hDlg; }
    // True when Update.exe has ended within the time.
    bool Ended(DWORD dwTimeoutMs) {
        DWORD dwCode = 0;
        return m_process.Wait(dwTimeoutMs, &dwCode);
    }
    bool Close() {
        ClickControl(m_hDlg, IDC_BTN_CLOSE);
        return Ended(5000);
    }

    std::string Message() const { return ControlText(m_hDlg, IDC_TXT_MESSAGE); }
    bool WaitForMessage(const std::string& strText, DWORD dwTimeoutMs) const {
        return WaitUntil([&] { return Message() == strText; }, dwTimeoutMs);
    }
    int BarPosition() const { return static_cast<int>(::SendMessageA(Bar(), PBM_GETPOS, 0, 0)); }
    int BarUpper() const { return static_cast<int>(::SendMessageA(Bar(), PBM_GETRANGE, FALSE, 0)); }
    // Pictures take their image's size.
    LONG PictureWidth(int nId) const {
        RECT rc = ControlRect(m_hDlg, nId);
        return rc.right - rc.left;
    }
    void Screenshot(const std::string& strName) {
        // No button in its hover face: the pictures are compared across runs.
        MoveMouseTo(POINT{0, 0});
        ::Sleep(300);
        EXPECT_TRUE(SaveWindowScreenshot(m_hDlg, strName));
    }

private:
    HWND Bar() const { return ::GetDlgItem(m_hDlg, IDC_PROGRESS); }

    const TestInstallation& m_inst;
    UiProcess m_process;
    HWND m_hDlg = nullptr;
};

bool IsDateTimeSection(const std::string& strName) {
    return std::regex_match(strName, std::regex(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2})"));
}

// The offer line and the upgrade button: shown in the offer only.
const int kOfferControls[] = {IDC_TXT_NEWVERSION, IDC_TXT_CANUPDATE, IDC_TXT_QUESTION, IDC_BTN_UPDATE};

// --- the check ---------------------------------------------------------------

TEST(UpdateDialogCheck, OffersTheNewVersionWithTheTemplateTextsAndDeletesBackups) {
    TestInstallation inst(kInstalledVersion, kRegion, false);
    ASSERT_TRUE(inst.Install({{"bin\\a.dll", "old a"}, {"bin\\a.dll.bak", "backup"}, {"Maps\\deep\\m.map.bak", "backup"}}));
    // Halted for silent updates (ROLLOUT=0): a person asking is offered it all the same.
    ASSERT_TRUE(inst.PublishProgram({"4.0.1008.0801", kRegion, -1, -1, {{"bin\\a.dll", "new a"}, {"b.dll", "new b"}}, "0"}));
    ASSERT_TRUE(inst.Serve());
    DialogRun run(inst);
    ASSERT_TRUE(run.Open());

    EXPECT_EQ(run.Message(), kOfferMessage);
    EXPECT_EQ(ControlText(run.Dlg(), IDC_TXT_NEWVERSION), "4.0.1008.0801");
    EXPECT_EQ(ControlText(run.Dlg(), IDC_TXT_CANUPDATE), "可更新，");
    EXPECT_EQ(ControlText(run.Dlg(), IDC_TXT_QUESTION), "是否要进行升级？升级过程中软件会自动重启。");
    EXPECT_EQ(ControlText(run.Dlg(), IDC_BTN_UPDATE), "立即升级");
    EXPECT_EQ(ControlText(run.Dlg(), IDC_BTN_CLOSE), "关闭");
    for (int nId : kOfferControls) EXPECT_TRUE(ControlVisible(run.Dlg(), nId)) << nId;
    for (int nId : {IDC_BTN_CLOSE, IDC_BTN_CLOSEX, IDC_PROGRESS, IDC_PIC_ICON, IDC_PIC_HEADING})
        EXPECT_TRUE(ControlVisible(run.Dlg(), nId)) << nId;
    EXPECT_EQ(run.PictureWidth(IDC_PIC_ICON), 84);      // the globe
    EXPECT_EQ(run.PictureWidth(IDC_PIC_HEADING), 132);  // "发现可用更新！"
    EXPECT_EQ(run.BarPosition(), 0);
    EXPECT_EQ(run.BarUpper(), 100);

    EXPECT_FALSE(FileExists(inst.App("bin\\a.dll.bak")));
    EXPECT_FALSE(FileExists(inst.App("Maps\\deep\\m.map.bak")));
    // The check leaves only the manifest in the staging directory.
    EXPECT_EQ(ListTree(Staging(inst)), (std::vector<std::string>{"UpdateConfig.ini"}));
    run.Screenshot("update-offer");

    // The close mark ends the dialog; nothing is installed.
    ClickControl(run.Dlg(), IDC_BTN_CLOSEX);
    EXPECT_TRUE(run.Ended(5000));
    EXPECT_EQ(ReadFileBytes(inst.App("bin\\a.dll")), "old a");
    EXPECT_FALSE(FileExists(inst.App("b.dll")));
}

TEST(UpdateDialogCheck, OffersNothingWithOnlyTheCloseButtonsAndSaysWhy) {
    const struct {
        const char* pszName;
        const char* pszArgs;
        const char* pszVersion;   // published for kind 1; nullptr: nothing published
        bool bNoServer;
        const char* pszMessage;
        std::string strFault;  // the first server's answer for the manifest, as a captive portal gives it
    } cases[] = {
        {"same region, version not greater", "", kInstalledVersion, false, kUpToDate},
        {"no server reachable", "", "4.0.1008", true, kConnectionFailed},
        {"data set without a manifest", "-t:2 -d:Maps", "4.0.1008", false, kConnectionFailed},
        {"data-set name leaving the installation", "-t:1 -t:2 -d:..\\..", "4.0.1008", false, kUpdateError},
        {"a login page for the manifest", "", "4.0.1008", false, kConnectionFailed, "portal"},
        {"a 302 to a login page", "", "4.0.1008", false, kConnectionFailed,
         "302@http://127.0.0.1:" + std::to_string(TestServer::Second().Port()) + "/login"},
    };
    bool bFirst = true;
    for (const auto& c : cases) {
        TestInstallation inst(kInstalledVersion, kRegion, false);
        ASSERT_TRUE(inst.Install({{"a.dll", "installed"}, {"sub\\x.dll.bak", "backup"}}));
        if (c.pszVersion) ASSERT_TRUE(inst.PublishProgram({c.pszVersion, kRegion, -1, -1, {{"a.dll", "newer"}}}));
        ASSERT_TRUE(inst.Serve());
        if (c.bNoServer) {
            CCryptConfigFile config(inst.App("Config.dat"), "");
            config.WriteInteger("Update", "ServerPort", 1);   // nothing listens there
        }
        TestServer second = TestServer::Second();
        if (!c.strFault.empty()) {
            ASSERT_TRUE(second.Serve(inst.ReleaseDir()));
            ASSERT_TRUE(second.SetFault("/login", "portal"));
            ASSERT_TRUE(TestServer::First().SetFault("/1/UpdateConfig.ini", c.strFault));
        }
        DialogRun run(inst);
        ASSERT_TRUE(run.Open(c.pszArgs)) << c.pszName;
        if (!c.strFault.empty()) {
            // A web page is a server that did not deliver, never "up to date", and the log says which.
            EXPECT_NE(std::string::npos, ReadFileBytes(inst.App("UpdateState\\Update.log")).find("reason=\"answered a web page\""))
                << c.pszName;
        }

        EXPECT_EQ(run.Message(), c.pszMessage) << c.pszName;
        for (int nId : kOfferControls) EXPECT_FALSE(ControlVisible(run.Dlg(), nId)) << c.pszName << " " << nId;
        EXPECT_TRUE(ControlVisible(run.Dlg(), IDC_BTN_CLOSE)) << c.pszName;
        EXPECT_TRUE(ControlVisible(run.Dlg(), IDC_BTN_CLOSEX)) << c.pszName;
        EXPECT_EQ(run.PictureWidth(IDC_PIC_ICON), 80) << c.pszName;      // the exclamation disc
        EXPECT_EQ(run.PictureWidth(IDC_PIC_HEADING), 132) << c.pszName;  // "没有可用更新！"
        EXPECT_FALSE(FileExists(inst.App("sub\\x.dll.bak"))) << c.pszName;
        if (std::string(c.pszArgs).find("..") != std::string::npos) {
            // Nothing is fetched for a name whose staging would leave the installation.
            EXPECT_TRUE(TestServer::First().RequestLog().empty());
        }
        if (bFirst) run.Screenshot("update-uptodate");
        // By keyboard: Enter presses the close button, Escape closes as well.
        ::PostMessageA(run.Dlg(), WM_KEYDOWN, bFirst ? VK_RETURN : VK_ESCAPE, 1);
        bFirst = false;
        EXPECT_TRUE(run.Ended(5000)) << c.pszName;
        EXPECT_EQ(ReadFileBytes(inst.App("a.dll")), "installed") << c.pszName;
    }
}

TEST(UpdateDialogCheck, DragsByTheTopBandOnly) {
    TestInstallation inst(kInstalledVersion, kRegion, false);
    ASSERT_TRUE(inst.Serve());   // nothing published: up to date at once
    DialogRun run(inst);
    ASSERT_TRUE(run.Open());
    const struct {
        int y;
        bool bMoves;
    } cases[] = {{29, true}, {30, false}, {4, true}, {120, false}};
    for (const auto& c : cases) {
        RECT rcBefore;
        ::GetWindowRect(run.Dlg(), &rcBefore);
        ASSERT_TRUE(DragWithMouse(run.Dlg(), POINT{200, c.y}, 40, 30));
        RECT rcAfter;
        WaitUntil([&] { return ::GetWindowRect(run.Dlg(), &rcAfter) && rcAfter.left != rcBefore.left; },
                  c.bMoves ? 2000 : 300);
        // The mouse's absolute coordinates are scaled to 0..65535: a pixel may be lost.
        EXPECT_NEAR(rcAfter.left - rcBefore.left, c.bMoves ? 40 : 0, 1) << c.y;
        EXPECT_NEAR(rcAfter.top - rcBefore.top, c.bMoves ? 30 : 0, 1) << c.y;
    }
    EXPECT_TRUE(run.Close());
}

TEST(UpdateDialogCheck, ByKeyboardAndScreenReader) {
    // Keys typed (TypeKeys), then the focus and the message line's name, then the key that ends the dialog.
    const struct { bool bOffer; const char* pszKeys; int nFocus; const char* pszMessage; const char* pszLast; } cases[] = {
        {true, "\t", IDC_BTN_CLOSE, kOfferMessage, "\r"},    // Tab, then Enter on close closes
        {true, "^\t>", IDC_BTN_CLOSE, kOfferMessage, " "},    // Shift+Tab wraps to the close mark; Space on close
        {true, " ", IDC_BTN_CLOSE, kDownloading, "\x1b"},     // Space upgrades; Escape ends the download
        {false, "\t\t", IDC_BTN_CLOSE, kUpToDate, "\r"},     // past the hidden upgrade button
    };
    for (const auto& c : cases) {
        TestInstallation inst(kInstalledVersion, kRegion, false);
        ASSERT_TRUE(inst.Install({{"a.dll", "old a"}}));
        ASSERT_TRUE(inst.PublishProgram({c.bOffer ? "4.0.1008.0801" : kInstalledVersion, kRegion, -1, -1, {{"a.dll", "new a"}}}));
        ASSERT_TRUE(inst.Serve() && TestServer::First().SetFault("/1/a.dll", "stall"));
        DialogRun run(inst);
        ASSERT_TRUE(run.Open() && TypeKeys(run.Dlg(), c.pszKeys)) << c.pszKeys;
        EXPECT_TRUE(WaitUntil([&] { return FocusOf(run.Dlg()) == ::GetDlgItem(run.Dlg(), c.nFocus); }, 2000)) << c.pszKeys;
        EXPECT_EQ(AccessibleName(::GetDlgItem(run.Dlg(), IDC_TXT_MESSAGE)), c.pszMessage) << c.pszKeys;
        EXPECT_NE(ControlText(run.Dlg(), IDC_PIC_HEADING), "");
        for (int nId : {IDC_BTN_UPDATE, IDC_BTN_CLOSE, IDC_BTN_CLOSEX, IDC_PIC_HEADING})  // named as they show
            if (ControlVisible(run.Dlg(), nId)) EXPECT_EQ(AccessibleName(::GetDlgItem(run.Dlg(), nId)), ControlText(run.Dlg(), nId)) << nId;
        ASSERT_TRUE(TypeKeys(run.Dlg(), c.pszLast));
        EXPECT_TRUE(run.Ended(5000)) << c.pszKeys;
        EXPECT_EQ(ReadFileBytes(inst.App("a.dll")), "old a") << c.pszKeys;
    }
}

TEST(UpdateDialogCheck, DataSetKindFetchesTheProgramManifestIntoItsOwnStagingAndComparesBelowIt) {
    TestInstallation inst(kInstalledVersion, kRegion, false);
    ProductKey key;
    // The same bytes beside Update.exe do not count: the data set is compared below Maps\.
    ASSERT_TRUE(inst.Install({{"Maps\\same.map", "same"}, {"Maps\\old.map", "old"}, {"old.map", "new map"}}));
    const std::string strDataManifest = "[Version]\r\nVERSION=2.1\r\n";
    ASSERT_TRUE(inst.PublishProgram(
        {"2.1", "other", -1, -1, {{"same.map", "same"}, {"old.map", "new map"}, {"config.ini", strDataManifest}}}));
    ASSERT_TRUE(::MoveFileA((inst.ReleaseDir() + "1").c_str(), (inst.ReleaseDir() + "2").c_str()));
    ASSERT_TRUE(inst.Serve());
    DialogRun run(inst);
    ASSERT_TRUE(run.Open("-T:2 -D:Maps"));

    EXPECT_EQ(run.Message(), kOfferMessage);
    EXPECT_EQ(ControlText(run.Dlg(), IDC_TXT_NEWVERSION), "2.1");
    EXPECT_EQ(ListTree(Staging(inst, "Maps")), (std::vector<std::string>{"UpdateConfig.ini"}));
    EXPECT_EQ(TestServer::First().RequestLog(), (std::vector<std::string>{"/2/UpdateConfig.ini"}));

    ASSERT_TRUE(ClickControl(run.Dlg(), IDC_BTN_UPDATE));
    ASSERT_TRUE(run.Ended(15000));
    // Only the two changed files were fetched, under the data set's kind.
    EXPECT_EQ(TestServer::First().RequestLogInRuns(1),
              (std::vector<std::string>{"/2/UpdateConfig.ini", "/2/config.ini", "/2/old.map"}));
    EXPECT_EQ(ReadFileBytes(inst.App("Maps\\old.map")), "new map");
    EXPECT_EQ(ReadFileBytes(inst.App("Maps\\config.ini")), strDataManifest);
    // The staged config.ini also lands beside Update.exe.
    EXPECT_EQ(ReadFileBytes(inst.App("config.ini")), strDataManifest);
    // No version and no registry for a data set; the record is written all the same.
    EXPECT_EQ(inst.InstalledVersion(), kInstalledVersion);
    EXPECT_EQ(key.Value("Version"), "");
    EXPECT_EQ(key.Value("InstallPath"), "");
    const std::vector<std::string> vecSections = RecordSections(inst);
    ASSERT_EQ(vecSections.size(), 1u);
    EXPECT_EQ(RecordValue(inst, vecSections[0], "NewVersion"), "2.1");
    EXPECT_EQ(RecordValue(inst, vecSections[0], "IsSucceed"), "1");
    EXPECT_FALSE(FileExists(Staging(inst, "Maps") + "UpdateConfig.ini"));
}

// --- download and installation ---------------------------------------------------

TEST(UpdateDialogUpgrade, MovesTheBarInWholeFilesThenInstallsRecordsAndRestartsTheClient) {
    TestInstallation inst(kInstalledVersion, kRegion, true);
    ProductKey key;
    ASSERT_TRUE(inst.Install({{"bin\\a.dll", "old a"}, {"c.dll", "old c"}}));
    const std::vector<ReleaseFile> vecFiles = {{"bin\\a.dll", "new a"}, {"b.dll", std::string(36, 'b')}, {"c.dll", "new c"}};
    ASSERT_TRUE(inst.PublishProgram({"4.0.1008.0801", kRegion, -1, -1, vecFiles}));
    ASSERT_TRUE(inst.Serve());
    // The second file trickles for about two seconds: the bar can be read at 1 of 3.
    ASSERT_TRUE(TestServer::First().SetFault("/1/b.dll", "trickle"));
    UiProcess client;
    ASSERT_TRUE(inst.StartClient(client));
    DialogRun run(inst);
    ASSERT_TRUE(run.Open());

    ASSERT_TRUE(ClickControl(run.Dlg(), IDC_BTN_UPDATE));
    ASSERT_TRUE(WaitUntil([&] { return run.BarPosition() == 1; }, 10000));
    EXPECT_EQ(run.BarUpper(), 3);
    EXPECT_EQ(run.Message(), kDownloading);
    EXPECT_EQ(run.PictureWidth(IDC_PIC_HEADING), 214);   // "正在下载更新，请稍等..."
    EXPECT_EQ(run.PictureWidth(IDC_PIC_ICON), 84);
    for (int nId : kOfferControls) EXPECT_FALSE(ControlVisible(run.Dlg(), nId)) << nId;
    EXPECT_TRUE(ControlVisible(run.Dlg(), IDC_BTN_CLOSE));
    run.Screenshot("update-downloading");
    // Nothing is installed while files are still coming, and the bar waits for whole files.
    EXPECT_EQ(ReadFileBytes(inst.App("bin\\a.dll")), "old a");
    EXPECT_EQ(run.BarPosition(), 1);

    ASSERT_TRUE(run.Ended(15000));
    for (const ReleaseFile& file : vecFiles) EXPECT_EQ(ReadFileBytes(inst.App(file.strName)), file.strBytes);
    EXPECT_EQ(inst.InstalledVersion(), "4.0.1008.0801");
    EXPECT_EQ(key.Value("InstallPath"), inst.AppDir());
    EXPECT_EQ(key.Value("Version"), "4.0.1008.0801");
    const std::vector<std::string> vecSections = RecordSections(inst);
    ASSERT_EQ(vecSections.size(), 1u);
    EXPECT_TRUE(IsDateTimeSection(vecSections[0])) << vecSections[0];
    EXPECT_EQ(RecordValue(inst, vecSections[0], "IsSucceed"), "1");
    EXPECT_EQ(RecordValue(inst, vecSections[0], "NewVersion"), "4.0.1008.0801");
    EXPECT_EQ(RecordValue(inst, vecSections[0], "OldVersion"), kInstalledVersion);
    EXPECT_EQ(::GetFileAttributesA(Staging(inst).c_str()), INVALID_FILE_ATTRIBUTES);
    // The running client was closed, and a new one started without delay.
    ASSERT_TRUE(WaitUntil([&] { return inst.ClientLog().size() >= 3; }, 5000));
    EXPECT_EQ(inst.ClientLog(), (std::vector<std::string>{"start", "close", "start"}));
}

TEST(UpdateDialogUpgrade, EverythingStagedInstallsAtOnceWithoutFetchingAndKeepsAnOlderConfigVersion) {
    TestInstallation inst(kInstalledVersion, kRegion, true);
    ProductKey key;
    std::vector<ReleaseFile> vecFiles;
    for (int i = 0; i < 60; ++i)
        vecFiles.push_back({"lib\\part" + std::to_string(i) + ".dat", std::string(20000, static_cast<char>('a' + i % 26))});
    // Another region has the files compared although 4.0.1007 is not above 4.0.1007.0715.
    ASSERT_TRUE(inst.PublishProgram({"4.0.1007", "TW", -1, -1, vecFiles}));
    ASSERT_TRUE(inst.Serve());
    for (const ReleaseFile& file : vecFiles) ASSERT_TRUE(WriteFileBytes(Staging(inst) + file.strName, file.strBytes));
    UiProcess client;
    ASSERT_TRUE(inst.StartClient(client));
    DialogRun run(inst);
    ASSERT_TRUE(run.Open());
    EXPECT_EQ(ControlText(run.Dlg(), IDC_TXT_NEWVERSION), "4.0.1007");

    ASSERT_TRUE(::PostMessageA(run.Dlg(), WM_KEYDOWN, VK_RETURN, 1));  // Enter upgrades while offered
    // The installation begins with the client's close: catch its heading on screen.
    if (WaitUntil([&] { return inst.ClientLog().size() >= 2; }, 10000)) {
        ::Sleep(40);
        ScreenImage shot = CaptureWindow(run.Dlg());
        if (!shot.IsEmpty() && ::IsWindow(run.Dlg())) shot.SavePng(ScreenshotDir() + "update-installing.png");
    }
    ASSERT_TRUE(run.Ended(15000));
    EXPECT_EQ(TestServer::First().RequestLog(), (std::vector<std::string>{"/1/UpdateConfig.ini"}));
    for (const ReleaseFile& file : vecFiles) EXPECT_EQ(ReadFileBytes(inst.App(file.strName)), file.strBytes);
    // Not greater as text: Config.dat keeps its version, the registry takes the manifest's.
    EXPECT_EQ(inst.InstalledVersion(), kInstalledVersion);
    EXPECT_EQ(key.Value("Version"), "4.0.1007");
    const std::vector<std::string> vecSections = RecordSections(inst);
    ASSERT_EQ(vecSections.size(), 1u);
    EXPECT_EQ(RecordValue(inst, vecSections[0], "IsSucceed"), "1");
    ASSERT_TRUE(WaitUntil([&] { return inst.ClientLog().size() >= 3; }, 5000));
    EXPECT_EQ(inst.ClientLog(), (std::vector<std::string>{"start", "close", "start"}));
}

TEST(UpdateDialogUpgrade, AFileInUseIsMovedAsideAndOneHeldForEverPutsTheOldReleaseBack) {
    const struct {
        const char* pszName;
        const char* pszShare;   // how the running program holds b.dll
        bool bReplaced;
    } cases[] = {
        {"held like a running program: renamed to .bak", "rd", true},
        {"held without delete sharing: waited for, then the old release is back", "r", false},
    };
    for (const auto& c : cases) {
        TestInstallation inst(kInstalledVersion, kRegion, true);
        ProductKey key;
        ASSERT_TRUE(inst.Install({{"a.dll", "old a"}, {"b.dll", "old b"}}));
        ASSERT_TRUE(inst.PublishProgram({"4.0.1008.0801", kRegion, -1, -1, {{"a.dll", "new a"}, {"b.dll", "new b"}}}));
        ASSERT_TRUE(inst.Serve());
        UiProcess holder;
        ASSERT_TRUE(inst.Hold(holder, "b.dll", c.pszShare)) << c.pszName;
        UiProcess client;
        ASSERT_TRUE(inst.StartClient(client));
        DialogRun run(inst);
        ASSERT_TRUE(run.Open()) << c.pszName;
        ASSERT_TRUE(ClickControl(run.Dlg(), IDC_BTN_UPDATE));
        if (c.bReplaced) {
            ASSERT_TRUE(run.Ended(15000)) << c.pszName;
        } else {
            // About 10 s of waiting for b.dll, then the dialog says so and stays.
            ASSERT_TRUE(run.WaitForMessage(kUpdateError, 20000)) << c.pszName << ": " << run.Message();
            EXPECT_FALSE(run.Ended(300)) << c.pszName;
        }

        // All or nothing: never a new a.dll beside an old b.dll.
        EXPECT_EQ(ReadFileBytes(inst.App("a.dll")), c.bReplaced ? "new a" : "old a") << c.pszName;
        EXPECT_EQ(ReadFileBytes(inst.App("b.dll")), c.bReplaced ? "new b" : "old b") << c.pszName;
        EXPECT_EQ(FileExists(inst.App("b.dll.bak")), c.bReplaced) << c.pszName;
        // Only a complete installation claims the new version.
        EXPECT_EQ(inst.InstalledVersion(), c.bReplaced ? "4.0.1008.0801" : kInstalledVersion) << c.pszName;
        EXPECT_EQ(key.Value("Version"), c.bReplaced ? "4.0.1008.0801" : "") << c.pszName;
        const std::vector<std::string> vecSections = RecordSections(inst);
        ASSERT_EQ(vecSections.size(), 1u) << c.pszName;
        EXPECT_EQ(RecordValue(inst, vecSections[0], "IsSucceed"), c.bReplaced ? "1" : "0") << c.pszName;
        EXPECT_EQ(RecordValue(inst, vecSections[0], "NewVersion"), "4.0.1008.0801") << c.pszName;
        // The run ends as usual: staging deleted, client started again.
        EXPECT_EQ(::GetFileAttributesA(Staging(inst).c_str()), INVALID_FILE_ATTRIBUTES) << c.pszName;
        ASSERT_TRUE(WaitUntil([&] { return inst.ClientLog().size() >= 3; }, 5000)) << c.pszName;
        holder.Kill();
    }
}

TEST(UpdateDialogUpgrade, AFailedSecondFileKeepsTheFirstStagedAndTheNextRunFetchesTheRest) {
    TestInstallation inst(kInstalledVersion, kRegion, false);
    // One file at a time: c.dll is never asked for.
    CCryptConfigFile(inst.App("UserConfig.dat"), "").WriteInteger("Server", "Connections", 1);
    const std::vector<ReleaseFile> vecFiles = {{"a.dll", "new a"}, {"b.dll", "new b"}, {"c.dll", "new c"}};
    ASSERT_TRUE(inst.PublishProgram({"4.0.1008.0801", kRegion, -1, -1, vecFiles}));
    ASSERT_TRUE(inst.Serve());
    ASSERT_TRUE(TestServer::First().SetFault("/1/b.dll", "404"));
    {
        DialogRun run(inst);
        ASSERT_TRUE(run.Open());
        ASSERT_TRUE(ClickControl(run.Dlg(), IDC_BTN_UPDATE));
        ASSERT_TRUE(run.WaitForMessage(kConnectionFailed, 10000)) << run.Message();
        for (int nId : kOfferControls) EXPECT_FALSE(ControlVisible(run.Dlg(), nId)) << nId;
        EXPECT_EQ(ListTree(Staging(inst)), (std::vector<std::string>{"UpdateConfig.ini", "a.dll"}));
        EXPECT_EQ(ReadFileBytes(Staging(inst) + "a.dll"), "new a");
        EXPECT_EQ(TestServer::First().RequestLog(),
                  (std::vector<std::string>{"/1/UpdateConfig.ini", "/1/a.dll", "/1/b.dll"}));
        run.Screenshot("update-failed");
        EXPECT_TRUE(run.Close());
        EXPECT_FALSE(FileExists(inst.App("a.dll")));
        EXPECT_TRUE(RecordSections(inst).empty());
    }
    // The next opening reuses the staged a.dll and fetches only the other two.
    ASSERT_TRUE(inst.Serve());
    DialogRun run(inst);
    ASSERT_TRUE(run.Open());
    ASSERT_TRUE(ClickControl(run.Dlg(), IDC_BTN_UPDATE));
    ASSERT_TRUE(run.Ended(15000));
    EXPECT_EQ(TestServer::First().RequestLog(),
              (std::vector<std::string>{"/1/UpdateConfig.ini", "/1/b.dll", "/1/c.dll"}));
    for (const ReleaseFile& file : vecFiles) EXPECT_EQ(ReadFileBytes(inst.App(file.strName)), file.strBytes);
}

TEST(UpdateDialogUpgrade, AFileThatIsNotTheManifestsInstallsNothing) {
    const std::string strBad = "ten bytes!";
    const struct {
        const char* pszName;
        std::string strFrom;
        std::string strTo;
    } cases[] = {
        {"size differs from SIZE", "SIZE=10\r\n", "SIZE=999\r\n"},
        {"digest differs from MD5", "MD5=" + Md5Hex(strBad), "MD5=0123456789abcdef0123456789abcdef"},
    };
    bool bFirst = true;
    for (const auto& c : cases) {
        TestInstallation inst(kInstalledVersion, kRegion, true);
        ASSERT_TRUE(inst.Install({{"a.dll", "old a"}, {"b.dll", "old b"}}));
        ASSERT_TRUE(inst.PublishProgram({"4.0.1008.0801", kRegion, -1, -1, {{"a.dll", "new a"}, {"b.dll", strBad}, {"c.dll", "new c"}}}));
        PatchManifest(inst, c.strFrom, c.strTo);
        ASSERT_TRUE(inst.Serve());
        UiProcess client;
        ASSERT_TRUE(inst.StartClient(client));
        DialogRun run(inst);
        ASSERT_TRUE(run.Open()) << c.pszName;
        ASSERT_TRUE(ClickControl(run.Dlg(), IDC_BTN_UPDATE));
        ASSERT_TRUE(run.WaitForMessage(kUpdateError, 10000)) << c.pszName << ": " << run.Message();
        EXPECT_FALSE(run.Ended(300)) << c.pszName;   // the dialog stays open
        EXPECT_EQ(run.Message(), kUpdateError) << c.pszName;
        EXPECT_EQ(ReadFileBytes(inst.App("a.dll")), "old a") << c.pszName;
        EXPECT_EQ(ReadFileBytes(inst.App("b.dll")), "old b") << c.pszName;
        EXPECT_FALSE(FileExists(inst.App("c.dll"))) << c.pszName;
        EXPECT_EQ(inst.InstalledVersion(), kInstalledVersion) << c.pszName;
        EXPECT_TRUE(RecordSections(inst).empty()) << c.pszName;
        EXPECT_EQ(inst.ClientLog(), (std::vector<std::string>{"start"})) << c.pszName;
        if (bFirst) run.Screenshot("update-error");
        bFirst = false;
        EXPECT_TRUE(run.Close()) << c.pszName;
    }
}

TEST(UpdateDialogUpgrade, ClosingDuringADownloadEndsPromptlyWithNothingInstalled) {
    for (const char* pszFault : {"stall", "trickle"}) {
        TestInstallation inst(kInstalledVersion, kRegion, true);
        ASSERT_TRUE(inst.Install({{"a.dll", "old a"}}));
        ASSERT_TRUE(inst.PublishProgram({"4.0.1008.0801", kRegion, -1, -1, {{"a.dll", std::string(4000, 'a')}, {"b.dll", "new b"}}}));
        ASSERT_TRUE(inst.Serve());
        ASSERT_TRUE(TestServer::First().SetFault("/1/a.dll", pszFault));
        UiProcess client;
        ASSERT_TRUE(inst.StartClient(client));
        DialogRun run(inst);
        ASSERT_TRUE(run.Open());
        ASSERT_TRUE(ClickControl(run.Dlg(), IDC_BTN_UPDATE));
        ASSERT_TRUE(WaitUntil([] { return TestServer::First().RequestLog().size() >= 2; }, 5000)) << pszFault;
        ::Sleep(500);

        const DWORD dwStart = ::GetTickCount();
        ClickControl(run.Dlg(), IDC_BTN_CLOSE);
        EXPECT_TRUE(run.Ended(2000)) << pszFault;
        EXPECT_LT(::GetTickCount() - dwStart, 2000u) << pszFault;
        EXPECT_EQ(ReadFileBytes(inst.App("a.dll")), "old a") << pszFault;
        EXPECT_FALSE(FileExists(inst.App("b.dll"))) << pszFault;
        EXPECT_TRUE(RecordSections(inst).empty()) << pszFault;
        EXPECT_EQ(inst.InstalledVersion(), kInstalledVersion) << pszFault;
        // The client keeps running: it was neither closed nor started again.
        EXPECT_EQ(inst.ClientLog(), (std::vector<std::string>{"start"})) << pszFault;
    }
}

// --- signed releases ----------------------------------------------------------

TEST(UpdateDialogSigned, OffersAndInstallsOnlyWhatTheKeySigned) {
    for (const S_SignedCase& c : SignedCases()) {
        TestInstallation inst(kInstalledVersion, kRegion, false);
        ASSERT_TRUE(inst.Install({{"bin\\a.dll", "old a"}}));
        ASSERT_TRUE(inst.PublishProgram({"4.0.1008.0801", kRegion, -1, -1, {{"bin\\a.dll", "new a"}, {"b.dll", "new b"}}}));
        std::string strSigned;
        ASSERT_TRUE(PrepareSignedCase(inst, c.eCase, inst.ReleaseDir() + "1\\", "UpdateConfig.ini", "Program", "b.dll",
                                      &strSigned))
            << c.pszName;
        const std::string strRecordBefore = inst.ConfigValue("Signature", "Program");
        ASSERT_TRUE(inst.Serve());
        DialogRun run(inst);
        ASSERT_TRUE(run.Open()) << c.pszName;

        const bool bInstalls = Installs(c.eCase);
        std::vector<std::string> vecRequests = ManifestRequests(c.eCase, "/1/UpdateConfig.ini");
        const size_t nManifestRequests = vecRequests.size();
        if (bInstalls || c.eCase == ESigned::Md5Collision) {
            EXPECT_EQ(run.Message(), kOfferMessage) << c.pszName;
            ASSERT_TRUE(ClickControl(run.Dlg(), IDC_BTN_UPDATE)) << c.pszName;
            if (bInstalls) {
                EXPECT_TRUE(run.Ended(15000)) << c.pszName;
            } else {
                EXPECT_TRUE(run.WaitForMessage(kUpdateError, 10000)) << c.pszName << ": " << run.Message();
                EXPECT_TRUE(run.Close()) << c.pszName;
            }
            for (const char* pszUrl : {"/1/bin/a.dll", "/1/b.dll"}) vecRequests.push_back(pszUrl);
        } else {
            // Never "up to date": a .sig that is not there is a server that did not deliver.
            EXPECT_EQ(run.Message(), c.eCase == ESigned::NoSignature ? kConnectionFailed : kUpdateError) << c.pszName;
            EXPECT_FALSE(ControlVisible(run.Dlg(), IDC_BTN_UPDATE)) << c.pszName;
            EXPECT_FALSE(FileExists(Staging(inst) + "UpdateConfig.ini")) << c.pszName;
            EXPECT_FALSE(FileExists(Staging(inst) + "UpdateConfig.ini.sig")) << c.pszName;
            EXPECT_TRUE(run.Close()) << c.pszName;
        }
        EXPECT_EQ(ReadFileBytes(inst.App("bin\\a.dll")), bInstalls ? "new a" : "old a") << c.pszName;
        EXPECT_EQ(FileExists(inst.App("b.dll")), bInstalls) << c.pszName;
        EXPECT_EQ(inst.InstalledVersion(), bInstalls ? "4.0.1008.0801" : kInstalledVersion) << c.pszName;
        EXPECT_EQ(RecordSections(inst).size(), bInstalls ? 1u : 0u) << c.pszName;
        EXPECT_EQ(inst.ConfigValue("Signature", "Program"), ExpectedRecord(c.eCase, strSigned, strRecordBefore))
            << c.pszName;
        EXPECT_EQ(TestServer::First().RequestLogInRuns(nManifestRequests), SortRuns(vecRequests, nManifestRequests)) << c.pszName;
    }
}

// A signed release with patches, over plain HTTP and over HTTPS (nginx in front
// of the test server): the dialog's download is the run's fetch with its ways.
TEST(UpdateDialogSigned, TakesPatchesFromTheInstalledRelease) {
    for (bool bTls : {false, true}) {
        SCOPED_TRACE(bTls ? "https" : "http");
        TestInstallation inst(kInstalledVersion, kRegion, false);
        const std::string strOld = ProgramLikeBytes(5, 150000, false), strNew = ProgramLikeBytes(5, 150000, true);
        ASSERT_TRUE(inst.Install({{"bin\\a.dll", strOld}}));
        ASSERT_TRUE(WriteFileBytes(inst.Temp("old\\bin\\a.dll"), strOld));
        ASSERT_TRUE(WriteFileBytes(inst.ReleaseDir() + "1\\bin\\a.dll", strNew));
        ASSERT_TRUE(WriteFileBytes(inst.ReleaseDir() + "1\\c.dll", "new c"));
        ASSERT_TRUE(PublishWithPatches(inst, {"program", inst.ReleaseDir() + "1\\", "--version", "4.0.1008.0801",
                                              "--region", kRegion}, inst.Temp("old\\"), 1));
        ASSERT_TRUE(inst.Serve());
        if (bTls) {
            ASSERT_TRUE(inst.SetConfig("Update", "ServerIP", "https://localhost"));
            ASSERT_TRUE(inst.SetConfig("Update", "ServerPort", std::to_string(TestServer::TlsPort("QOVA_TEST_TLS"))));
        }
        DialogRun run(inst);
        ASSERT_TRUE(run.Open());
        EXPECT_EQ(run.Message(), kOfferMessage);
        ASSERT_TRUE(ClickControl(run.Dlg(), IDC_BTN_UPDATE));
        ASSERT_TRUE(run.Ended(15000));
        EXPECT_TRUE(ReadFileBytes(inst.App("bin\\a.dll")) == strNew);
        EXPECT_EQ(ReadFileBytes(inst.App("c.dll")), "new c");
        EXPECT_LT(TestServer::First().BodyBytes(), static_cast<long long>(strNew.size() / 10));
        const std::string strLog = ReadFileBytes(inst.App("UpdateState\\Update.log"));
        EXPECT_NE(std::string::npos, strLog.find("way file=bin\\a.dll way=patch")) << strLog;
        EXPECT_EQ(bTls, strLog.find("server=https://localhost:") != std::string::npos) << strLog;
    }
}

// Closing the dialog during a download keeps the part of each file in flight;
// the next opening asks only for the rest of it (default: 4 connections).
TEST(UpdateDialogUpgrade, ClosingMidDownloadKeepsPartsThatTheNextOpeningContinues) {
    TestInstallation inst(kInstalledVersion, kRegion, false);
    std::string strBig(3 * 1024 * 1024, '\0');
    for (size_t i = 0; i < strBig.size(); ++i) strBig[i] = static_cast<char>((i * 131 + i / 4093) & 0xFF);
    const std::vector<ReleaseFile> vecFiles = {{"a.dll", "new a"}, {"data\\big.dat", strBig}};
    ASSERT_TRUE(inst.PublishProgram({"4.0.1008.0801", kRegion, -1, -1, vecFiles}));
    ASSERT_TRUE(inst.Serve());
    // Half of big.dat comes, then nothing: the user gives up and closes the dialog.
    ASSERT_TRUE(TestServer::First().SetFault("/1/data/big.dat", "pause"));
    {
        DialogRun run(inst);
        ASSERT_TRUE(run.Open());
        ASSERT_TRUE(ClickControl(run.Dlg(), IDC_BTN_UPDATE));
        ASSERT_TRUE(WaitUntil([&] { return FileExists(Staging(inst) + "data\\big.dat.part") && FileExists(Staging(inst) + "a.dll"); }, 10000));
        ::Sleep(500);
        ASSERT_TRUE(run.Close());
    }
    const size_t nHave = ReadFileBytes(Staging(inst) + "data\\big.dat.part").size();
    ASSERT_GT(nHave, 0u);
    EXPECT_TRUE(FileExists(Staging(inst) + "data\\big.dat.part.tag"));
    EXPECT_FALSE(FileExists(inst.App("data\\big.dat")));

    ASSERT_TRUE(inst.Serve());
    DialogRun run(inst);
    ASSERT_TRUE(run.Open());
    ASSERT_TRUE(ClickControl(run.Dlg(), IDC_BTN_UPDATE));
    ASSERT_TRUE(run.Ended(15000));
    EXPECT_EQ(ReadFileBytes(inst.App("data\\big.dat")), strBig);
    EXPECT_EQ(ReadFileBytes(inst.App("a.dll")), "new a");
    EXPECT_EQ(inst.InstalledVersion(), "4.0.1008.0801");
    // a.dll was reused; big.dat was continued where it broke off.
    std::vector<std::string> vecBig;
    for (const std::string& strLine : TestServer::First().RequestDetails())
        if (strLine.compare(0, 16, "/1/data/big.dat\t") == 0) vecBig.push_back(strLine.substr(16));
    ASSERT_EQ(vecBig.size(), 1u);
    EXPECT_EQ(vecBig[0].substr(0, vecBig[0].find('\t')), "bytes=" + std::to_string(nHave) + "-");
    EXPECT_EQ(vecBig[0].substr(vecBig[0].rfind('\t') + 1), "206");
    // The manifest was answered 304 against the copy the first opening kept.
    EXPECT_EQ(TestServer::First().BodyBytes(), static_cast<long long>(strBig.size() - nHave));
}

}  // namespace
