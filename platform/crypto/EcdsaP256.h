#pragma once
// ECDSA on the curve P-256 with SHA-256, through BCrypt. Keys and signatures
// travel in the forms other tools read and write, all big-endian: a public key
// as the 65-byte uncompressed point 0x04 || X || Y, a private key as the
// 32-byte scalar d, a signature as the 64 bytes r || s.
#include <cstddef>
#include <string>
#include <vector>

#include "platform/base/BCryptHandles.h"

constexpr std::size_t kP256PointBytes = 65;
constexpr std::size_t kP256ScalarBytes = 32;
constexpr std::size_t kP256SignatureBytes = 64;
constexpr std::size_t kSha256Bytes = 32;

// strDigest := the 32-byte SHA-256 of strBytes. False (strDigest empty) when BCrypt fails.
bool Sha256Of(const std::string& strBytes, std::string& strDigest);

// True when strPoint is 0x04 || X || Y with X and Y below the field prime and
// y^2 = x^3 - 3x + b. Checked here because BCrypt does not always do it: Wine
// imports a point off the curve without complaint.
bool IsP256Point(const std::string& strPoint);

// True when strSignature is 64 bytes r || s with r and s in [1, n - 1] (n the
// group order). Checked here, before BCrypt: Wine does not check it, and a
// verifier that takes r = 0 or s = 0 can be fooled.
bool IsP256SignatureInRange(const std::string& strSignature);

class CEcdsaP256PublicKey {
public:
    // False, and the key is left empty, unless strPoint is a point of the curve.
    bool Import(const std::string& strPoint);
    bool IsSet() const { return static_cast<bool>(m_key); }
    const std::string& Point() const { return m_strPoint; }

    // True when strSignature (r || s, 64 bytes) signs the 32-byte digest with this key.
    bool Verify(const std::string& strDigest, const std::string& strSignature) const;

private:
    UniqueBCryptKey m_key;
    std::string m_strPoint;
};

class CEcdsaP256PrivateKey {
public:
    // A new random key pair.
    bool Generate();
    // The scalar d and its public point; false, and the key is left empty,
    // unless the point is on the curve and a signature made with d verifies
    // with it (a damaged or mismatched pair is refused).
    bool Import(const std::string& strScalar, const std::string& strPoint);
    bool IsSet() const { return static_cast<bool>(m_key); }
    const std::string& PublicPoint() const { return m_strPoint; }
    // strScalar := d (32 bytes). False when the key cannot be exported.
    bool ExportScalar(std::string& strScalar) const;

    // strSignature := r || s over the 32-byte digest (a fresh random nonce each time).
    bool Sign(const std::string& strDigest, std::string& strSignature) const;

private:
    bool TakePublicPoint();

    UniqueBCryptKey m_key;
    std::string m_strPoint;
};

// The public key as one line of text: base64 of the 65-byte point.
std::string PublicKeyText(const std::string& strPoint);

// A key line: base64 of a curve point (blanks around it allowed). False otherwise.
bool ParsePublicKeyText(const std::string& strText, CEcdsaP256PublicKey& key);

// A list of one or two key lines separated by a comma (for moving to a new key
// while installations still hold the old one). False, vecKeys empty, for
// anything else: an empty value, an empty part, a third key, a line that is
// not a curve point. A caller must treat false as "trust nothing", never as
// "no keys, so no checks".
bool ParsePublicKeyList(const std::string& strValue, std::vector<CEcdsaP256PublicKey>& vecKeys);
