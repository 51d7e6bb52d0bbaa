#pragma once
// Whole-file reads and atomic whole-file replacement (UTF-8 paths, W calls).
#include <windows.h>

#include <string>

#include "platform/base/Win32Handles.h"

enum class FileReadResult {
    Read,       // strBytes holds the whole file
    Missing,    // the file or its directory does not exist
    Failed,     // it exists but could not be read (locked, denied, too large)
};

// Reads the whole file with one ReadFile call; other writers and deleters are not blocked.
FileReadResult ReadWholeFile(const std::string& strPath, std::string& strBytes);

// Replaces the file's content atomically: a temporary file in the same directory
// (CreateUniqueFile, no length limit of its own) is written, flushed to disk and moved over the old one, so a crash leaves the
// old or the new content, never a torn file. No temporary file remains on failure.
// Without bDurable the flushes are left out: for caches, whose damage after a
// crash is detected and costs only their work, and which a flush would slow
// down more than all they save on a loaded disk.
bool ReplaceFileContents(const std::string& strPath, const std::string& strBytes, bool bDurable = true);

// The path as Windows takes it at any length: an absolute path too long for
// the plain form (an installation nested about 250 characters deep) gets the
// "\\?\" form of its full path; anything else is only widened.
std::wstring LongPathW(const std::string& strPath);

// 16 hexadecimal digits from the system's random generator: a temporary name
// nobody can plant beforehand.
std::string RandomHexName();

// Creates strBase + ".~" + RandomHexName() + strSuffix with CREATE_NEW for
// writing (never an existing file, never through a planted link); strName
// receives the name. An invalid handle on failure (GetLastError says why).
UniqueFile CreateUniqueFile(const std::string& strBase, const std::string& strSuffix, std::string& strName);

// Copies strSource's bytes and last-write time into hTo (from its start) and
// flushes them to disk. The source may be held open by anyone.
bool CopyIntoAndFlush(const std::string& strSource, HANDLE hTo);

// FNV-1a over the bytes: tells a torn or edited cache file, nothing more (not
// a defence against anyone who can write the file).
unsigned long long ContentChecksum(const std::string& strBytes);
