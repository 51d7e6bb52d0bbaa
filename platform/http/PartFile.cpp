#include "platform/http/PartFile.h"
#include "platform/base/Text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

// Tags are a few lines of ASCII: "If-Range: <validator>" and "Length: <bytes>".
const char kValidatorKey[] = "If-Range: ";
const char kLengthKey[] = "Length: ";
// A part this large gets its tag at the start, so that even a killed process
// leaves something to continue; smaller ones get it only when they stop early.
const uint64_t kEarlyTagBytes = 4 * 1024 * 1024;

// The full UTF-16 path of a UTF-8 one; empty on failure.
std::wstring FullPathW(const char* pszPath) {
    const std::wstring wstrPath = Utf8ToWide(pszPath);
    if (wstrPath.empty()) return std::wstring();
    DWORD cchFull = GetFullPathNameW(wstrPath.c_str(), 0, nullptr, nullptr);
    if (cchFull == 0) return std::wstring();
    std::wstring wstrFull(cchFull, L'\0');
    cchFull = GetFullPathNameW(wstrPath.c_str(), cchFull, &wstrFull[0], nullptr);
    if (cchFull == 0 || cchFull >= wstrFull.size()) return std::wstring();
    wstrFull.resize(cchFull);
    return wstrFull;
}

std::string ReadSmallFile(const std::string& strPath, bool& bFound) {
    UniqueFile hFile(CreateFileW(Utf8ToWide(strPath).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    bFound = static_cast<bool>(hFile);
    if (!hFile) return std::string();
    char szBuf[1024];
    DWORD cbRead = 0;
    if (!ReadFile(hFile.get(), szBuf, sizeof(szBuf), &cbRead, nullptr)) return std::string();
    return std::string(szBuf, cbRead);
}

// The value after strKey on its own line; empty when absent.
std::string TagValue(const std::string& strTag, const char* pszKey) {
    size_t nAt = 0;
    while (nAt < strTag.size()) {
        size_t nEnd = strTag.find('\n', nAt);
        if (nEnd == std::string::npos) nEnd = strTag.size();
        std::string strLine = strTag.substr(nAt, nEnd - nAt);
        if (!strLine.empty() && strLine.back() == '\r') strLine.pop_back();
        if (strLine.compare(0, std::strlen(pszKey), pszKey) == 0) return strLine.substr(std::strlen(pszKey));
        nAt = nEnd + 1;
    }
    return std::string();
}

}  // namespace

CPartFile::CPartFile(std::string strTarget)
    : m_strTarget(std::move(strTarget)), m_strPart(m_strTarget + ".part"), m_strTag(m_strPart + ".tag") {}

CPartFile::~CPartFile() {
    m_hFile.reset();
    if (m_bDone) return;
    if (m_nHave > 0 && !m_strValidator.empty()) {
        if (!m_bTagOnDisk) SaveTag();
        if (m_bTagOnDisk) return;
    }
    DeleteFileW(Utf8ToWide(m_strPart).c_str());  // best effort: the next transfer starts over anyway
    DeleteTag();
}

bool CPartFile::Open() {
    if (m_hFile) return true;
    HANDLE hFile = CreateFileW(Utf8ToWide(m_strPart).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                               OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    const DWORD dwOpened = GetLastError();
    m_hFile.reset(hFile);
    if (!m_hFile) return false;
    // Only a part that was there can have a tag worth reading; not looking
    // for one spares a failed open, a directory scan under Wine.
    if (dwOpened == ERROR_ALREADY_EXISTS) TakeOverTag();
    return true;
}

void CPartFile::TakeOverTag() {
    bool bTagFound = false;
    const std::string strTag = ReadSmallFile(m_strTag, bTagFound);
    if (!bTagFound) return;  // a part without a tag is simply overwritten (StartOver)
    m_bTagOnDisk = true;
    const std::string strValidator = TagValue(strTag, kValidatorKey);
    const std::string strLength = TagValue(strTag, kLengthKey);
    LARGE_INTEGER size = {};
    if (!strValidator.empty() && !strLength.empty() && GetFileSizeEx(m_hFile.get(), &size) && size.QuadPart > 0) {
        m_strValidator = strValidator;
        m_nTotal = std::strtoull(strLength.c_str(), nullptr, 10);
        m_nHave = static_cast<uint64_t>(size.QuadPart);
        return;
    }
    DeleteTag();  // nothing that can be continued
}

bool CPartFile::StartOver(const std::string& strValidator, uint64_t nTotal) {
    LARGE_INTEGER zero = {};
    if (!SetFilePointerEx(m_hFile.get(), zero, nullptr, FILE_BEGIN) || !SetEndOfFile(m_hFile.get())) return false;
    if (strValidator != m_strValidator || nTotal != m_nTotal) {
        DeleteTag();
        m_strValidator = strValidator;
        m_nTotal = nTotal;
    }
    m_nHave = 0;
    if (m_nTotal >= kEarlyTagBytes && !m_strValidator.empty() && !m_bTagOnDisk) SaveTag();
    return true;
}

bool CPartFile::Continue() {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(m_nHave);
    return SetFilePointerEx(m_hFile.get(), at, nullptr, FILE_BEGIN) && SetEndOfFile(m_hFile.get());
}

void CPartFile::Discard() {
    m_nHave = 0;
    m_strValidator.clear();
    DeleteTag();
    if (m_hFile) {
        LARGE_INTEGER zero = {};
        SetFilePointerEx(m_hFile.get(), zero, nullptr, FILE_BEGIN);
        SetEndOfFile(m_hFile.get());
    }
}

bool CPartFile::Write(const char* pData, DWORD cb) {
    DWORD cbWritten = 0;
    if (!WriteFile(m_hFile.get(), pData, cb, &cbWritten, nullptr) || cbWritten != cb) return false;
    m_nHave += cb;
    return true;
}

bool CPartFile::Commit() {
    std::wstring wstrTarget = FullPathW(m_strTarget.c_str());
    bool bMoved = false;
    if (!wstrTarget.empty() && m_hFile) {
        // Renaming through the open handle spares reopening the file by name, which is slow under Wine.
        DWORD cbInfo = static_cast<DWORD>(sizeof(FILE_RENAME_INFO) + wstrTarget.size() * sizeof(wchar_t));
        std::unique_ptr<char[]> pInfo(new char[cbInfo]());
        auto* pRename = reinterpret_cast<FILE_RENAME_INFO*>(pInfo.get());
        pRename->ReplaceIfExists = TRUE;
        pRename->RootDirectory = nullptr;
        pRename->FileNameLength = static_cast<DWORD>(wstrTarget.size() * sizeof(wchar_t));
        std::memcpy(pRename->FileName, wstrTarget.c_str(), (wstrTarget.size() + 1) * sizeof(wchar_t));
        bMoved = SetFileInformationByHandle(m_hFile.get(), FileRenameInfo, pRename, cbInfo) != FALSE;
    }
    m_hFile.reset();
    if (!bMoved) DeleteFileW(Utf8ToWide(m_strPart).c_str());  // best effort
    DeleteTag();
    m_bDone = true;
    return bMoved;
}

void CPartFile::SaveTag() {
    char szLength[32];
    std::snprintf(szLength, sizeof(szLength), "%llu", static_cast<unsigned long long>(m_nTotal));
    const std::string strText =
        std::string(kValidatorKey) + m_strValidator + "\r\n" + kLengthKey + szLength + "\r\n";
    UniqueFile hFile(CreateFileW(Utf8ToWide(m_strTag).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                 nullptr));
    DWORD cbWritten = 0;
    m_bTagOnDisk = hFile && WriteFile(hFile.get(), strText.data(), static_cast<DWORD>(strText.size()), &cbWritten,
                                     nullptr) &&
                  cbWritten == strText.size();
}

void CPartFile::DeleteTag() {
    if (m_bTagOnDisk) DeleteFileW(Utf8ToWide(m_strTag).c_str());  // best effort: a stale tag is refused by If-Range
    m_bTagOnDisk = false;
}
