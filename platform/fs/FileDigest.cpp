#include "platform/fs/FileDigest.h"
#include "platform/base/Text.h"

#include <new>

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
    m_pDigest.reset(new (std::nothrow) unsigned char[kMaxDigestBytes]);
    m_bReady = static_cast<bool>(m_pDigest);
    for (S_Block& block : m_blocks) {
        block.pData.reset(new (std::nothrow) char[kBufferSize]);
        block.hFilled.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        block.hFree.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        m_bReady = m_bReady && block.pData && block.hFilled && block.hFree;
    }
}

bool CFileDigest::Hash(const S_Block& block) {
    return block.dwSize == 0 ||
           BCryptSucceeded(BCryptHashData(m_hash.get(), reinterpret_cast<PUCHAR>(block.pData.get()), block.dwSize, 0));
}

// Fills the blocks in turn, starting with the second, until the end of the
// file, a read error or a stop request.
DWORD WINAPI CFileDigest::ReadAheadThread(void* pParam) {
    CFileDigest& self = *static_cast<CFileDigest*>(pParam);
    for (int nBlock = 1;; nBlock ^= 1) {
        S_Block& block = self.m_blocks[nBlock];
        WaitForSingleObject(block.hFree.get(), INFINITE);
        if (InterlockedCompareExchange(&self.m_nStop, 0, 0) != 0) return 0;
        block.dwSize = 0;
        block.bRead = ReadFile(self.m_hReadFile, block.pData.get(), kBufferSize, &block.dwSize, nullptr) != FALSE;
        SetEvent(block.hFilled.get());
        if (!block.bRead || block.dwSize < kBufferSize) return 0;
    }
}

// The first block is full and not hashed yet: the rest is read ahead.
bool CFileDigest::HashWithReadAhead(HANDLE hFile) {
    m_hReadFile = hFile;
    InterlockedExchange(&m_nStop, 0);
    for (S_Block& block : m_blocks) {
        ResetEvent(block.hFilled.get());
        ResetEvent(block.hFree.get());
    }
    SetEvent(m_blocks[1].hFree.get());
    UniqueHandle hThread(CreateThread(nullptr, 0, ReadAheadThread, this, 0, nullptr));
    if (!hThread) {
        // No helper: the same reads, one after the other.
        if (!Hash(m_blocks[0])) return false;
        for (;;) {
            S_Block& block = m_blocks[1];
            if (!ReadFile(hFile, block.pData.get(), kBufferSize, &block.dwSize, nullptr) || !Hash(block)) return false;
            if (block.dwSize < kBufferSize) return true;
        }
    }

    bool bOk = Hash(m_blocks[0]);
    SetEvent(m_blocks[0].hFree.get());
    for (int nBlock = 1; bOk; nBlock ^= 1) {
        S_Block& block = m_blocks[nBlock];
        WaitForSingleObject(block.hFilled.get(), INFINITE);
        bOk = block.bRead && Hash(block);
        if (bOk && block.dwSize < kBufferSize) break;   // the reader has ended
        SetEvent(block.hFree.get());
    }
    if (!bOk) {
        // The reader may be waiting for a free block: release it and let it end.
        InterlockedExchange(&m_nStop, 1);
        for (S_Block& block : m_blocks) SetEvent(block.hFree.get());
    }
    WaitForSingleObject(hThread.get(), INFINITE);
    return bOk;
}

bool CFileDigest::HashOpenFile(HANDLE hFile) {
    if (!m_hash) {
        const ULONG dwFlags = m_bReusable ? BCRYPT_HASH_REUSABLE_FLAG : 0;
        if (!BCryptSucceeded(BCryptCreateHash(m_algorithm.get(), m_hash.put(), nullptr, 0, nullptr, 0, dwFlags))) {
            return false;
        }
    }
    S_Block& first = m_blocks[0];
    if (!ReadFile(hFile, first.pData.get(), kBufferSize, &first.dwSize, nullptr)) return false;
    // A disk file returns less than asked only at its end: a small file needs no helper.
    const bool bHashed = first.dwSize < kBufferSize ? Hash(first) : HashWithReadAhead(hFile);
    if (!bHashed || !BCryptSucceeded(BCryptFinishHash(m_hash.get(), m_pDigest.get(), m_nDigestBytes, 0))) return false;
    if (!m_bReusable) m_hash.reset();
    return true;
}

long CFileDigest::GetFileDigest(const char* pszFilePath, std::string& strDigest) {
    strDigest.clear();
    if (!pszFilePath) return -1;
    UniqueFile hFile(CreateFileW(Utf8ToWide(pszFilePath).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!hFile) return -1;
    return GetOpenFileDigest(hFile.get(), strDigest);
}

long CFileDigest::GetOpenFileDigest(HANDLE hFile, std::string& strDigest) {
    strDigest.clear();
    if (!m_algorithm || !m_bReady) return -1;
    if (!HashOpenFile(hFile)) {
        m_hash.reset();   // a half-fed hash must not carry over into the next file
        return -1;
    }
    static const char kHex[] = "0123456789abcdef";
    strDigest.resize(2 * m_nDigestBytes);
    for (unsigned long i = 0; i < m_nDigestBytes; ++i) {
        strDigest[2 * i] = kHex[m_pDigest[i] >> 4];
        strDigest[2 * i + 1] = kHex[m_pDigest[i] & 0x0F];
    }
    return 0;
}
