#include <gtest/gtest.h>

#include <windows.h>

#include <set>
#include <string>
#include <thread>

#include "app/InstallationLock.h"
#include "app/SilentUpdater.h"
#include "app/UpdateApp.h"
#include "platform/base/Text.h"
#include "platform/base/Win32Handles.h"
#include "platform/fs/DirectoryEx.h"
#include "platform/ini/CryptConfigFile.h"
#include "support/ProcessStart.h"
#include "support/TempDir.h"

namespace {

// Spelled out here rather than shared, so that a typo in the product shows.
const char kMutexName[] = "WIN32.QVOAUpdateWizard.Instance.Once";

std::string AppPath() {
    std::string strAppPath;
    CDirectoryEx::GetApplicationPath(strAppPath);
    return strAppPath;
}

TEST(SilentUpdater, BuildsThePathsOfEachKind) {
    const std::string strApp = AppPath();
    ASSERT_EQ(TestProgramDir(), strApp);

    struct {
        const char* pszWhat;
        bool bProgram;
        int nType;
        std::string strName, strTarget, strDownload, strConfig;
    } const cases[] = {
        {"program", true, 1, "Program", strApp, strApp + "UPDATE\\Program\\", "UpdateConfig.ini"},
        {"data set", false, 3, "Skin", strApp + "Skin\\", strApp + "UPDATE\\Skin\\", "config.ini"},
        {"empty name keeps its separator", false, 0, "", strApp + "\\", strApp + "UPDATE\\\\", "config.ini"},
        {"Chinese name", false, -2, "誠", strApp + "誠\\", strApp + "UPDATE\\誠\\", "config.ini"},
        {"nested name", false, 4, "Maps\\East", strApp + "Maps\\East\\", strApp + "UPDATE\\Maps\\East\\",
         "config.ini"},
    };
    for (const auto& c : cases) {
        CSilentUpdater updater;
        const bool bOk = c.bProgram ? updater.InitProgram(c.nType, c.strName) : updater.InitData(c.nType, c.strName);
        ASSERT_TRUE(bOk) << c.pszWhat;
        EXPECT_TRUE(updater.m_setup.pUpdateIntf != nullptr) << c.pszWhat;
        EXPECT_EQ(c.nType, updater.m_setup.nUpdateType) << c.pszWhat;
        EXPECT_EQ(c.strName, updater.m_setup.strUpdateName) << c.pszWhat;
        EXPECT_EQ(strApp, updater.m_setup.strAppPath) << c.pszWhat;
        EXPECT_EQ(c.strTarget, updater.m_setup.strTargetPath) << c.pszWhat;
        EXPECT_EQ(c.strDownload, updater.m_setup.strDownloadPath) << c.pszWhat;
        EXPECT_EQ(c.strConfig, updater.m_strConfigName) << c.pszWhat;
    }
}

TEST(SilentUpdater, RefusesNamesThatLeaveTheApplicationDirectoryAndASecondInit) {
    // UPDATE and UpdateState are the road's own: a data set there would install into them.
    for (const char* pszName : {"..", "..\\..", "Skin\\..\\..", "C:\\Windows", "\\Windows", "update", "UpdateState\\x"}) {
        CSilentUpdater updater;
        EXPECT_FALSE(updater.InitData(3, pszName)) << pszName;
        EXPECT_FALSE(updater.IsInitialised()) << pszName;
        EXPECT_EQ("", updater.m_setup.strDownloadPath) << pszName;
        EXPECT_EQ("", updater.m_setup.strTargetPath) << pszName;
    }

    CSilentUpdater updater;
    ASSERT_TRUE(updater.InitData(3, "Skin"));
    const CQOVAUpdateIntf* pFirst = updater.m_setup.pUpdateIntf;
    EXPECT_FALSE(updater.InitProgram(1, "Program"));
    EXPECT_FALSE(updater.InitData(4, "Maps"));
    EXPECT_EQ(pFirst, updater.m_setup.pUpdateIntf);
    EXPECT_EQ(3, updater.m_setup.nUpdateType);
    EXPECT_EQ(AppPath() + "UPDATE\\Skin\\", updater.m_setup.strDownloadPath);
}

// WAIT_TIMEOUT while another thread owns the mutex, WAIT_OBJECT_0 once it is released.
DWORD ProbeFromAnotherThread(HANDLE hMutex) {
    DWORD dwResult = WAIT_FAILED;
    std::thread probe([&] {
        dwResult = WaitForSingleObject(hMutex, 0);
        if (dwResult == WAIT_OBJECT_0 || dwResult == WAIT_ABANDONED) ReleaseMutex(hMutex);
    });
    probe.join();
    return dwResult;
}

TEST(UpdateApp, HoldsTheInstanceMutexUntilDestroyed) {
    UniqueHandle hProbe;
    {
        CUpdateApp first;
        ASSERT_TRUE(first.AcquireInstanceMutex());
        hProbe.reset(OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, kMutexName));
        ASSERT_TRUE(hProbe);
        EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ProbeFromAnotherThread(hProbe.get()));

