#pragma once
// SHA-256 digests of files through BCrypt: 64 lower-case hexadecimal digits,
// the text UpdateTool writes into the manifests' "SHA256" keys.
#include <string>

#include "platform/fs/FileDigest.h"

class CSha256 {
public:
    CSha256();

    // strSHA256 := digest of the file's contents; empty on failure. 0 or -1.
    long GetFileSHA256(const char* pszFilePath, std::string& strSHA256) {
        return m_digest.GetFileDigest(pszFilePath, strSHA256);
    }

private:
    CFileDigest m_digest;
};
