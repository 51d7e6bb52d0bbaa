#include "install/UpdateRecord.h"

#include <windows.h>

#include <ctime>

#include "platform/base/Win32Handles.h"
#include "platform/ini/CryptConfigFile.h"

namespace {

const char kRecordFileName[] = "UpdateRecord.dat";
const char kProductKey[] = "SOFTWARE\\QOVA";

bool SetStringValue(HKEY hKey, const char* pszName, const std::string& strValue) {
    return RegSetValueExA(hKey, pszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(strValue.c_str()),
                          static_cast<DWORD>(strValue.size() + 1)) == ERROR_SUCCESS;
}

}  // namespace

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

bool WriteUpdateRecordSection(const std::string& strAppDir, const std::string& strSection,
                              const std::string& strNewVersion, const std::string& strOldVersion, int nSucceed) {
    CCryptConfigFile record(strAppDir + kRecordFileName, "");
    bool bOk = record.WriteInteger(strSection, "IsSucceed", nSucceed) != -1;
    bOk = record.WriteString(strSection, "NewVersion", strNewVersion) != -1 && bOk;
    bOk = record.WriteString(strSection, "OldVersion", strOldVersion) != -1 && bOk;
    return bOk;
}

bool WriteProductRegistry(const std::string& strAppDir, const std::string& strNewVersion) {
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_READ | KEY_WRITE, &hKey) != ERROR_SUCCESS) {
        return false;
    }
    UniqueHKey key(hKey);
    bool bOk = SetStringValue(key.get(), "InstallPath", strAppDir);
    bOk = SetStringValue(key.get(), "Version", strNewVersion) && bOk;
    return bOk;
}
