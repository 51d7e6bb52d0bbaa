#include "platform/fs/PathCheck.h"

#include "platform/base/Text.h"
#include "platform/base/Win32Handles.h"
#include "platform/fs/FileContents.h"

bool FullPath(const std::string& strPath, std::string& strFull) {
    const std::wstring strWide = Utf8ToWide(strPath);
    const DWORD cch = GetFullPathNameW(strWide.c_str(), 0, nullptr, nullptr);
    if (cch == 0) return false;
    std::wstring strBuffer(cch, L'\0');
    const DWORD cchDone = GetFullPathNameW(strWide.c_str(), cch, &strBuffer[0], nullptr);
    if (cchDone == 0 || cchDone >= cch) return false;
    strBuffer.resize(cchDone);
    strFull = WideToUtf8(strBuffer);
    return true;
}

bool FinalDirectoryPath(const std::string& strDir, std::wstring& strFinal, DWORD* pdwError) {
    UniqueFile hDir(CreateFileW(LongPathW(strDir).c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!hDir || !GetFileInformationByHandle(hDir.get(), &info) ||
        !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        if (pdwError) *pdwError = hDir ? ERROR_DIRECTORY : GetLastError();
        return false;
    }
    const DWORD cch = GetFinalPathNameByHandleW(hDir.get(), nullptr, 0, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (cch == 0) {
        if (pdwError) *pdwError = GetLastError();
        return false;
    }
    std::wstring strBuffer(cch, L'\0');
    const DWORD cchDone =
        GetFinalPathNameByHandleW(hDir.get(), &strBuffer[0], cch, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (cchDone == 0 || cchDone >= cch) {
        if (pdwError) *pdwError = cchDone == 0 ? GetLastError() : ERROR_INSUFFICIENT_BUFFER;
        return false;
    }
    strBuffer.resize(cchDone);
    while (strBuffer.size() > 1 && strBuffer.back() == L'\\') strBuffer.pop_back();
    strFinal = strBuffer;
    return true;
}

bool IsAtOrBelow(const std::wstring& strPath, const std::wstring& strDir) {
    if (strDir.empty() || strPath.size() < strDir.size()) return false;
    if (CompareStringOrdinal(strPath.c_str(), static_cast<int>(strDir.size()), strDir.c_str(),
                             static_cast<int>(strDir.size()), TRUE) != CSTR_EQUAL) {
        return false;
    }
    return strPath.size() == strDir.size() || strPath[strDir.size()] == L'\\' || strDir.back() == L'\\';
}
