#include "support/Installation.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <atomic>
#include <cstdio>

#include "install/UpdateRecord.h"
#include "platform/base/Text.h"
#include "platform/base/Win32Handles.h"
#include "platform/ini/CryptConfigFile.h"
#include "support/TestServer.h"

namespace {

const wchar_t kProductKey[] = L"SOFTWARE\\QOVA";
const DWORD kStartTimeoutMs = 15000;

std::string ManifestFileSection(const ReleaseFile& file) {
    return "[" + file.strName + "]\r\nMD5=" + Md5Hex(file.strBytes) + "\r\nSHA256=" + Sha256Hex(file.strBytes) + "\r\nSIZE=" +
           std::to_string(file.strBytes.size()) + "\r\nMODIFYTIME=2026-12-01 10:00:00\r\n";
}

// Manifests are GBK by format; the tests' names are UTF-8 like the program's.
std::string GbkBytes(const std::string& strUtf8) {
    std::string strGbk;
    return Utf8ToGbk(strUtf8, strGbk) ? strGbk : std::string();
}

bool WriteAll(const std::string& strDir, const std::vector<ReleaseFile>& vecFiles) {
    for (const ReleaseFile& file : vecFiles) {
        if (!WriteFileBytes(strDir + file.strName, file.strBytes)) return false;
    }
    return true;
}

void ListTreeInto(const std::string& strDir, const std::string& strPrefix, std::vector<std::string>& vecNames) {
    WIN32_FIND_DATAW fd;
    UniqueFind hFind(FindFirstFileW(Utf8ToWide(strDir + "*").c_str(), &fd));
    if (!hFind) return;
    do {
        const std::string strName = WideToUtf8(fd.cFileName);
        if (strName == "." || strName == "..") continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            ListTreeInto(strDir + strName + "\\", strPrefix + strName + "\\", vecNames);
        } else {
            vecNames.push_back(strPrefix + strName);
        }
    } while (FindNextFileW(hFind.get(), &fd));
}

std::string HexDigest(LPCWSTR pszAlgorithm, ULONG cbDigest, const std::string& strBytes) {
    BCRYPT_ALG_HANDLE hAlg = nullptr;
    if (BCryptOpenAlgorithmProvider(&hAlg, pszAlgorithm, nullptr, 0) != 0) return "";
    BCRYPT_HASH_HANDLE hHash = nullptr;
    unsigned char digest[32] = {};
    bool bOk = BCryptCreateHash(hAlg, &hHash, nullptr, 0, nullptr, 0, 0) == 0 &&
               BCryptHashData(hHash, reinterpret_cast<PUCHAR>(const_cast<char*>(strBytes.data())),
                              static_cast<ULONG>(strBytes.size()), 0) == 0 &&
               BCryptFinishHash(hHash, digest, cbDigest, 0) == 0;
    if (hHash) BCryptDestroyHash(hHash);
    BCryptCloseAlgorithmProvider(hAlg, 0);
    if (!bOk) return "";
    std::string strHex;
    const char kDigits[] = "0123456789abcdef";
    for (ULONG i = 0; i < cbDigest; ++i) {
        strHex += kDigits[digest[i] >> 4];
        strHex += kDigits[digest[i] & 15];
    }
    return strHex;
}

}  // namespace

std::string Md5Hex(const std::string& strBytes) { return HexDigest(BCRYPT_MD5_ALGORITHM, 16, strBytes); }

std::string Sha256Hex(const std::string& strBytes) { return HexDigest(BCRYPT_SHA256_ALGORITHM, 32, strBytes); }

