#include "platform/fs/DirectoryEx.h"

#include <windows.h>
#include <shlwapi.h>

#include "platform/base/Win32Handles.h"

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Byte offsets of every path separator, found character by character so that a
// GBK trail byte 0x5C is never taken for one.
std::vector<size_t> SeparatorOffsets(const std::string& strPath) {
    std::vector<size_t> vecOffsets;
    const char* pszBegin = strPath.c_str();
    for (const char* p = pszBegin; *p; p = CharNextA(p)) {
        if (IsSeparator(*p)) vecOffsets.push_back(static_cast<size_t>(p - pszBegin));
    }
    return vecOffsets;
}

// strPath without its trailing separators, character-aware.
std::string WithoutTrailingSeparators(const std::string& strPath) {
    const char* pszBegin = strPath.c_str();
    size_t nEnd = 0;   // end of the last character that is not a separator
    for (const char* p = pszBegin; *p; p = CharNextA(p)) {
        if (!IsSeparator(*p)) nEnd = static_cast<size_t>(CharNextA(p) - pszBegin);
    }
    return strPath.substr(0, nEnd);
}

bool EndsWithSeparator(const std::string& strPath) {
    const std::vector<size_t> vecOffsets = SeparatorOffsets(strPath);
    return !vecOffsets.empty() && vecOffsets.back() + 1 == strPath.size();
}

// "C:" or "C:\" alone: a drive root, never created or removed.
bool IsDriveSpec(const std::string& strPath) {
    return strPath.size() == 2 && strPath[1] == ':' && IsCharAlphaA(strPath[0]);
}

bool IsDotName(const char* pszName) {
    return pszName[0] == '.' && (pszName[1] == '\0' || (pszName[1] == '.' && pszName[2] == '\0'));
}

bool IsDirectory(const std::string& strPath) {
    const DWORD dwAttr = GetFileAttributesA(strPath.c_str());
    return dwAttr != INVALID_FILE_ATTRIBUTES && (dwAttr & FILE_ATTRIBUTE_DIRECTORY);
}

// Removes a link or junction itself, never its target: the handle is opened on
// the reparse point and deleted only after it proves to be one. A layer that
// resolves the link on open (Wine with host links) yields the target here, and
// then nothing is removed; there RemoveDirectoryA would delete an empty target.
void RemoveLink(const std::string& strPath) {
    UniqueFile hLink(CreateFileA(strPath.c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
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
        SetFileAttributesA(strPath.c_str(), dwAttr & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    }
}

// Deletes the contents of strDir (no trailing separator), then strDir itself.
// Reparse points are removed as links: their targets lie outside the tree.
void DeleteTree(const std::string& strDir) {
    WIN32_FIND_DATAA fd;
    UniqueFind hFind(FindFirstFileA((strDir + "\\*").c_str(), &fd));
    if (hFind) {
        do {
            if (IsDotName(fd.cFileName)) continue;
            const std::string strChild = strDir + "\\" + fd.cFileName;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                RemoveLink(strChild);
                continue;
            }
            ClearReadOnly(strChild, fd.dwFileAttributes);
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                DeleteTree(strChild);
            } else {
                DeleteFileA(strChild.c_str());
            }
        } while (FindNextFileA(hFind.get(), &fd));
    }
    hFind.reset();
    RemoveDirectoryA(strDir.c_str());
}

// The wild card is matched again on the long name: FindFirstFileA also matches
// 8.3 aliases, so "*.bak" would otherwise return "x.bakup" (alias "X~1.BAK").
bool LongNameMatches(const char* pszName, const std::string& strPattern) {
    return PathMatchSpecA(pszName, strPattern.c_str()) != FALSE;
}

void SearchTree(const std::string& strDir, bool bRecursive, const std::string& strPattern,
                std::vector<std::string>& vecFiles) {
    WIN32_FIND_DATAA fd;
    {
        UniqueFind hFind(FindFirstFileA((strDir + "\\" + strPattern).c_str(), &fd));
        if (hFind) {
            do {
                if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
                if (!LongNameMatches(fd.cFileName, strPattern)) continue;
                vecFiles.push_back(strDir + "\\" + fd.cFileName);
            } while (FindNextFileA(hFind.get(), &fd));
        }
    }
    if (!bRecursive) return;
    UniqueFind hFind(FindFirstFileA((strDir + "\\*").c_str(), &fd));
    if (!hFind) return;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
        if (IsDotName(fd.cFileName)) continue;
        SearchTree(strDir + "\\" + fd.cFileName, bRecursive, strPattern, vecFiles);
    } while (FindNextFileA(hFind.get(), &fd));
}

}  // namespace

long CDirectoryEx::GetApplicationPath(std::string& strPath) {
    strPath.clear();
    std::string strModule(MAX_PATH, '\0');
    for (;;) {
        const DWORD dwLen = GetModuleFileNameA(nullptr, &strModule[0], static_cast<DWORD>(strModule.size()));
        if (dwLen == 0) return -1;
        if (dwLen < strModule.size()) {
            strModule.resize(dwLen);
            break;
        }
        if (strModule.size() >= 32768) return -1;
        strModule.resize(strModule.size() * 2);
    }
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
        CreateDirectoryA(strPrefix.c_str(), nullptr);
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
    const DWORD dwAttr = GetFileAttributesA(strTarget.c_str());
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
