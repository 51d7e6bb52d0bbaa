#include "platform/fs/FileContents.h"

#include <windows.h>

#include <algorithm>

#include "platform/base/Text.h"
#include "platform/base/Win32Handles.h"
#include "platform/fs/DirectoryEx.h"

namespace {

// Configuration files and manifests are small; anything larger is not one of them.
constexpr LONGLONG kMaxFileSize = 256LL * 1024 * 1024;

bool WriteAll(HANDLE hFile, const std::string& strBytes) {
    size_t nDone = 0;
    while (nDone < strBytes.size()) {
        const DWORD dwChunk = static_cast<DWORD>(std::min<size_t>(strBytes.size() - nDone, 1u << 30));
        DWORD dwWritten = 0;
        if (!WriteFile(hFile, strBytes.data() + nDone, dwChunk, &dwWritten, nullptr) || dwWritten == 0) return false;
        nDone += dwWritten;
    }
    return true;
}

}  // namespace

FileReadResult ReadWholeFile(const std::string& strPath, std::string& strBytes) {
    strBytes.clear();
    UniqueFile hFile(CreateFileW(Utf8ToWide(strPath).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
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
    std::string strDir;
    if (CDirectoryEx::GetFilePath(strPath, strDir) != 0) strDir = ".";
    wchar_t szTemp[MAX_PATH] = {};
    // GetTempFileNameW creates the (empty) file, so the name is ours alone.
    if (!GetTempFileNameW(Utf8ToWide(strDir).c_str(), L"qcf", 0, szTemp)) return false;
    const std::wstring strTemp = szTemp;
    ScopeExit removeTemp([&] { DeleteFileW(strTemp.c_str()); });

    {
        UniqueFile hFile(CreateFileW(strTemp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!hFile) return false;
        if (!WriteAll(hFile.get(), strBytes)) return false;
        if (bDurable && !FlushFileBuffers(hFile.get())) return false;
    }
    if (!MoveFileExW(strTemp.c_str(), Utf8ToWide(strPath).c_str(),
                     MOVEFILE_REPLACE_EXISTING | (bDurable ? MOVEFILE_WRITE_THROUGH : 0))) {
        return false;
    }
    removeTemp.Dismiss();
    return true;
}

unsigned long long ContentChecksum(const std::string& strBytes) {
    unsigned long long nHash = 14695981039346656037ULL;
    for (unsigned char c : strBytes) {
        nHash ^= c;
        nHash *= 1099511628211ULL;
    }
    return nHash;
}
