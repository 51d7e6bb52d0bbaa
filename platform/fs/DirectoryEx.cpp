#include "platform/fs/DirectoryEx.h"

#include <windows.h>
#include <shlwapi.h>

#include "platform/base/Text.h"
#include "platform/base/Win32Handles.h"

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Byte offsets of every path separator. Paths are UTF-8, whose multi-byte
// characters never contain a byte below 0x80, so a byte '\' is always one.
std::vector<size_t> SeparatorOffsets(const std::string& strPath) {
    std::vector<size_t> vecOffsets;
    for (size_t i = 0; i < strPath.size() && strPath[i]; ++i) {
        if (IsSeparator(strPath[i])) vecOffsets.push_back(i);
    }
    return vecOffsets;
}

// strPath without its trailing separators (and without anything after a NUL).
std::string WithoutTrailingSeparators(const std::string& strPath) {
    size_t nEnd = 0;   // end of the last character that is not a separator
    for (size_t i = 0; i < strPath.size() && strPath[i]; ++i) {
        if (!IsSeparator(strPath[i])) nEnd = i + 1;
    }
    return strPath.substr(0, nEnd);
}

bool EndsWithSeparator(const std::string& strPath) {
    const std::vector<size_t> vecOffsets = SeparatorOffsets(strPath);
    return !vecOffsets.empty() && vecOffsets.back() + 1 == strPath.size();
}

// "C:" or "C:\" alone: a drive root, never created or removed.
bool IsDriveSpec(const std::string& strPath) {
    return strPath.size() == 2 && strPath[1] == ':' && ((strPath[0] >= 'A' && strPath[0] <= 'Z') || (strPath[0] >= 'a' && strPath[0] <= 'z'));
}

bool IsDotName(const wchar_t* pszName) {
    return pszName[0] == L'.' && (pszName[1] == L'\0' || (pszName[1] == L'.' && pszName[2] == L'\0'));
}

bool IsDirectory(const std::string& strPath) {
    const DWORD dwAttr = GetFileAttributesW(Utf8ToWide(strPath).c_str());
    return dwAttr != INVALID_FILE_ATTRIBUTES && (dwAttr & FILE_ATTRIBUTE_DIRECTORY);
}

// Removes a link or junction itself, never its target: the handle is opened on
// the reparse point and deleted only after it proves to be one. A layer that
// resolves the link on open (Wine with host links) yields the target here, and
// then nothing is removed; there RemoveDirectoryW would delete an empty target.
void RemoveLink(const std::string& strPath) {
    UniqueFile hLink(CreateFileW(Utf8ToWide(strPath).c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!hLink) return;
    FILE_ATTRIBUTE_TAG_INFO tagInfo = {};
    if (!GetFileInformationByHandleEx(hLink.get(), FileAttributeTagInfo, &tagInfo, sizeof(tagInfo))) return;
    if (!(tagInfo.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) return;
    if (tagInfo.FileAttributes & FILE_ATTRIBUTE_READONLY) {
        FILE_BASIC_INFO basicInfo = {};
        basicInfo.FileAttributes = tagInfo.FileAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
        SetFileInformationByHandle(hLink.get(), FileBasicInfo, &basicInfo, sizeof(basicInfo));
    }
    FILE_DISPOSITION_INFO dispositionInfo = {};
    dispositionInfo.DeleteFile = TRUE;
    SetFileInformationByHandle(hLink.get(), FileDispositionInfo, &dispositionInfo, sizeof(dispositionInfo));
}

void ClearReadOnly(const std::string& strPath, DWORD dwAttr) {
    if (dwAttr & FILE_ATTRIBUTE_READONLY) {
        SetFileAttributesW(Utf8ToWide(strPath).c_str(), dwAttr & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    }
}

// Deletes the contents of strDir (no trailing separator), then strDir itself.
// Reparse points are removed as links: their targets lie outside the tree.
void DeleteTree(const std::string& strDir) {
    WIN32_FIND_DATAW fd;
    UniqueFind hFind(FindFirstFileW(Utf8ToWide(strDir + "\\*").c_str(), &fd));
    if (hFind) {
        do {
            if (IsDotName(fd.cFileName)) continue;
            const std::string strChild = strDir + "\\" + WideToUtf8(fd.cFileName);
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                RemoveLink(strChild);
                continue;
            }
            ClearReadOnly(strChild, fd.dwFileAttributes);
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                DeleteTree(strChild);
            } else {
                DeleteFileW(Utf8ToWide(strChild).c_str());
            }
        } while (FindNextFileW(hFind.get(), &fd));
    }
    hFind.reset();
    RemoveDirectoryW(Utf8ToWide(strDir).c_str());
}

// The wild card is matched again on the long name: FindFirstFileW also matches
// 8.3 aliases, so "*.bak" would otherwise return "x.bakup" (alias "X~1.BAK").
bool LongNameMatches(const wchar_t* pszName, const std::wstring& strPattern) {
    return PathMatchSpecW(pszName, strPattern.c_str()) != FALSE;
}

void SearchTree(const std::string& strDir, bool bRecursive, const std::string& strPattern,
                std::vector<std::string>& vecFiles) {
    WIN32_FIND_DATAW fd;
    {
        UniqueFind hFind(FindFirstFileW(Utf8ToWide(strDir + "\\" + strPattern).c_str(), &fd));
        if (hFind) {
            do {
                if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
                if (!LongNameMatches(fd.cFileName, Utf8ToWide(strPattern))) continue;
                vecFiles.push_back(strDir + "\\" + WideToUtf8(fd.cFileName));
            } while (FindNextFileW(hFind.get(), &fd));
        }
    }
    if (!bRecursive) return;
    UniqueFind hFind(FindFirstFileW(Utf8ToWide(strDir + "\\*").c_str(), &fd));
    if (!hFind) return;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
        if (IsDotName(fd.cFileName)) continue;
        SearchTree(strDir + "\\" + WideToUtf8(fd.cFileName), bRecursive, strPattern, vecFiles);
    } while (FindNextFileW(hFind.get(), &fd));
}

}  // namespace

