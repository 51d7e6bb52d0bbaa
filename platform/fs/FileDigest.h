#pragma once
// Streaming digests of files through BCrypt, for any hash algorithm BCrypt
// names (BCRYPT_MD5_ALGORITHM, BCRYPT_SHA256_ALGORITHM). One object serves
// many files: the algorithm, a reusable hash object and the read buffers are
// set up once, so the per-file cost is the open, the reads and the hashing.
// The text is lower-case hexadecimal.
//
// Files are read in blocks of 1 MiB. A file of more than one block is read
// ahead by a helper thread into a second buffer while the first is hashed, so
// a large file costs about its hashing time rather than reading plus hashing
// (a tenth less for 1 GiB under Wine); the thread lives only for that one
// call. A file of one block (most of an installation) is read and hashed on
// the caller's thread alone.
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
    // The same for a file the caller has opened for reading, from its current position.
    long GetOpenFileDigest(HANDLE hFile, std::string& strDigest);

private:
    struct S_Block {
        std::unique_ptr<char[]> pData;
        DWORD dwSize = 0;
        bool bRead = false;
        UniqueHandle hFilled;   // set by the reader when the block holds data
        UniqueHandle hFree;     // set by the hasher when the block may be refilled
    };

    bool HashOpenFile(HANDLE hFile);
    bool Hash(const S_Block& block);
    bool HashWithReadAhead(HANDLE hFile);
    static DWORD WINAPI ReadAheadThread(void* pParam);

    UniqueBCryptAlgorithm m_algorithm;
    UniqueBCryptHash m_hash;          // kept across files when reusable
    bool m_bReusable = false;         // opened with BCRYPT_HASH_REUSABLE_FLAG
    unsigned long m_nDigestBytes = 0;
    std::unique_ptr<unsigned char[]> m_pDigest;
    S_Block m_blocks[2];
    bool m_bReady = false;
    // For the reader thread of one call.
    HANDLE m_hReadFile = nullptr;
    volatile LONG m_nStop = 0;
};
