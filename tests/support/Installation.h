#pragma once
// End-to-end fixtures: a product installation in a fresh temporary directory
// with a copy of the real Update.exe, the release directory a test server
// serves to it, and the programs that stand in for the rest of the product.
//
//   <temp>\app\       Update.exe, Config.dat, UserConfig.dat (no proxy),
//                     QOVAClient.exe when asked for, the installed files
//   <temp>\release\   1\UpdateConfig.ini and the program files,
//                     <kind>\config.ini and the files of a data set
//   <temp>\           anything else a test needs (FileHolder's ready files)
#include <windows.h>

#include <string>
#include <vector>

#include "support/TempDir.h"
#include "support/UiDriver.h"

struct ReleaseFile {
    std::string strName;    // relative, '\'-separated
    std::string strBytes;
};

// What the program manifest says besides its files; a negative number leaves the key out.
struct ProgramRelease {
    std::string strVersion;
    std::string strRegion = "CN";
    int nUnconditional = -1;
    int nNotify = -1;
    std::vector<ReleaseFile> vecFiles;
    std::string strRollout;   // [Version] ROLLOUT; empty: none
};

// Lower-case hexadecimal MD5 and SHA-256 of the bytes, as the manifests carry them.
std::string Md5Hex(const std::string& strBytes);
std::string Sha256Hex(const std::string& strBytes);

class TestInstallation {
public:
    // Update.exe is copied from the build; Config.dat names the first test
    // server, the version and the region; the client stand-in only on request.
    // The application directory is <temp>\<strAppFolder>\.
    TestInstallation(const std::string& strVersion, const std::string& strRegion, bool bWithClient,
                     const std::string& strAppFolder = "app");

    const std::string& AppDir() const { return m_strAppDir; }         // ends in '\'
    const std::string& ReleaseDir() const { return m_strReleaseDir; } // ends in '\'
    std::string Temp(const std::string& strRelative) const { return m_dir / strRelative; }
    std::string App(const std::string& strRelative) const { return m_strAppDir + strRelative; }

    // Writes the installed files (below the application directory).
    bool Install(const std::vector<ReleaseFile>& vecFiles) const;
    // Writes release\1\: UpdateConfig.ini and each file; SIZE, MD5, SHA256 and MODIFYTIME from the bytes.
    bool PublishProgram(const ProgramRelease& release) const;
    // Writes release\<kind>\: config.ini (one section per file) and each file.
    bool PublishData(int nKind, const std::vector<ReleaseFile>& vecFiles) const;
    // Points the first test server at the release directory (clears its faults and log).
    bool Serve() const;

    // Runs Update.exe with the arguments; true when it ended within the time (*pdwExit: its exit code).
    bool RunUpdate(const std::string& strArgs, DWORD dwTimeoutMs = 60000, DWORD* pdwExit = nullptr) const;
    // Starts Update.exe and returns at once.
    bool StartUpdate(UiProcess& process, const std::string& strArgs) const;
    // Runs the build's UpdateTool.exe with the arguments (quoted when they hold a
    // blank); its exit code, or -1 when it did not end.
    int RunTool(const std::vector<std::string>& vecArgs) const;

    // "Update"/"Version" of Config.dat.
    std::string InstalledVersion() const;
    // Any value of Config.dat, and its change.
    std::string ConfigValue(const std::string& strSection, const std::string& strKey) const;
    bool SetConfig(const std::string& strSection, const std::string& strKey, const std::string& strValue) const;
    // A value of today's section of UpdateRecord.dat; empty when missing.
    std::string RecordValue(const std::string& strKey) const;
    // Lines of QOVAClient.log: "start <pid>" and "close <pid>".
    std::vector<std::string> ClientLog() const;
    // Starts the client stand-in and waits for its window.
    bool StartClient(UiProcess& process) const;

    // Holds app-relative file strRelative open (share "rd" or "r", see
    // FileHolder) until the process object goes away, or for dwHoldMs.
    bool Hold(UiProcess& holder, const std::string& strRelative, const char* pszShare,
              DWORD dwHoldMs = INFINITE) const;

private:
    TempDir m_dir;
    std::string m_strAppDir;
    std::string m_strReleaseDir;
};

// Closes every window of class "QOVACLIENT" and waits until none is left, so
// that a restarted client never outlives its test.
void CloseAllClients();

// The names (relative, '\'-separated, sorted) of every file below strDir.
std::vector<std::string> ListTree(const std::string& strDir);

// HKEY_LOCAL_MACHINE\SOFTWARE\QOVA, created for a test as an installer would
// and deleted with its values when the object goes away.
class ProductKey {
public:
    ProductKey();
    ~ProductKey();
    ProductKey(const ProductKey&) = delete;
    ProductKey& operator=(const ProductKey&) = delete;
    bool IsOpen() const { return m_bCreated; }
    // REG_SZ value; empty when missing.
    std::string Value(const char* pszName) const;

private:
    bool m_bCreated = false;
};
