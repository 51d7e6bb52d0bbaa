#include "platform/crypto/EcdsaP256.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "platform/crypto/Base64.h"

namespace {

// --- The curve equation, on 256-bit numbers of eight 32-bit limbs (limb 0 lowest).

using U256 = std::array<std::uint32_t, 8>;

// p = 2^256 - 2^224 + 2^192 + 2^96 - 1
const U256 kPrime = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0x00000000, 0x00000000, 0x00000000, 0x00000001, 0xFFFFFFFF};
const U256 kCurveB = {0x27D2604B, 0x3BCE3C3E, 0xCC53B0F6, 0x651D06B0, 0x769886BC, 0xB3EBBD55, 0xAA3A93E7, 0x5AC635D8};
// n, the order of the group: r and s of a signature lie in [1, n - 1].
const U256 kOrder = {0xFC632551, 0xF3B9CAC2, 0xA7179E84, 0xBCE6FAAD, 0xFFFFFFFF, 0xFFFFFFFF, 0x00000000, 0xFFFFFFFF};

U256 FromBigEndian(const unsigned char* p) {
    U256 n{};
    for (int i = 0; i < 8; ++i) {
        const unsigned char* q = p + 4 * (7 - i);
        n[i] = (std::uint32_t(q[0]) << 24) | (std::uint32_t(q[1]) << 16) | (std::uint32_t(q[2]) << 8) | q[3];
    }
    return n;
}

int Compare(const U256& a, const U256& b) {
    for (int i = 7; i >= 0; --i) {
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    }
    return 0;
}

// r := a + b; the carry out.
bool AddRaw(const U256& a, const U256& b, U256& r) {
    std::uint64_t carry = 0;
    for (int i = 0; i < 8; ++i) {
        const std::uint64_t sum = std::uint64_t(a[i]) + b[i] + carry;
        r[i] = static_cast<std::uint32_t>(sum);
        carry = sum >> 32;
    }
    return carry != 0;
}

// r := a - b; the borrow out.
bool SubRaw(const U256& a, const U256& b, U256& r) {
    std::uint64_t borrow = 0;
    for (int i = 0; i < 8; ++i) {
        const std::uint64_t diff = std::uint64_t(a[i]) - b[i] - borrow;
        r[i] = static_cast<std::uint32_t>(diff);
        borrow = (diff >> 32) & 1;
    }
    return borrow != 0;
}

// Arguments below p; results below p.
U256 AddMod(const U256& a, const U256& b) {
    U256 r;
    if (AddRaw(a, b, r) || Compare(r, kPrime) >= 0) SubRaw(r, kPrime, r);
    return r;
}

U256 SubMod(const U256& a, const U256& b) {
    U256 r;
    if (SubRaw(a, b, r)) AddRaw(r, kPrime, r);
    return r;
}

// Double and add, bit by bit: slow, but only three products per key check.
U256 MulMod(const U256& a, const U256& b) {
    U256 r{};
    for (int i = 255; i >= 0; --i) {
        r = AddMod(r, r);
        if ((b[i / 32] >> (i % 32)) & 1) r = AddMod(r, a);
    }
    return r;
}

// --- BCrypt.

