#pragma once
// Makes a binary patch from an old file to a new one by approximate matching
// (C. Percival, "Naive differences of executable code", 2003): a suffix array
// of the old file finds long matches; around them a bytewise difference stream
// absorbs the few changed bytes (a rebuilt executable's shifted addresses);
// only its nonzero bytes are stored, each after the count of zeros before it.
// What matches nothing goes to an extra stream. The four streams are zstd
// frames (docs/patches.md has the layout).
//
// The matching runs three times with different rules, the smallest patch kept.
// Memory while making: about 5 bytes per byte of the old file plus 2 per byte
// of the new one (up to 4 when most of it matches nothing). Files above kDeltaMaxFileSize are refused (TooLargeToPatch).
#include <cstdint>
#include <string>

#include "platform/delta/DeltaFormat.h"

// The whole patch in memory, from the two files' contents.
DeltaError MakeDeltaPatchBytes(const std::string& strOld, const std::string& strNew, std::string& strPatch);
// Reads both files and writes the patch to strOut (removed again on failure).
DeltaError MakeDeltaPatch(const std::string& strOldPath, const std::string& strNewPath, const std::string& strOut);
