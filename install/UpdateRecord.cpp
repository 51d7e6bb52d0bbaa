#include "install/UpdateRecord.h"
#include "platform/base/Text.h"

#include <windows.h>

#include <ctime>

#include "platform/base/Win32Handles.h"
#include "platform/ini/CryptConfigFile.h"

namespace {

const char kRecordFileName[] = "UpdateRecord.dat";
const wchar_t kProductKey[] = L"SOFTWARE\\QOVA";

// As UTF-16, so that InstallPath names a folder outside the system's code page.
LSTATUS SetStringValue(HKEY hKey, const wchar_t* pszName, const std::string& strValue) {
    const std::wstring strWide = Utf8ToWide(strValue);
    return RegSetValueExW(hKey, pszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(strWide.c_str()),
                          static_cast<DWORD>((strWide.size() + 1) * sizeof(wchar_t)));
}

}  // namespace

const char kProductRegistryKey[] = "HKLM\\SOFTWARE\\QOVA";

std::string FormatLocalTime(const std::string& strPattern) {
    const std::time_t now = std::time(nullptr);
    const std::tm* pLocal = std::localtime(&now);   // main thread only
    if (!pLocal) return std::string();
    char szText[128];
    const size_t nLen = std::strftime(szText, sizeof(szText), strPattern.c_str(), pLocal);
    return std::string(szText, nLen);
}

bool WriteUpdateRecord(const std::string& strAppDir, const std::string& strPattern,
                       const std::string& strNewVersion, const std::string& strOldVersion, int nSucceed) {
    return WriteUpdateRecordSection(strAppDir, FormatLocalTime(strPattern), strNewVersion, strOldVersion, nSucceed);
}

std::string UpdateRecordPath(const std::string& strAppDir) { return strAppDir + kRecordFileName; }

bool WriteUpdateRecordSection(const std::string& strAppDir, const std::string& strSection,
                              const std::string& strNewVersion, const std::string& strOldVersion, int nSucceed,
                              DWORD* pdwError) {
    CCryptConfigFile record(UpdateRecordPath(strAppDir), "");
    DWORD dwError = ERROR_SUCCESS;
    // The error of the first write that failed, read before anything else runs.
    const auto fnNote = [&dwError](long nResult) {
        if (nResult != -1 || dwError != ERROR_SUCCESS) return;
        dwError = GetLastError();
        if (dwError == ERROR_SUCCESS) dwError = ERROR_WRITE_FAULT;
    };
    fnNote(record.WriteInteger(strSection, "IsSucceed", nSucceed));
    fnNote(record.WriteString(strSection, "NewVersion", strNewVersion));
    fnNote(record.WriteString(strSection, "OldVersion", strOldVersion));
    if (pdwError) *pdwError = dwError;
    return dwError == ERROR_SUCCESS;
}

bool WriteProductRegistry(const std::string& strAppDir, const std::string& strNewVersion, DWORD* pdwError) {
    HKEY hKey = nullptr;
    // The key lies where the installer made it: a 32-bit installer's is in
    // the 32-bit view (WOW6432Node), which a 64-bit program does not see by default.
    LSTATUS lError = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_READ | KEY_WRITE | KEY_WOW64_64KEY, &hKey);
    if (lError == ERROR_FILE_NOT_FOUND)
        lError = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_READ | KEY_WRITE | KEY_WOW64_32KEY, &hKey);
    if (lError == ERROR_SUCCESS) {
        UniqueHKey key(hKey);
        lError = SetStringValue(key.get(), L"InstallPath", strAppDir);
        const LSTATUS lVersion = SetStringValue(key.get(), L"Version", strNewVersion);
        if (lError == ERROR_SUCCESS) lError = lVersion;
    }
    if (pdwError) *pdwError = static_cast<DWORD>(lError);
    return lError == ERROR_SUCCESS;
}