// One provider for the process, never closed: a key must not outlive its
// provider, and keys may live in objects destroyed at any point of the exit.
BCRYPT_ALG_HANDLE EcdsaProvider() {
    static const BCRYPT_ALG_HANDLE s_hAlgorithm = [] {
        BCRYPT_ALG_HANDLE h = nullptr;
        if (!BCryptSucceeded(BCryptOpenAlgorithmProvider(&h, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) h = nullptr;
        return h;
    }();
    return s_hAlgorithm;
}

std::string MakeBlob(ULONG dwMagic, const std::string& strXY, const std::string& strScalar) {
    BCRYPT_ECCKEY_BLOB header = {dwMagic, static_cast<ULONG>(kP256ScalarBytes)};
    std::string strBlob(reinterpret_cast<const char*>(&header), sizeof(header));
    strBlob += strXY;
    strBlob += strScalar;
    return strBlob;
}

// A byte string's memory cleared before it is freed (key material).
void Wipe(std::string& str) {
    if (!str.empty()) SecureZeroMemory(&str[0], str.size());
    str.clear();
}

bool ImportBlob(LPCWSTR pszType, std::string& strBlob, UniqueBCryptKey& key) {
    const BCRYPT_ALG_HANDLE hAlgorithm = EcdsaProvider();
    BCRYPT_KEY_HANDLE hKey = nullptr;
    const bool bOk = hAlgorithm &&
                     BCryptSucceeded(BCryptImportKeyPair(hAlgorithm, nullptr, pszType, &hKey,
                                                         reinterpret_cast<PUCHAR>(&strBlob[0]),
                                                         static_cast<ULONG>(strBlob.size()), 0));
    Wipe(strBlob);
    if (!bOk) return false;
    key.reset(hKey);
    return true;
}

// A fixed digest whose signature proves that a scalar and a point belong together.
const char kPairProbe[] = "QOVA key pair probe, 32 bytes...";
static_assert(sizeof(kPairProbe) - 1 == kSha256Bytes, "the probe is a digest's length");

std::string Trimmed(const std::string& str) {
    const size_t nBegin = str.find_first_not_of(" \t");
    if (nBegin == std::string::npos) return std::string();
    const size_t nEnd = str.find_last_not_of(" \t");
    return str.substr(nBegin, nEnd - nBegin + 1);
}

}  // namespace

bool Sha256Of(const std::string& strBytes, std::string& strDigest) {
    strDigest.clear();
    UniqueBCryptAlgorithm algorithm;
    if (!BCryptSucceeded(BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
        return false;
    }
    UniqueBCryptHash hash;
    unsigned char digest[kSha256Bytes];
    if (!BCryptSucceeded(BCryptCreateHash(algorithm.get(), hash.put(), nullptr, 0, nullptr, 0, 0))) return false;
    // BCryptHashData takes a ULONG count: feed large inputs in pieces.
    for (size_t nDone = 0; nDone < strBytes.size();) {
        const ULONG nChunk = static_cast<ULONG>(std::min<size_t>(strBytes.size() - nDone, 1u << 30));
        if (!BCryptSucceeded(BCryptHashData(hash.get(), reinterpret_cast<PUCHAR>(const_cast<char*>(strBytes.data() + nDone)),
                                            nChunk, 0))) {
            return false;
        }
        nDone += nChunk;
    }
    if (!BCryptSucceeded(BCryptFinishHash(hash.get(), digest, sizeof(digest), 0))) return false;
    strDigest.assign(reinterpret_cast<const char*>(digest), sizeof(digest));
    return true;
}

bool IsP256Point(const std::string& strPoint) {
    if (strPoint.size() != kP256PointBytes || strPoint[0] != 0x04) return false;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(strPoint.data()) + 1;
    const U256 x = FromBigEndian(p);
    const U256 y = FromBigEndian(p + 32);
    if (Compare(x, kPrime) >= 0 || Compare(y, kPrime) >= 0) return false;
    const U256 lhs = MulMod(y, y);
    const U256 threeX = AddMod(AddMod(x, x), x);
    const U256 rhs = AddMod(SubMod(MulMod(MulMod(x, x), x), threeX), kCurveB);
    return Compare(lhs, rhs) == 0;
}

bool CEcdsaP256PublicKey::Import(const std::string& strPoint) {
    m_key.reset();
    m_strPoint.clear();
    if (!IsP256Point(strPoint)) return false;
    std::string strBlob = MakeBlob(BCRYPT_ECDSA_PUBLIC_P256_MAGIC, strPoint.substr(1), std::string());
    if (!ImportBlob(BCRYPT_ECCPUBLIC_BLOB, strBlob, m_key)) return false;
    m_strPoint = strPoint;
    return true;
}

bool IsP256SignatureInRange(const std::string& strSignature) {
    if (strSignature.size() != kP256SignatureBytes) return false;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(strSignature.data());
    const U256 kZero{};
    for (const U256& v : {FromBigEndian(p), FromBigEndian(p + 32)}) {
        if (Compare(v, kZero) == 0 || Compare(v, kOrder) >= 0) return false;
    }
    return true;
}

bool CEcdsaP256PublicKey::Verify(const std::string& strDigest, const std::string& strSignature) const {
    if (!m_key || strDigest.size() != kSha256Bytes || !IsP256SignatureInRange(strSignature)) return false;
    return BCryptSucceeded(BCryptVerifySignature(m_key.get(), nullptr,
                                                 reinterpret_cast<PUCHAR>(const_cast<char*>(strDigest.data())),
                                                 static_cast<ULONG>(strDigest.size()),
                                                 reinterpret_cast<PUCHAR>(const_cast<char*>(strSignature.data())),
                                                 static_cast<ULONG>(strSignature.size()), 0));
}

bool CEcdsaP256PrivateKey::TakePublicPoint() {
    unsigned char blob[sizeof(BCRYPT_ECCKEY_BLOB) + 2 * kP256ScalarBytes];
    ULONG cbBlob = 0;
    if (!BCryptSucceeded(BCryptExportKey(m_key.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, blob, sizeof(blob), &cbBlob, 0)) ||
        cbBlob != sizeof(blob)) {
        return false;
    }
    m_strPoint.assign(1, '\x04');
    m_strPoint.append(reinterpret_cast<const char*>(blob) + sizeof(BCRYPT_ECCKEY_BLOB), 2 * kP256ScalarBytes);
    return IsP256Point(m_strPoint);
}

bool CEcdsaP256PrivateKey::Generate() {
    m_key.reset();
    m_strPoint.clear();
    const BCRYPT_ALG_HANDLE hAlgorithm = EcdsaProvider();
    UniqueBCryptKey key;
    if (!hAlgorithm || !BCryptSucceeded(BCryptGenerateKeyPair(hAlgorithm, key.put(), 256, 0)) ||
        !BCryptSucceeded(BCryptFinalizeKeyPair(key.get(), 0))) {
        return false;
    }
    m_key = std::move(key);
    if (!TakePublicPoint()) {
        m_key.reset();
        m_strPoint.clear();
        return false;
    }
    return true;
}

bool CEcdsaP256PrivateKey::Import(const std::string& strScalar, const std::string& strPoint) {
    m_key.reset();
    m_strPoint.clear();
    if (strScalar.size() != kP256ScalarBytes || !IsP256Point(strPoint)) return false;
    std::string strBlob = MakeBlob(BCRYPT_ECDSA_PRIVATE_P256_MAGIC, strPoint.substr(1), strScalar);
    UniqueBCryptKey key;
    if (!ImportBlob(BCRYPT_ECCPRIVATE_BLOB, strBlob, key)) return false;

    // BCrypt takes the point as given, so check that d really is its scalar.
    CEcdsaP256PublicKey publicKey;
    m_key = std::move(key);
    m_strPoint = strPoint;
    std::string strSignature;
    if (!publicKey.Import(strPoint) || !Sign(kPairProbe, strSignature) || !publicKey.Verify(kPairProbe, strSignature)) {
        m_key.reset();
        m_strPoint.clear();
        return false;
    }
    return true;
}

bool CEcdsaP256PrivateKey::ExportScalar(std::string& strScalar) const {
    strScalar.clear();
    if (!m_key) return false;
    std::string strBlob(sizeof(BCRYPT_ECCKEY_BLOB) + 3 * kP256ScalarBytes, '\0');
    ULONG cbBlob = 0;
    const bool bOk = BCryptSucceeded(BCryptExportKey(m_key.get(), nullptr, BCRYPT_ECCPRIVATE_BLOB,
                                                     reinterpret_cast<PUCHAR>(&strBlob[0]),
                                                     static_cast<ULONG>(strBlob.size()), &cbBlob, 0)) &&
                     cbBlob == strBlob.size();
    if (bOk) strScalar = strBlob.substr(sizeof(BCRYPT_ECCKEY_BLOB) + 2 * kP256ScalarBytes);
    Wipe(strBlob);
    return bOk;
}

bool CEcdsaP256PrivateKey::Sign(const std::string& strDigest, std::string& strSignature) const {
    strSignature.clear();
    if (!m_key || strDigest.size() != kSha256Bytes) return false;
    unsigned char signature[kP256SignatureBytes];
    ULONG cbSignature = 0;
    if (!BCryptSucceeded(BCryptSignHash(m_key.get(), nullptr, reinterpret_cast<PUCHAR>(const_cast<char*>(strDigest.data())),
                                        static_cast<ULONG>(strDigest.size()), signature, sizeof(signature),
                                        &cbSignature, 0)) ||
        cbSignature != sizeof(signature)) {
        return false;
    }
    strSignature.assign(reinterpret_cast<const char*>(signature), sizeof(signature));
    return true;
}

std::string PublicKeyText(const std::string& strPoint) { return Base64Encode(strPoint); }

bool ParsePublicKeyText(const std::string& strText, CEcdsaP256PublicKey& key) {
    std::string strPoint;
    return Base64Decode(Trimmed(strText), strPoint) && key.Import(strPoint);
}

bool ParsePublicKeyList(const std::string& strValue, std::vector<CEcdsaP256PublicKey>& vecKeys) {
    vecKeys.clear();
    std::vector<CEcdsaP256PublicKey> vecParsed;
    size_t nStart = 0;
    for (;;) {
        const size_t nComma = strValue.find(',', nStart);
        const std::string strPart = strValue.substr(nStart, nComma == std::string::npos ? std::string::npos : nComma - nStart);
        CEcdsaP256PublicKey key;
        if (vecParsed.size() == 2 || !ParsePublicKeyText(strPart, key)) return false;
        vecParsed.push_back(std::move(key));
        if (nComma == std::string::npos) break;
        nStart = nComma + 1;
    }
    vecKeys = std::move(vecParsed);
    return true;
}
