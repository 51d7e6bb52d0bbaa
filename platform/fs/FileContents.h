#pragma once
// Whole-file reads and atomic whole-file replacement (UTF-8 paths, W calls).
#include <string>

enum class FileReadResult {
    Read,       // strBytes holds the whole file
    Missing,    // the file or its directory does not exist
    Failed,     // it exists but could not be read (locked, denied, too large)
};

// Reads the whole file with one ReadFile call; other writers and deleters are not blocked.
FileReadResult ReadWholeFile(const std::string& strPath, std::string& strBytes);

// Replaces the file's content atomically: a temporary file in the same directory
// is written, flushed to disk and moved over the old one, so a crash leaves the
// old or the new content, never a torn file. No temporary file remains on failure.
// Without bDurable the flushes are left out: for caches, whose damage after a
// crash is detected and costs only their work, and which a flush would slow
// down more than all they save on a loaded disk.
bool ReplaceFileContents(const std::string& strPath, const std::string& strBytes, bool bDurable = true);

// FNV-1a over the bytes: tells a torn or edited cache file, nothing more (not
// a defence against anyone who can write the file).
unsigned long long ContentChecksum(const std::string& strBytes);