TestInstallation::TestInstallation(const std::string& strVersion, const std::string& strRegion, bool bWithClient,
                                   const std::string& strAppFolder)
    : m_strAppDir(m_dir / (strAppFolder + "\\")), m_strReleaseDir(m_dir / "release\\") {
    // A program that cannot be started later is explained here, not guessed at.
    for (const std::string& strDir : {m_strAppDir, m_strReleaseDir}) {
        if (!CreateDirectoryW(Utf8ToWide(strDir).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            std::fprintf(stderr, "TestInstallation: cannot create %s (error %lu)\n", strDir.c_str(), GetLastError());
    }
    const auto copy = [](const std::string& strFrom, const std::string& strTo) {
        if (!CopyFileW(Utf8ToWide(strFrom).c_str(), Utf8ToWide(strTo).c_str(), FALSE))
            std::fprintf(stderr, "TestInstallation: cannot copy %s to %s (error %lu)\n", strFrom.c_str(), strTo.c_str(),
                         GetLastError());
    };
    copy(ProductBinDir() + "Update.exe", App("Update.exe"));
    if (bWithClient) copy(TestProgramDir() + "QOVAClient.exe", App("QOVAClient.exe"));

    CCryptConfigFile config(App("Config.dat"), "");
    config.WriteString("Update", "Version", strVersion);
    config.WriteString("Update", "Region", strRegion);
    config.WriteString("Update", "ServerIP", "127.0.0.1");
    config.WriteInteger("Update", "ServerPort", TestServer::First().Port());
    config.WriteString("Server", "WebSiteURL", "http://127.0.0.1/");
    CCryptConfigFile userConfig(App("UserConfig.dat"), "");
    userConfig.WriteInteger("Server", "UseProxy", 0);
}

bool TestInstallation::Install(const std::vector<ReleaseFile>& vecFiles) const { return WriteAll(m_strAppDir, vecFiles); }

bool TestInstallation::PublishProgram(const ProgramRelease& release) const {
    const std::string strRoot = m_strReleaseDir + "1\\";
    std::string strManifest = "[Version]\r\nVERSION=" + release.strVersion + "\r\nREGION=" + release.strRegion + "\r\n";
    if (release.nUnconditional >= 0)
        strManifest += "UNCONDITIONALUPDATE=" + std::to_string(release.nUnconditional) + "\r\n";
    if (release.nNotify >= 0) strManifest += "NOTIFIY=" + std::to_string(release.nNotify) + "\r\n";
    if (!release.strRollout.empty()) strManifest += "ROLLOUT=" + release.strRollout + "\r\n";
    strManifest += "[FILES]\r\n";
    for (const ReleaseFile& file : release.vecFiles) strManifest += file.strName + "=1\r\n";
    for (const ReleaseFile& file : release.vecFiles) strManifest += ManifestFileSection(file);
    return WriteFileBytes(strRoot + "UpdateConfig.ini", GbkBytes(strManifest)) && WriteAll(strRoot, release.vecFiles);
}

bool TestInstallation::PublishData(int nKind, const std::vector<ReleaseFile>& vecFiles) const {
    const std::string strRoot = m_strReleaseDir + std::to_string(nKind) + "\\";
    std::string strManifest;
    for (const ReleaseFile& file : vecFiles) strManifest += ManifestFileSection(file);
    return WriteFileBytes(strRoot + "config.ini", GbkBytes(strManifest)) && WriteAll(strRoot, vecFiles);
}

bool TestInstallation::Serve() const { return TestServer::First().Serve(m_strReleaseDir); }

bool TestInstallation::RunUpdate(const std::string& strArgs, DWORD dwTimeoutMs, DWORD* pdwExit) const {
    UiProcess process;
    DWORD dwExit = 1;
    if (!StartUpdate(process, strArgs)) return false;   // UiProcess says why
    if (!process.Wait(dwTimeoutMs, &dwExit)) {
        std::fprintf(stderr, "RunUpdate: Update.exe %s still running after %lu ms\n", strArgs.c_str(), dwTimeoutMs);
        return false;
    }
    if (pdwExit) *pdwExit = dwExit;
    return true;
}

bool TestInstallation::StartUpdate(UiProcess& process, const std::string& strArgs) const {
    return process.Start("\"" + App("Update.exe") + "\" " + strArgs);
}

int TestInstallation::RunTool(const std::vector<std::string>& vecArgs) const {
    std::string strCommand = "\"" + ProductBinDir() + "UpdateTool.exe\"";
    for (const std::string& strArg : vecArgs) {
        strCommand += ' ';
        strCommand += strArg.find(' ') != std::string::npos ? "\"" + strArg + "\"" : strArg;
    }
    UiProcess process;
    DWORD dwExit = 0;
    if (!process.Start(strCommand)) {
        std::fprintf(stderr, "RunTool: could not start %s (error %lu)\n", strCommand.c_str(), GetLastError());
        return -1;
    }
    const DWORD dwStart = GetTickCount();
    if (!process.Wait(30000, &dwExit)) {
        std::fprintf(stderr, "RunTool: %s still running after %lu ms\n", strCommand.c_str(), GetTickCount() - dwStart);
        return -1;
    }
    if (dwExit == 0xFFFFFFFF) std::fprintf(stderr, "RunTool: %s itself exited with 0xFFFFFFFF\n", strCommand.c_str());
    return static_cast<int>(dwExit);
}

std::string TestInstallation::InstalledVersion() const {
    CCryptConfigFile config(App("Config.dat"), "");
    std::string strVersion;
    config.ReadString("Update", "Version", "", strVersion);
    return strVersion;
}

bool TestInstallation::SetConfig(const std::string& strSection, const std::string& strKey,
                                 const std::string& strValue) const {
    CCryptConfigFile config(App("Config.dat"), "");
    return config.WriteString(strSection, strKey, strValue) == 0;
}

std::string TestInstallation::ConfigValue(const std::string& strSection, const std::string& strKey) const {
    CCryptConfigFile config(App("Config.dat"), "");
    std::string strValue;
    config.ReadString(strSection, strKey, "", strValue);
    return strValue;
}

std::string TestInstallation::RecordValue(const std::string& strKey) const {
    CCryptConfigFile record(App("UpdateRecord.dat"), "");
    std::string strValue;
    record.ReadString(FormatLocalTime("%Y-%m-%d"), strKey, "", strValue);
    return strValue;
}

std::vector<std::string> TestInstallation::ClientLog() const {
    std::vector<std::string> vecLines;
    const std::string strLog = ReadFileBytes(App("QOVAClient.log"));
    size_t nStart = 0;
    while (nStart < strLog.size()) {
        size_t nEnd = strLog.find("\r\n", nStart);
        if (nEnd == std::string::npos) nEnd = strLog.size();
        std::string strLine = strLog.substr(nStart, nEnd - nStart);
        vecLines.push_back(strLine.substr(0, strLine.find(' ')));   // the event, without the process id
        nStart = nEnd + 2;
    }
    return vecLines;
}

bool TestInstallation::StartClient(UiProcess& process) const {
    if (!process.Start("\"" + App("QOVAClient.exe") + "\"")) return false;
    return WaitUntil([] { return FindWindowA("QOVACLIENT", nullptr) != nullptr; }, kStartTimeoutMs);
}

bool TestInstallation::Hold(UiProcess& holder, const std::string& strRelative, const char* pszShare,
                            DWORD dwHoldMs) const {
    static std::atomic<unsigned> s_nCounter{0};
    const std::string strReady = Temp("held-" + std::to_string(s_nCounter++) + ".ready");
    const std::string strTime = dwHoldMs == INFINITE ? "" : " " + std::to_string(dwHoldMs);
    if (!holder.Start("\"" + TestProgramDir() + "FileHolder.exe\" \"" + App(strRelative) + "\" " + pszShare + " \"" +
                      strReady + "\"" + strTime))
        return false;
    return WaitUntil([&] { return FileExists(strReady); }, kStartTimeoutMs);
}

void CloseAllClients() {
    WaitUntil(
        [] {
            HWND hClient = FindWindowA("QOVACLIENT", nullptr);
            if (hClient) SendMessageTimeoutA(hClient, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, 2000, nullptr);
            return hClient == nullptr;
        },
        kStartTimeoutMs);
    Sleep(200);   // let the last one's process end before its directory is deleted
}

std::vector<std::string> ListTree(const std::string& strDir) {
    std::vector<std::string> vecNames;
    ListTreeInto(strDir, "", vecNames);
    std::sort(vecNames.begin(), vecNames.end());
    return vecNames;
}

ProductKey::ProductKey() {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kProductKey);
    HKEY hKey = nullptr;
    m_bCreated = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hKey,
                                 nullptr) == ERROR_SUCCESS;
    if (hKey) RegCloseKey(hKey);
}

ProductKey::~ProductKey() { RegDeleteTreeW(HKEY_LOCAL_MACHINE, kProductKey); }

std::string ProductKey::Value(const char* pszName) const {
    // Read back as UTF-16, as any reader of InstallPath would.
    wchar_t szData[1024] = {};
    DWORD cbData = sizeof(szData) - sizeof(wchar_t);
    DWORD dwType = 0;
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS) return "";
    LONG lResult = RegQueryValueExW(hKey, Utf8ToWide(pszName).c_str(), nullptr, &dwType,
                                    reinterpret_cast<BYTE*>(szData), &cbData);
    RegCloseKey(hKey);
    if (lResult != ERROR_SUCCESS || dwType != REG_SZ) return "";
    return WideToUtf8(szData);
}
