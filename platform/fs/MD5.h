#pragma once
// MD5 digests of files through BCrypt, on the shared streaming loop of
// CFileDigest. The text is 32 lower-case hexadecimal digits; UpdateTool
// writes the same text into the manifests.
#include <string>

#include "platform/fs/FileDigest.h"

class CMD5 {
public:
    CMD5();

    // strMD5 := digest of the file's contents; empty on failure. 0 or -1.
    long GetFileMD5(const char* pszFilePath, std::string& strMD5) { return m_digest.GetFileDigest(pszFilePath, strMD5); }

private:
    CFileDigest m_digest;
};
