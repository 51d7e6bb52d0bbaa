#include "install/UpdateLog.h"

#include <windows.h>

#include <ctime>

#include "platform/base/Win32Handles.h"

namespace {

const char kLogDir[] = "UPDATE\\";
const char kLogName[] = "Update.log";
const LONGLONG kRotateBytes = 256 * 1024;

// The program's texts are GBK (names, paths); the log is UTF-8.
std::string LogText(const std::string& strText) {
    if (strText.empty()) return strText;
    const int nWide = MultiByteToWideChar(936, 0, strText.data(), static_cast<int>(strText.size()), nullptr, 0);
    if (nWide <= 0) return strText;
    std::wstring wstr(static_cast<size_t>(nWide), L'\0');
    MultiByteToWideChar(936, 0, strText.data(), static_cast<int>(strText.size()), &wstr[0], nWide);
    const int nUtf8 = WideCharToMultiByte(CP_UTF8, 0, wstr.data(), nWide, nullptr, 0, nullptr, nullptr);
    if (nUtf8 <= 0) return strText;
    std::string strUtf8(static_cast<size_t>(nUtf8), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wstr.data(), nWide, &strUtf8[0], nUtf8, nullptr, nullptr);
    return strUtf8;
}

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc = {};
#ifdef _MSC_VER
    if (gmtime_s(&utc, &now) != 0) return "-";
#else
    const std::tm* pUtc = std::gmtime(&now);   // the main thread's; copied at once
    if (!pUtc) return "-";
    utc = *pUtc;
#endif
    char szTime[32];
    const size_t nLen = std::strftime(szTime, sizeof(szTime), "%Y-%m-%dT%H:%M:%SZ", &utc);
    return std::string(szTime, nLen);
}

}  // namespace

CUpdateLog::CUpdateLog(const std::string& strAppPath)
    : m_strDir(strAppPath + kLogDir), m_strPath(strAppPath + kLogDir + kLogName) {}

void CUpdateLog::Write(const std::string& strEvent, const std::string& strDetails) const {
    CreateDirectoryA(m_strDir.c_str(), nullptr);   // best effort, as every step below

    WIN32_FILE_ATTRIBUTE_DATA attributes = {};
    if (GetFileAttributesExA(m_strPath.c_str(), GetFileExInfoStandard, &attributes)) {
        const LONGLONG nSize = (static_cast<LONGLONG>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow;
        if (nSize >= kRotateBytes) {
            MoveFileExA(m_strPath.c_str(), (m_strPath + ".1").c_str(), MOVEFILE_REPLACE_EXISTING);
        }
    }
    UniqueFile hLog(CreateFileA(m_strPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hLog) return;
    std::string strLine = UtcNow() + " " + strEvent;
    if (!strDetails.empty()) strLine += (strDetails[0] == ' ' ? "" : " ") + LogText(strDetails);
    strLine += "\r\n";
    DWORD dwWritten = 0;
    WriteFile(hLog.get(), strLine.data(), static_cast<DWORD>(strLine.size()), &dwWritten, nullptr);
}

std::string LogField(const char* pszName, const std::string& strValue) {
    const bool bQuote = strValue.empty() || strValue.find_first_of(" =\"\t") != std::string::npos;
    std::string strField = std::string(" ") + pszName + "=";
    if (!bQuote) return strField + strValue;
    strField += '"';
    for (char ch : strValue) {
        if (ch == '"') strField += '\\';
        if (ch == '\r' || ch == '\n') ch = ' ';
        strField += ch;
    }
    return strField + '"';
}

std::string LogField(const char* pszName, unsigned long long nValue) {
    return std::string(" ") + pszName + "=" + std::to_string(nValue);
}