long CDirectoryEx::GetApplicationPath(std::string& strPath) {
    strPath.clear();
    std::wstring strWideModule(MAX_PATH, L'\0');
    for (;;) {
        const DWORD dwLen = GetModuleFileNameW(nullptr, &strWideModule[0], static_cast<DWORD>(strWideModule.size()));
        if (dwLen == 0) return -1;
        if (dwLen < strWideModule.size()) {
            strWideModule.resize(dwLen);
            break;
        }
        if (strWideModule.size() >= 32768) return -1;
        strWideModule.resize(strWideModule.size() * 2);
    }
    const std::string strModule = WideToUtf8(strWideModule);
    const std::vector<size_t> vecOffsets = SeparatorOffsets(strModule);
    if (vecOffsets.empty()) return -1;
    strPath = strModule.substr(0, vecOffsets.back()) + "\\";
    return 0;
}

long CDirectoryEx::GetFilePath(std::string strFilePath, std::string& strDir) {
    strDir.clear();
    const std::vector<size_t> vecOffsets = SeparatorOffsets(strFilePath);
    if (vecOffsets.empty()) return -1;
    strDir = WithoutTrailingSeparators(strFilePath.substr(0, vecOffsets.back()));
    // The directory of "C:\a.dll" is the root "C:\", not "C:" (the drive's current directory).
    if (IsDriveSpec(strDir)) strDir += "\\";
    return strDir.empty() ? -1 : 0;
}

long CDirectoryEx::CreateMultipleDirectory(std::string strDir) {
    const std::string strTarget = WithoutTrailingSeparators(strDir);
    if (strTarget.empty()) return -1;
    if (IsDirectory(strTarget)) return 0;
    // Create each prefix in turn; prefixes that exist or cannot exist ("C:",
    // "\\server") fail harmlessly, and only the final check decides.
    std::vector<size_t> vecOffsets = SeparatorOffsets(strTarget);
    vecOffsets.push_back(strTarget.size());
    for (size_t nOffset : vecOffsets) {
        if (nOffset == 0) continue;
        const std::string strPrefix = strTarget.substr(0, nOffset);
        if (IsDriveSpec(strPrefix) || EndsWithSeparator(strPrefix)) continue;
        CreateDirectoryW(Utf8ToWide(strPrefix).c_str(), nullptr);
    }
    return IsDirectory(strTarget) ? 0 : -1;
}

void CDirectoryEx::CreateParentDirectory(const std::string& strFilePath) {
    std::string strDir;
    if (GetFilePath(strFilePath, strDir) == 0) CreateMultipleDirectory(strDir);   // see the header: not reported
}

void CDirectoryEx::DeleteDirectory(std::string strDir) {
    const std::string strTarget = WithoutTrailingSeparators(strDir);
    if (strTarget.empty() || IsDriveSpec(strTarget)) return;
    const DWORD dwAttr = GetFileAttributesW(Utf8ToWide(strTarget).c_str());
    if (dwAttr == INVALID_FILE_ATTRIBUTES || !(dwAttr & FILE_ATTRIBUTE_DIRECTORY)) return;
    if (dwAttr & FILE_ATTRIBUTE_REPARSE_POINT) {
        RemoveLink(strTarget);
        return;
    }
    ClearReadOnly(strTarget, dwAttr);
    DeleteTree(strTarget);
}

void CDirectoryEx::SearchFile(std::string strDir, bool bRecursive, std::string strPattern,
                              std::vector<std::string>& vecFiles) {
    const std::string strRoot = WithoutTrailingSeparators(strDir);
    if (strRoot.empty() || strPattern.empty()) return;
    if (!IsDirectory(strRoot)) return;
    SearchTree(strRoot, bRecursive, strPattern, vecFiles);
}
