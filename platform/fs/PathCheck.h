#pragma once
// Where a path really leads. Names are compared as Windows resolves them, so
// no spelling (letter case, "..", "/", an 8.3 name, "\\?\") and no link or
// junction on the way makes a path outside a directory look like one inside.
#include <windows.h>

#include <string>

// GetFullPathNameW: "." and ".." resolved, '/' turned into '\'. False when it cannot be made full.
bool FullPath(const std::string& strPath, std::string& strFull);

// The final path of an existing directory (GetFinalPathNameByHandleW: every
// link, junction and short name resolved). False, with pdwError, when it
// cannot be opened (ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND: not there).
bool FinalDirectoryPath(const std::string& strDir, std::wstring& strFinal, DWORD* pdwError = nullptr);

// strPath is strDir itself or lies below it, letter case folded as the file
// system folds it (CompareStringOrdinal, every script's pairs).
bool IsAtOrBelow(const std::wstring& strPath, const std::wstring& strDir);