        {
            CUpdateApp second;
            EXPECT_FALSE(second.AcquireInstanceMutex());
        }
        // The refused object did not end the first one's ownership on its way out.
        EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ProbeFromAnotherThread(hProbe.get()));
    }
    // Released, not abandoned: the owner let go before its thread ended.
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), ProbeFromAnotherThread(hProbe.get()));
    hProbe.reset();

    // Closed as well: with no handle left the name is free for a fresh start.
    CUpdateApp next;
    EXPECT_TRUE(next.AcquireInstanceMutex());
}

struct RunResult {
    bool bStarted = false;
    bool bEnded = false;
    DWORD dwExitCode = 0;
};

// strStdout: a file that receives the program's standard output (none when empty).
RunResult RunProgram(const std::string& strExe, const std::string& strArgs, DWORD dwTimeoutMs,
                     const std::string& strStdout = std::string()) {
    RunResult result;
    std::string strCommand = "\"" + strExe + "\" " + strArgs;
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    UniqueFile hOut;
    if (!strStdout.empty()) {
        SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
        hOut.reset(CreateFileA(strStdout.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr));
        if (!hOut) return result;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdOutput = si.hStdError = hOut.get();
    }
    PROCESS_INFORMATION pi = {};
    if (!StartProcess(Utf8ToWide(strExe).c_str(), Utf8ToWide(strCommand), hOut ? TRUE : FALSE, 0, si, pi)) return result;
    UniqueHandle hProcess(pi.hProcess), hThread(pi.hThread);
    result.bStarted = true;
    result.bEnded = WaitForSingleObject(pi.hProcess, dwTimeoutMs) == WAIT_OBJECT_0;
    if (!result.bEnded) TerminateProcess(pi.hProcess, 1);
    GetExitCodeProcess(pi.hProcess, &result.dwExitCode);
    return result;
}

std::set<std::string> ListDirectory(const std::string& strDir) {
    std::set<std::string> setNames;
    WIN32_FIND_DATAA fd;
    UniqueFind hFind(FindFirstFileA((strDir + "*").c_str(), &fd));
    if (!hFind) return setNames;
    do {
        const std::string strName = fd.cFileName;
        if (strName != "." && strName != "..") setNames.insert(strName);
    } while (FindNextFileA(hFind.get(), &fd));
    return setNames;
}

// A copy of Update.exe in a fresh directory whose Config.dat names a server
// that nobody answers, so that any update it attempted would leave traces.
class UpdateExeCopy : public ::testing::Test {
protected:
    void SetUp() override {
        m_strExe = m_dir / "Update.exe";
        ASSERT_TRUE(CopyFileA((ProductBinDir() + "Update.exe").c_str(), m_strExe.c_str(), FALSE));
        CCryptConfigFile config(m_dir / "Config.dat", "");
        config.WriteString("Update", "Version", "1.0.0.0");
        config.WriteString("Update", "ServerIP", "127.0.0.1");
        config.WriteString("Update", "ServerPort", "1");
    }

