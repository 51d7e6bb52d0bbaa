#pragma once
#include <memory>
#include <string>

#include "platform/base/BCryptHandles.h"

// MD5 digests of files through BCrypt. The text is 32 lower-case hexadecimal
// digits; UpdateTool writes the same text into the manifests.
class CMD5 {
public:
    CMD5();
    CMD5(const CMD5&) = delete;
    CMD5& operator=(const CMD5&) = delete;

    // strMD5 := digest of the file's contents; empty on failure. 0 or -1.
    long GetFileMD5(const char* pszFilePath, std::string& strMD5);

private:
    bool HashOpenFile(HANDLE hFile, unsigned char (&digest)[16]);

    UniqueBCryptAlgorithm m_hAlgorithm;     // opened once for all files
    UniqueBCryptHash m_hHash;               // kept across files when reusable; goes before the algorithm
    bool m_bReusable = false;               // the algorithm was opened with BCRYPT_HASH_REUSABLE_FLAG
    std::unique_ptr<char[]> m_pBuffer;      // one large read buffer for all files
};
