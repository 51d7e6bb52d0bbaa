#pragma once
#include <string>

// MD5 digests of files through BCrypt. The text is 32 lower-case hexadecimal
// digits; UpdateTool writes the same text into the manifests.
class CMD5 {
public:
    CMD5();
    ~CMD5();
    CMD5(const CMD5&) = delete;
    CMD5& operator=(const CMD5&) = delete;

    // strMD5 := digest of the file's contents; empty on failure. 0 or -1.
    long GetFileMD5(const char* pszFilePath, std::string& strMD5);

private:
    bool HashOpenFile(void* hFile, unsigned char (&digest)[16]);
    void DropHash();

    void* m_hAlgorithm = nullptr;   // BCRYPT_ALG_HANDLE, opened once for all files
    void* m_hHash = nullptr;        // BCRYPT_HASH_HANDLE, kept across files when reusable
    bool m_bReusable = false;       // the algorithm was opened with BCRYPT_HASH_REUSABLE_FLAG
    char* m_pBuffer = nullptr;      // one large read buffer for all files
};