    TempDir m_dir;
    std::string m_strExe;
};

TEST_F(UpdateExeCopy, SecondCopyQuitsAtOnceWithoutTouchingAnything) {
    UniqueHandle hHeld(CreateMutexA(nullptr, TRUE, kMutexName));
    ASSERT_TRUE(hHeld);
    ASSERT_NE(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
    const std::set<std::string> setBefore = ListDirectory(m_dir.Path());

    // A silent run says "another run holds this installation" (6); the dialog's code stays 0.
    for (const auto& c : {std::make_pair("-silent", 6u), std::make_pair("-silent -t:3 -d:Skin", 6u),
                          std::make_pair("", 0u), std::make_pair("-t:2 -d:Maps", 0u)}) {
        const char* pszArgs = c.first;
        const RunResult result = RunProgram(m_strExe, pszArgs, 10000);
        ASSERT_TRUE(result.bStarted) << pszArgs;
        EXPECT_TRUE(result.bEnded) << pszArgs;
        EXPECT_EQ(c.second, result.dwExitCode) << pszArgs;
        EXPECT_EQ(setBefore, ListDirectory(m_dir.Path())) << pszArgs;
    }
    ReleaseMutex(hHeld.get());
}

// The installation's own lock is global and names the directory however it is
// spelled. Wine has one session: this process holding it stands in for another's run.
TEST_F(UpdateExeCopy, ARunIsRefusedWhileAnotherHoldsTheInstallation) {
    const std::wstring strName = InstallationLockName(m_dir.Path());
    EXPECT_EQ(0u, strName.find(L"Global\\QOVAUpdate."));
    for (const std::string& strSpelling : {"\\\\?\\" + m_dir.Path(), m_dir.Path() + "x\\..\\", std::string(CharUpperA(&std::string(m_dir.Path())[0]))})
        EXPECT_EQ(strName, InstallationLockName(strSpelling)) << strSpelling;
    EXPECT_NE(strName, InstallationLockName(ProductBinDir()));
    const std::set<std::string> setBefore = ListDirectory(m_dir.Path());
    {
        CInstallationLock held;
        ASSERT_TRUE(held.Acquire(m_dir.Path()));
        for (const char* pszArgs : {"-silent", "-silent -t:3 -d:Skin", ""}) {
            const RunResult result = RunProgram(m_strExe, pszArgs, 10000);
            EXPECT_TRUE(result.bEnded) << pszArgs;
            EXPECT_EQ(*pszArgs ? 6u : 0u, result.dwExitCode) << pszArgs;
            EXPECT_EQ(setBefore, ListDirectory(m_dir.Path())) << pszArgs << ": nothing touched";
        }
    }
    EXPECT_TRUE(RunProgram(m_strExe, "-silent", 60000).bEnded);
    EXPECT_NE(setBefore, ListDirectory(m_dir.Path())) << "released: the next run goes ahead";
}

TEST_F(UpdateExeCopy, SilentRunsStartAndEndCleanly) {
    // Nobody answers on the configured port: no server (1). -d:.. would make
    // the staging directory the installation itself: refused (7).
    for (const auto& c : {std::make_pair("-silent", 1u), std::make_pair("-SIL -t:3 -d:Skin", 1u),
                          std::make_pair("\"\" -t:0", 1u), std::make_pair("-silent -t:3 -d:..", 7u)}) {
        const char* pszArgs = c.first;
        DeleteFileA((m_dir / "UpdateState\\Update.log").c_str());   // each run's lines alone
        const RunResult result = RunProgram(m_strExe, pszArgs, 60000);
        ASSERT_TRUE(result.bStarted) << pszArgs;
        EXPECT_TRUE(result.bEnded) << pszArgs;
        EXPECT_EQ(c.second, result.dwExitCode) << pszArgs;
        const std::string strLog = ReadFileBytes(m_dir / "UpdateState\\Update.log");
        EXPECT_NE(std::string::npos, strLog.find(c.second == 7u ? "end unsafe-name stage=start exit=7 hint="
                                                                 : "end manifest-unavailable stage=manifest"))
            << pszArgs << "\n" << strLog;
        EXPECT_TRUE(FileExists(m_strExe)) << pszArgs;
        EXPECT_TRUE(FileExists(m_dir / "Config.dat")) << pszArgs;
    }
}

// The help needs neither the mutex nor the lock: it answers while a run holds both.
TEST_F(UpdateExeCopy, HelpPrintsTheCommandLineAndExitCodesAndTouchesNothing) {
    UniqueHandle hHeld(CreateMutexA(nullptr, TRUE, kMutexName));
    ASSERT_TRUE(hHeld);
    CInstallationLock held;
    ASSERT_TRUE(held.Acquire(m_dir.Path()));
    const std::set<std::string> setBefore = ListDirectory(m_dir.Path());
    TempDir outDir;
    const std::string strOut = outDir / "help.txt";
    for (const char* pszArgs : {"/?", "--help", "-h", "-silent -t:3 --HELP"}) {
        const RunResult result = RunProgram(m_strExe, pszArgs, 10000, strOut);
        ASSERT_TRUE(result.bEnded) << pszArgs;
        EXPECT_EQ(0u, result.dwExitCode) << pszArgs;
        const std::string strText = ReadFileBytes(strOut);
        for (const char* pszPart : {"Usage: Update.exe [-silent] [-t:KIND] [-d:NAME]", "-d:NAME", "(no -silent)",
                                    "  0  installed, or nothing to do\r\n", "  6  another run holds this installation\r\n",
                                    "  8  cancelled\r\n"}) {
            EXPECT_NE(std::string::npos, strText.find(pszPart)) << pszArgs << ": " << pszPart << "\n" << strText;
        }
        EXPECT_EQ(setBefore, ListDirectory(m_dir.Path())) << pszArgs << ": no run, no log";
    }
    ReleaseMutex(hHeld.get());
}

TEST(UpdateExe, CarriesItsManifestAndVersion) {
    const std::string strExe = ProductBinDir() + "Update.exe";
    HMODULE hModule = LoadLibraryExA(strExe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(hModule != nullptr);
    ScopeExit unload([hModule] { FreeLibrary(hModule); });

    HRSRC hManifest = FindResourceA(hModule, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));   // RT_MANIFEST
    ASSERT_TRUE(hManifest != nullptr);
    const std::string strManifest(static_cast<const char*>(LockResource(LoadResource(hModule, hManifest))),
                                  SizeofResource(hModule, hManifest));
    for (const char* pszPart : {"level=\"asInvoker\"", "Microsoft.Windows.Common-Controls", "6595b64144ccf1df",
                                ">true</dpiAware>", ">PerMonitorV2</dpiAwareness>",
                                "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"}) {
        EXPECT_NE(std::string::npos, strManifest.find(pszPart)) << pszPart;
    }

    HRSRC hVersion = FindResourceA(hModule, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(16));   // RT_VERSION
    ASSERT_TRUE(hVersion != nullptr);
    const std::string strVersion(static_cast<const char*>(LockResource(LoadResource(hModule, hVersion))),
                                 SizeofResource(hModule, hVersion));
    const std::wstring strProduct = L"ProductName";
    const std::wstring strQova = L"QOVA";
    const size_t nAt = strVersion.find(std::string(reinterpret_cast<const char*>(strProduct.c_str()),
                                                   strProduct.size() * sizeof(wchar_t)));
    ASSERT_NE(std::string::npos, nAt);
    EXPECT_NE(std::string::npos, strVersion.find(std::string(reinterpret_cast<const char*>(strQova.c_str()),
                                                             strQova.size() * sizeof(wchar_t)),
                                                 nAt));
}

}  // namespace
