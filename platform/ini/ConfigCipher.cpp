#include "platform/ini/ConfigCipher.h"

#include <cstdint>
#include <cstring>

#include "platform/base/BCryptHandles.h"

namespace {

constexpr char kMagic[4] = {'Q', 'C', 'F', 'G'};
constexpr uint16_t kFormatVersion = 1;
constexpr size_t kHeaderSize = 8;   // magic, version, reserved: authenticated, not encrypted
constexpr size_t kNonceSize = 12;
constexpr size_t kTagSize = 16;
constexpr size_t kPrefixSize = kHeaderSize + kNonceSize + kTagSize;
constexpr size_t kKeySize = 32;

// Fixed for the product: changing either makes every stored file unreadable.
constexpr char kSalt[] = "QOVA.Update.ConfigFile.Salt.2c6f1a90";
constexpr char kBuiltInSecret[] = "QOVA.Update.ConfigFile.BuiltIn.7d3e58b4";

bool DeriveKey(const std::string& strKeyArgument, unsigned char (&key)[kKeySize]) {
    UniqueBCryptAlgorithm hAlgorithm;
    if (!BCryptSucceeded(BCryptOpenAlgorithmProvider(hAlgorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
        return false;
    }
    UniqueBCryptHash hHash;
    if (!BCryptSucceeded(BCryptCreateHash(hAlgorithm.get(), hHash.put(), nullptr, 0, nullptr, 0, 0))) return false;
    // A marker byte keeps an argument equal to the built-in secret from sharing its key.
    const unsigned char marker = strKeyArgument.empty() ? 0 : 1;
    const std::string& strSecret = strKeyArgument.empty() ? std::string(kBuiltInSecret) : strKeyArgument;
    auto feed = [&](const void* pData, size_t nSize) {
        return BCryptSucceeded(BCryptHashData(hHash.get(), static_cast<PUCHAR>(const_cast<void*>(pData)),
                                              static_cast<ULONG>(nSize), 0));
    };
    return feed(kSalt, sizeof(kSalt) - 1) && feed(&marker, 1) && feed(strSecret.data(), strSecret.size()) &&
           BCryptSucceeded(BCryptFinishHash(hHash.get(), key, kKeySize, 0));
}

// The AES-GCM key for one seal or open; the algorithm handle must outlive it.
bool OpenGcmKey(const std::string& strKeyArgument, UniqueBCryptAlgorithm& hAlgorithm, UniqueBCryptKey& hKey) {
    unsigned char key[kKeySize];
    if (!DeriveKey(strKeyArgument, key)) return false;
    if (!BCryptSucceeded(BCryptOpenAlgorithmProvider(hAlgorithm.put(), BCRYPT_AES_ALGORITHM, nullptr, 0))) return false;
    wchar_t wszMode[] = BCRYPT_CHAIN_MODE_GCM;
    if (!BCryptSucceeded(BCryptSetProperty(hAlgorithm.get(), BCRYPT_CHAINING_MODE, reinterpret_cast<PUCHAR>(wszMode),
                                           sizeof(wszMode), 0))) {
        return false;
    }
    const bool bOk = BCryptSucceeded(
        BCryptGenerateSymmetricKey(hAlgorithm.get(), hKey.put(), nullptr, 0, key, kKeySize, 0));
    SecureZeroMemory(key, sizeof(key));
    return bOk;
}

// GCM over the header (authenticated, not encrypted) with the nonce and tag.
BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO GcmInfo(unsigned char* pHeader, unsigned char* pNonce, unsigned char* pTag) {
    BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO info;
    BCRYPT_INIT_AUTH_MODE_INFO(info);
    info.pbNonce = pNonce;
    info.cbNonce = kNonceSize;
    info.pbAuthData = pHeader;
    info.cbAuthData = kHeaderSize;
    info.pbTag = pTag;
    info.cbTag = kTagSize;
    return info;
}

void WriteHeader(unsigned char* p) {
    std::memcpy(p, kMagic, 4);
    p[4] = static_cast<unsigned char>(kFormatVersion & 0xFF);
    p[5] = static_cast<unsigned char>(kFormatVersion >> 8);
    p[6] = 0;
    p[7] = 0;
}

}  // namespace

bool SealConfigText(const std::string& strKeyArgument, const std::string& strPlain, std::string& strSealed) {
    strSealed.clear();
    if (strPlain.size() > 0x7FFFFFFF) return false;
    UniqueBCryptAlgorithm hAlgorithm;
    UniqueBCryptKey hKey;
    if (!OpenGcmKey(strKeyArgument, hAlgorithm, hKey)) return false;

    std::string strOut(kPrefixSize + strPlain.size(), '\0');
    unsigned char* pOut = reinterpret_cast<unsigned char*>(&strOut[0]);
    WriteHeader(pOut);
    unsigned char* pNonce = pOut + kHeaderSize;
    unsigned char* pTag = pNonce + kNonceSize;
    if (!BCryptSucceeded(BCryptGenRandom(nullptr, pNonce, kNonceSize, BCRYPT_USE_SYSTEM_PREFERRED_RNG))) return false;

    BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO info = GcmInfo(pOut, pNonce, pTag);
    ULONG cbResult = 0;
    // An empty input still yields the tag; BCrypt wants a non-null buffer.
    unsigned char dummy = 0;
    PUCHAR pbInput = strPlain.empty() ? &dummy : reinterpret_cast<PUCHAR>(const_cast<char*>(strPlain.data()));
    PUCHAR pbOutput = strPlain.empty() ? &dummy : pOut + kPrefixSize;
    if (!BCryptSucceeded(BCryptEncrypt(hKey.get(), pbInput, static_cast<ULONG>(strPlain.size()), &info, nullptr, 0,
                                       pbOutput, static_cast<ULONG>(strPlain.size()), &cbResult, 0)) ||
        cbResult != strPlain.size()) {
        return false;
    }
    strSealed.swap(strOut);
    return true;
}

ConfigOpenResult OpenConfigText(const std::string& strKeyArgument, const std::string& strSealed, std::string& strPlain) {
    strPlain.clear();
    if (strSealed.size() < kPrefixSize) return ConfigOpenResult::BadHeader;
    const unsigned char* pIn = reinterpret_cast<const unsigned char*>(strSealed.data());
    if (std::memcmp(pIn, kMagic, 4) != 0 || pIn[6] != 0 || pIn[7] != 0) return ConfigOpenResult::BadHeader;
    if ((pIn[4] | (pIn[5] << 8)) != kFormatVersion) return ConfigOpenResult::UnknownVersion;
    const size_t nCipher = strSealed.size() - kPrefixSize;
    if (nCipher > 0x7FFFFFFF) return ConfigOpenResult::BadHeader;

    UniqueBCryptAlgorithm hAlgorithm;
    UniqueBCryptKey hKey;
    if (!OpenGcmKey(strKeyArgument, hAlgorithm, hKey)) return ConfigOpenResult::CryptoFailure;

    // BCrypt takes non-const buffers; work on copies of nonce and tag.
    unsigned char header[kHeaderSize], nonce[kNonceSize], tag[kTagSize];
    std::memcpy(header, pIn, kHeaderSize);
    std::memcpy(nonce, pIn + kHeaderSize, kNonceSize);
    std::memcpy(tag, pIn + kHeaderSize + kNonceSize, kTagSize);
    BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO info = GcmInfo(header, nonce, tag);

    std::string strCipher = strSealed.substr(kPrefixSize);
    std::string strOut(nCipher, '\0');
    unsigned char dummyIn = 0, dummyOut = 0;
    PUCHAR pbInput = nCipher ? reinterpret_cast<PUCHAR>(&strCipher[0]) : &dummyIn;
    PUCHAR pbOutput = nCipher ? reinterpret_cast<PUCHAR>(&strOut[0]) : &dummyOut;
    ULONG cbResult = 0;
    const NTSTATUS status = BCryptDecrypt(hKey.get(), pbInput, static_cast<ULONG>(nCipher), &info, nullptr, 0,
                                          pbOutput, static_cast<ULONG>(nCipher), &cbResult, 0);
    if (!BCryptSucceeded(status) || cbResult != nCipher) {
        SecureZeroMemory(&strOut[0], strOut.size());
        return ConfigOpenResult::Unauthentic;
    }
    strPlain.swap(strOut);
    return ConfigOpenResult::Opened;
}
