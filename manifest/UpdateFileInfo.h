#pragma once
// One file that a manifest comparison found to need updating. The update list
// is a std::vector of these in manifest order; every field is copied from the
// manifest as is, a missing value left empty; delta is read strictly
// (manifest/FileDelta.h).
#include <string>
#include <vector>

#include "manifest/FileDelta.h"

struct S_UpdateFileInfo {
    std::string strFileName;     // relative to the comparison's root, '\'-separated
    std::string strModifyTime;   // "MODIFYTIME": carried, never interpreted
    std::string strSize;         // "SIZE": decimal bytes
    std::string strMD5;          // "MD5": the expected digest text
    std::string strSHA256;       // "SHA256": the expected digest of a signed release
    S_FileDelta delta;           // patches and compressed copy, when listed and well-formed
    std::string strInstalledMD5; // the comparison's MD5 of the installed file; empty when it has none
};

// The one reader of "SIZE": decimal digits only, no sign, no blanks, no value
// beyond 64 bits. False for anything else ("12a", " 77", "", "-1").
bool ParseManifestSize(const std::string& strSize, unsigned long long& nBytes);

// The SIZE of each of vecNames (names of vecFiles), kUnknownSize where it
// cannot be read: what the transport is told to expect of each.
constexpr unsigned long long kUnknownSize = ~0ULL;
std::vector<unsigned long long> ManifestSizesOf(const std::vector<S_UpdateFileInfo>& vecFiles,
                                                const std::vector<std::string>& vecNames);
