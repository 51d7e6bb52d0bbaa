#pragma once
// One file that a manifest comparison found to need updating. The update list
// is a std::vector of these in manifest order; every field is copied from the
// manifest as is, a missing value left empty.
#include <string>

struct S_UpdateFileInfo {
    std::string strFileName;     // relative to the comparison's root, '\'-separated
    std::string strModifyTime;   // "MODIFYTIME": carried, never interpreted
    std::string strSize;         // "SIZE": decimal bytes
    std::string strMD5;          // "MD5": the expected digest text
    std::string strSHA256;       // "SHA256": the expected digest of a signed release
};
