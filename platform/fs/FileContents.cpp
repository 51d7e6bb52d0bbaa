#include "platform/fs/FileContents.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <vector>

#include "platform/base/Text.h"
#include "platform/base/Win32Handles.h"
#include "platform/fs/DirectoryEx.h"

namespace {

// Configuration files and manifests are small; anything larger is not one of them.
constexpr LONGLONG kMaxFileSize = 256LL * 1024 * 1024;

bool WriteAll(HANDLE hFile, const char* pBytes, size_t nBytes) {
    size_t nDone = 0;
    while (nDone < nBytes) {
        const DWORD dwChunk = static_cast<DWORD>(std::min<size_t>(nBytes - nDone, 1u << 30));
        DWORD dwWritten = 0;
        if (!WriteFile(hFile, pBytes + nDone, dwChunk, &dwWritten, nullptr) || dwWritten == 0) return false;
        nDone += dwWritten;
    }
    return true;
}

}  // namespace

FileReadResult ReadWholeFile(const std::string& strPath, std::string& strBytes) {
    strBytes.clear();
    UniqueFile hFile(CreateFileW(LongPathW(strPath).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hFile) {
        const DWORD dwError = GetLastError();
        return (dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND) ? FileReadResult::Missing
                                                                                    : FileReadResult::Failed;
    }
    LARGE_INTEGER liSize = {};
    if (!GetFileSizeEx(hFile.get(), &liSize) || liSize.QuadPart < 0 || liSize.QuadPart > kMaxFileSize) {
        return FileReadResult::Failed;
    }
    if (liSize.QuadPart == 0) return FileReadResult::Read;
    strBytes.resize(static_cast<size_t>(liSize.QuadPart));
    DWORD dwRead = 0;
    if (!ReadFile(hFile.get(), &strBytes[0], static_cast<DWORD>(strBytes.size()), &dwRead, nullptr)) {
        strBytes.clear();
        return FileReadResult::Failed;
    }
    strBytes.resize(dwRead);   // the file may have shrunk since its size was taken
    return FileReadResult::Read;
}

bool ReplaceFileContents(const std::string& strPath, const std::string& strBytes, bool bDurable) {
    std::string strTemp;
    UniqueFile hFile = CreateUniqueFile(strPath, ".tmp", strTemp);
    if (!hFile) return false;
    ScopeExit removeTemp([&] {
        const DWORD dwError = GetLastError();
        DeleteFileW(LongPathW(strTemp).c_str());
        SetLastError(dwError);
    });
    if (!WriteAll(hFile.get(), strBytes.data(), strBytes.size())) return false;
    if (bDurable && !FlushFileBuffers(hFile.get())) return false;
    hFile.reset();
    if (!MoveFileExW(LongPathW(strTemp).c_str(), LongPathW(strPath).c_str(),
                     MOVEFILE_REPLACE_EXISTING | (bDurable ? MOVEFILE_WRITE_THROUGH : 0))) {
        return false;
    }
    removeTemp.Dismiss();
    return true;
}

std::wstring LongPathW(const std::string& strPath) {
    std::wstring strWide = Utf8ToWide(strPath);
    // MAX_PATH - 12 is the plain form's lowest limit (CreateDirectoryW's).
    if (strWide.size() < MAX_PATH - 12 || strWide.compare(0, 4, L"\\\\?\\") == 0) return strWide;
    const DWORD cch = GetFullPathNameW(strWide.c_str(), 0, nullptr, nullptr);
    if (cch == 0) return strWide;
    std::wstring strFull(cch, L'\0');
    const DWORD cchDone = GetFullPathNameW(strWide.c_str(), cch, &strFull[0], nullptr);
    if (cchDone == 0 || cchDone >= cch) return strWide;
    strFull.resize(cchDone);
    if (strFull.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + strFull.substr(2);
    return L"\\\\?\\" + strFull;
}

std::string RandomHexName() {
    unsigned char bytes[8] = {};
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, bytes, sizeof(bytes), BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
        // Still hard to guess; and the file is created new, so a clash only fails.
        LARGE_INTEGER li = {};
        QueryPerformanceCounter(&li);
        const unsigned long long n = static_cast<unsigned long long>(li.QuadPart) ^ (GetCurrentProcessId() * 0x9E3779B97F4A7C15ULL);
        for (int i = 0; i < 8; ++i) bytes[i] = static_cast<unsigned char>(n >> (8 * i));
    }
    static const char kHex[] = "0123456789abcdef";
    std::string strName;
    for (unsigned char b : bytes) {
        strName += kHex[b >> 4];
        strName += kHex[b & 15];
    }
    return strName;
}

UniqueFile CreateUniqueFile(const std::string& strBase, const std::string& strSuffix, std::string& strName) {
    strName = strBase + ".~" + RandomHexName() + strSuffix;
    return UniqueFile(CreateFileW(LongPathW(strName).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool CopyIntoAndFlush(const std::string& strSource, HANDLE hTo) {
    UniqueFile hFrom(CreateFileW(LongPathW(strSource).c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!hFrom) return false;
    std::vector<char> vecBuffer(1u << 20);
    for (;;) {
        DWORD dwRead = 0;
        if (!ReadFile(hFrom.get(), vecBuffer.data(), static_cast<DWORD>(vecBuffer.size()), &dwRead, nullptr)) return false;
        if (dwRead == 0) break;
        if (!WriteAll(hTo, vecBuffer.data(), dwRead)) return false;
    }
    // The comparisons' digest cache and the manifests' MODIFYTIME speak of the source's time, as CopyFileW kept it.
    FILETIME ftWrite = {};
    if (GetFileTime(hFrom.get(), nullptr, nullptr, &ftWrite)) SetFileTime(hTo, nullptr, nullptr, &ftWrite);
    return FlushFileBuffers(hTo) != FALSE;
}

unsigned long long ContentChecksum(const std::string& strBytes) {
    unsigned long long nHash = 14695981039346656037ULL;
    for (unsigned char c : strBytes) {
        nHash ^= c;
        nHash *= 1099511628211ULL;
    }
    return nHash;
}
