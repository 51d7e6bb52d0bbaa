#include "platform/fs/MD5.h"

#include <windows.h>

#include <new>

#include "platform/base/Win32Handles.h"

namespace {

// Large sequential reads keep the per-call overhead small against the hashing.
constexpr DWORD kBufferSize = 1024 * 1024;

}  // namespace

CMD5::CMD5() {
    // A reusable hash object is reset by BCryptFinishHash, so one serves every file.
    if (BCryptSucceeded(
            BCryptOpenAlgorithmProvider(m_hAlgorithm.put(), BCRYPT_MD5_ALGORITHM, nullptr, BCRYPT_HASH_REUSABLE_FLAG))) {
        m_bReusable = true;
    } else if (!BCryptSucceeded(BCryptOpenAlgorithmProvider(m_hAlgorithm.put(), BCRYPT_MD5_ALGORITHM, nullptr, 0))) {
        m_hAlgorithm.reset();
    }
    m_pBuffer.reset(new (std::nothrow) char[kBufferSize]);
}

bool CMD5::HashOpenFile(HANDLE hFile, unsigned char (&digest)[16]) {
    if (!m_hHash) {
        const ULONG dwFlags = m_bReusable ? BCRYPT_HASH_REUSABLE_FLAG : 0;
        if (!BCryptSucceeded(BCryptCreateHash(m_hAlgorithm.get(), m_hHash.put(), nullptr, 0, nullptr, 0, dwFlags))) {
            return false;
        }
    }
    for (;;) {
        DWORD dwRead = 0;
        if (!ReadFile(hFile, m_pBuffer.get(), kBufferSize, &dwRead, nullptr)) return false;
        if (dwRead == 0) break;
        if (!BCryptSucceeded(BCryptHashData(m_hHash.get(), reinterpret_cast<PUCHAR>(m_pBuffer.get()), dwRead, 0))) {
            return false;
        }
        // A disk file returns less than asked only at its end: saves a read per small file.
        if (dwRead < kBufferSize) break;
    }
    if (!BCryptSucceeded(BCryptFinishHash(m_hHash.get(), digest, sizeof(digest), 0))) return false;
    if (!m_bReusable) m_hHash.reset();
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
        m_hHash.reset();   // a half-fed hash must not carry over into the next file
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
