#include "install/UpdateLog.h"

#include <windows.h>

#include <cstring>
#include <ctime>

#include "install/UpdatePaths.h"
#include "platform/base/Text.h"
#include "platform/base/Win32Handles.h"

namespace {

const LONGLONG kRotateBytes = 256 * 1024;

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
    : m_strDir(strAppPath + kStateDir), m_strPath(strAppPath + kUpdateLogName) {}

void CUpdateLog::Write(const std::string& strEvent, const std::string& strDetails) const {
    CreateDirectoryW(Utf8ToWide(m_strDir).c_str(), nullptr);   // best effort, as every step below

    WIN32_FILE_ATTRIBUTE_DATA attributes = {};
    if (GetFileAttributesExW(Utf8ToWide(m_strPath).c_str(), GetFileExInfoStandard, &attributes)) {
        const LONGLONG nSize = (static_cast<LONGLONG>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow;
        if (nSize >= kRotateBytes) {
            MoveFileExW(Utf8ToWide(m_strPath).c_str(), Utf8ToWide(m_strPath + ".1").c_str(), MOVEFILE_REPLACE_EXISTING);
        }
    }
    UniqueFile hLog(CreateFileW(Utf8ToWide(m_strPath).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hLog) return;
    std::string strLine = UtcNow() + " " + strEvent;
    if (!strDetails.empty()) strLine += (strDetails[0] == ' ' ? "" : " ") + strDetails;   // UTF-8, as every text inside
    strLine += "\r\n";
    DWORD dwWritten = 0;
    WriteFile(hLog.get(), strLine.data(), static_cast<DWORD>(strLine.size()), &dwWritten, nullptr);
}

void CUpdateLog::BestEffortFailed(const char* pszCall, const std::string& strPath, DWORD dwError) const {
    Write("best-effort", LogField("call", pszCall).substr(1) + LogField("file", strPath) + LogField("error", dwError));
}

namespace {

bool IsControl(char ch) { return static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F; }

}  // namespace

// Whatever a value holds (a server's text, a manifest's VERSION, -d:), it
// stays inside its own field: a control character is written as \xHH and
// forces the quotes, so no value can end a line or fake another one.
std::string LogField(const char* pszName, const std::string& strValue) {
    bool bQuote = strValue.empty() || strValue.find_first_of(" =\"\t") != std::string::npos;
    for (char ch : strValue) bQuote = bQuote || IsControl(ch);
    std::string strField = std::string(" ") + pszName + "=";
    if (!bQuote) return strField + strValue;
    strField += '"';
    for (char ch : strValue) {
        if (IsControl(ch)) {
            static const char kHex[] = "0123456789abcdef";
            const unsigned char uch = static_cast<unsigned char>(ch);
            strField += "\\x";
            strField += kHex[uch >> 4];
            strField += kHex[uch & 0x0F];
            continue;
        }
        if (ch == '"') strField += '\\';
        strField += ch;
    }
    return strField + '"';
}

std::string LogField(const char* pszName, unsigned long long nValue) {
    return std::string(" ") + pszName + "=" + std::to_string(nValue);
}

std::string ProgramFileVersion() {
    // Read from the loaded image: no version.dll, no path to open again.
    HMODULE hModule = GetModuleHandleW(nullptr);
    HRSRC hVersion = FindResourceW(hModule, MAKEINTRESOURCEW(VS_VERSION_INFO), MAKEINTRESOURCEW(16));   // RT_VERSION
    HGLOBAL hData = hVersion ? LoadResource(hModule, hVersion) : nullptr;
    const BYTE* pData = hData ? static_cast<const BYTE*>(LockResource(hData)) : nullptr;
    const DWORD cbData = hVersion ? SizeofResource(hModule, hVersion) : 0;
    if (!pData) return "none";
    // VS_FIXEDFILEINFO starts with its signature, DWORD-aligned within the resource.
    for (DWORD nAt = 0; nAt + sizeof(VS_FIXEDFILEINFO) <= cbData; nAt += 4) {
        VS_FIXEDFILEINFO info;
        memcpy(&info, pData + nAt, sizeof(info));
        if (info.dwSignature != 0xFEEF04BD) continue;
        return std::to_string(HIWORD(info.dwFileVersionMS)) + "." + std::to_string(LOWORD(info.dwFileVersionMS)) + "." +
               std::to_string(HIWORD(info.dwFileVersionLS)) + "." + std::to_string(LOWORD(info.dwFileVersionLS));
    }
    return "none";
}
