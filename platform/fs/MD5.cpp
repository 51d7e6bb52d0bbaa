#include "platform/fs/MD5.h"

#include <windows.h>
#include <bcrypt.h>

#include <new>

#include "platform/base/Win32Handles.h"

namespace {

// Large sequential reads keep the per-call overhead small against the hashing.
constexpr DWORD kBufferSize = 1024 * 1024;

bool Succeeded(NTSTATUS status) { return status >= 0; }

}  // namespace

CMD5::CMD5() {
    BCRYPT_ALG_HANDLE hAlgorithm = nullptr;
    // A reusable hash object is reset by BCryptFinishHash, so one serves every file.
    if (Succeeded(BCryptOpenAlgorithmProvider(&hAlgorithm, BCRYPT_MD5_ALGORITHM, nullptr, BCRYPT_HASH_REUSABLE_FLAG))) {
        m_bReusable = true;
    } else if (!Succeeded(BCryptOpenAlgorithmProvider(&hAlgorithm, BCRYPT_MD5_ALGORITHM, nullptr, 0))) {
        hAlgorithm = nullptr;
    }
    m_hAlgorithm = hAlgorithm;
    m_pBuffer = new (std::nothrow) char[kBufferSize];
}

CMD5::~CMD5() {
    DropHash();
    if (m_hAlgorithm) BCryptCloseAlgorithmProvider(static_cast<BCRYPT_ALG_HANDLE>(m_hAlgorithm), 0);
    delete[] m_pBuffer;
}

void CMD5::DropHash() {
    if (m_hHash) BCryptDestroyHash(static_cast<BCRYPT_HASH_HANDLE>(m_hHash));
    m_hHash = nullptr;
}

bool CMD5::HashOpenFile(void* hFile, unsigned char (&digest)[16]) {
    if (!m_hHash) {
        BCRYPT_HASH_HANDLE hHash = nullptr;
        const ULONG dwFlags = m_bReusable ? BCRYPT_HASH_REUSABLE_FLAG : 0;
        if (!Succeeded(BCryptCreateHash(static_cast<BCRYPT_ALG_HANDLE>(m_hAlgorithm), &hHash, nullptr, 0, nullptr, 0,
                                        dwFlags))) {
            return false;
        }
        m_hHash = hHash;
    }
    const BCRYPT_HASH_HANDLE hHash = static_cast<BCRYPT_HASH_HANDLE>(m_hHash);
    for (;;) {
        DWORD dwRead = 0;
        if (!ReadFile(static_cast<HANDLE>(hFile), m_pBuffer, kBufferSize, &dwRead, nullptr)) return false;
        if (dwRead == 0) break;
        if (!Succeeded(BCryptHashData(hHash, reinterpret_cast<PUCHAR>(m_pBuffer), dwRead, 0))) return false;
        // A disk file returns less than asked only at its end: saves a read per small file.
        if (dwRead < kBufferSize) break;
    }
    if (!Succeeded(BCryptFinishHash(hHash, digest, sizeof(digest), 0))) return false;
    if (!m_bReusable) DropHash();
    return true;
}

long CMD5::GetFileMD5(const char* pszFilePath, std::string& strMD5) {
    strMD5.clear();
    if (!pszFilePath || !m_hAlgorithm || !m_pBuffer) return -1;
    UniqueFile hFile(CreateFileA(pszFilePath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!hFile) return -1;
    unsigned char digest[16];
    if (!HashOpenFile(hFile.get(), digest)) {
        DropHash();   // a half-fed hash must not carry over into the next file
        return -1;
    }
    static const char kHex[] = "0123456789abcdef";
    strMD5.reserve(32);
    for (unsigned char byte : digest) {
        strMD5 += kHex[byte >> 4];
        strMD5 += kHex[byte & 0x0F];
    }
    return 0;
}
