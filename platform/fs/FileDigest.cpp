#include "platform/fs/FileDigest.h"

#include <new>

#include "platform/base/Win32Handles.h"

namespace {

// Large sequential reads keep the per-call overhead small against the hashing.
constexpr DWORD kBufferSize = 1024 * 1024;
// No BCrypt hash is longer than SHA-512.
constexpr ULONG kMaxDigestBytes = 64;

}  // namespace

CFileDigest::CFileDigest(const wchar_t* pszAlgorithm) {
    // A reusable hash object is reset by BCryptFinishHash, so one serves every file.
    if (BCryptSucceeded(BCryptOpenAlgorithmProvider(m_algorithm.put(), pszAlgorithm, nullptr,
                                                    BCRYPT_HASH_REUSABLE_FLAG))) {
        m_bReusable = true;
    } else if (!BCryptSucceeded(BCryptOpenAlgorithmProvider(m_algorithm.put(), pszAlgorithm, nullptr, 0))) {
        m_algorithm.reset();
        return;
    }
    DWORD dwLength = 0;
    ULONG cbResult = 0;
    if (!BCryptSucceeded(BCryptGetProperty(m_algorithm.get(), BCRYPT_HASH_LENGTH, reinterpret_cast<PUCHAR>(&dwLength),
                                           sizeof(dwLength), &cbResult, 0)) ||
        dwLength == 0 || dwLength > kMaxDigestBytes) {
        m_algorithm.reset();
        return;
    }
    m_nDigestBytes = dwLength;
    m_pBuffer.reset(new (std::nothrow) char[kBufferSize]);
    m_pDigest.reset(new (std::nothrow) unsigned char[kMaxDigestBytes]);
}

bool CFileDigest::HashOpenFile(HANDLE hFile) {
    if (!m_hash) {
        const ULONG dwFlags = m_bReusable ? BCRYPT_HASH_REUSABLE_FLAG : 0;
        if (!BCryptSucceeded(BCryptCreateHash(m_algorithm.get(), m_hash.put(), nullptr, 0, nullptr, 0, dwFlags))) {
            return false;
        }
    }
    for (;;) {
        DWORD dwRead = 0;
        if (!ReadFile(hFile, m_pBuffer.get(), kBufferSize, &dwRead, nullptr)) return false;
        if (dwRead == 0) break;
        if (!BCryptSucceeded(BCryptHashData(m_hash.get(), reinterpret_cast<PUCHAR>(m_pBuffer.get()), dwRead, 0))) {
            return false;
        }
        // A disk file returns less than asked only at its end: saves a read per small file.
        if (dwRead < kBufferSize) break;
    }
    if (!BCryptSucceeded(BCryptFinishHash(m_hash.get(), m_pDigest.get(), m_nDigestBytes, 0))) return false;
    if (!m_bReusable) m_hash.reset();
    return true;
}

long CFileDigest::GetFileDigest(const char* pszFilePath, std::string& strDigest) {
    strDigest.clear();
    if (!pszFilePath || !m_algorithm || !m_pBuffer || !m_pDigest) return -1;
    UniqueFile hFile(CreateFileA(pszFilePath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!hFile) return -1;
    if (!HashOpenFile(hFile.get())) {
        m_hash.reset();   // a half-fed hash must not carry over into the next file
        return -1;
    }
    static const char kHex[] = "0123456789abcdef";
    strDigest.reserve(2 * m_nDigestBytes);
    for (unsigned long i = 0; i < m_nDigestBytes; ++i) {
        strDigest += kHex[m_pDigest[i] >> 4];
        strDigest += kHex[m_pDigest[i] & 0x0F];
    }
    return 0;
}
