#pragma once
// Streaming digests of files through BCrypt, for any hash algorithm BCrypt
// names (BCRYPT_MD5_ALGORITHM, BCRYPT_SHA256_ALGORITHM). One object serves
// many files: the algorithm, a reusable hash object and one 1 MiB read buffer
// are set up once, so the per-file cost is the open, the reads and the hashing.
// The text is lower-case hexadecimal.
#include <memory>
#include <string>

#include "platform/base/BCryptHandles.h"

class CFileDigest {
public:
    explicit CFileDigest(const wchar_t* pszAlgorithm);
    CFileDigest(const CFileDigest&) = delete;
    CFileDigest& operator=(const CFileDigest&) = delete;

    // strDigest := digest of the file's contents; empty on failure. 0 or -1.
    // The file is read with every sharing mode, so a file held open by a
    // running program can still be digested.
    long GetFileDigest(const char* pszFilePath, std::string& strDigest);

private:
    bool HashOpenFile(HANDLE hFile);

    UniqueBCryptAlgorithm m_algorithm;
    UniqueBCryptHash m_hash;          // kept across files when reusable
    bool m_bReusable = false;         // opened with BCRYPT_HASH_REUSABLE_FLAG
    unsigned long m_nDigestBytes = 0;
    std::unique_ptr<char[]> m_pBuffer;
    std::unique_ptr<unsigned char[]> m_pDigest;
};
