#pragma once
// File-system helpers. Paths are UTF-8 (platform/base/Text.h) and reach
// Windows through the W functions, so they may name any file.
#include <string>
#include <vector>

class CDirectoryEx {
public:
    // strPath := directory of the running program, ending in '\'.
    static long GetApplicationPath(std::string& strPath);
    // strDir := directory part of strFilePath, without a trailing '\' (except a
    // drive root: "C:\a.dll" gives "C:\"). -1 and empty when there is no directory part.
    static long GetFilePath(std::string strFilePath, std::string& strDir);
    // Creates strDir and every missing parent. 0 when the directory exists afterwards.
    static long CreateMultipleDirectory(std::string strDir);
    // Creates the directory strFilePath goes in, with its parents, when it is
    // missing. Not reported: a directory that cannot be made fails the write
    // that follows.
    static void CreateParentDirectory(const std::string& strFilePath);
    // Removes strDir and everything below it, read-only files included; never
    // follows junctions or links out of it. A link is removed as a link only where
    // its handle proves to be one (Wine resolves host links on open: left in place).
    static void DeleteDirectory(std::string strDir);
    // Appends the full path of every file at (and with bRecursive below) strDir whose
    // name matches the wild-card pattern; links and junctions are not entered.
    static void SearchFile(std::string strDir, bool bRecursive, std::string strPattern,
                           std::vector<std::string>& vecFiles);
};
