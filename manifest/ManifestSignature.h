#pragma once
// The signature of a manifest, in a file beside it named after it with ".sig"
// appended ("UpdateConfig.ini.sig", "config.ini.sig"), an INI text:
//
//   [Signature]
//   Target=/1/UpdateConfig.ini       the path the manifest is served at
//   Signed=2026-12-08T09:30:00Z      UTC time of signing
//   Expires=2027-03-08T09:30:00Z     optional
//   Value=<base64 of the 64 bytes r || s>
//   Key=1a2b3c4d5e6f7a8b              optional: KeyId of the signing key
//
// Value is an ECDSA P-256 signature of the SHA-256 of the bytes
//   "QOVA-SIG-2\n" + Target + "\n" + Signed + "\n" + Expires (empty when absent) + "\n" + the manifest's bytes,
// so neither the times nor the manifest it stands for can be changed without
// the key: every manifest a publisher signed is public, and without Target a
// data set's signed pair would pass for the program's. The client checks the
// signature against the path it asked for, never against the file's Target
// (that line is for tools). Times are exactly "YYYY-MM-DDTHH:MM:SSZ" (UTC, no
// fractions, no other offsets). Signatures of the first format (no Target)
// are refused. Key is not signed: it only tells a manifest signed with a key
// this installation does not know from one whose bytes changed after signing.
//
// A signed manifest also gives every file section a "SHA256" (64 hexadecimal
// digits): MD5 alone does not pin a file's contents; and a plain "SIZE"
// (decimal digits only): without one a file's body is bounded by nothing.
#include <string>
#include <vector>

#include "platform/crypto/EcdsaP256.h"

extern const char kSignatureSuffix[];   // ".sig"

// The largest manifest and ".sig" anyone fetches or writes: far above any
// real one, and small enough that a hostile answer costs little.
constexpr unsigned long long kMaxManifestBytes = 16ULL * 1024 * 1024;
constexpr unsigned long long kMaxSignatureBytes = 4 * 1024;

struct S_ManifestSignature {
    std::string strTarget;    // as written in the file
    std::string strSigned;    // the times as written
    std::string strExpires;   // empty when absent
    std::string strValue;     // base64
    std::string strKey;       // KeyId of the signing key, as written; empty when absent
};

// 16 lower-case hexadecimal digits of the SHA-256 of a public key's point.
std::string KeyId(const CEcdsaP256PublicKey& key);

// Seconds since 1970-01-01T00:00:00Z of a strict "YYYY-MM-DDTHH:MM:SSZ"
// (a real calendar date, leap years counted; hours 00-23; year from 1970).
bool ParseUtcTime(const std::string& strText, long long& nSeconds);
std::string FormatUtcTime(long long nSeconds);
long long CurrentUtcTime();

// Target of a manifest: "/" + the update kind in decimal + "/" + its file name
// ("/1/UpdateConfig.ini", "/3/config.ini"), as the client asks for it.
std::string ManifestTarget(int nUpdateType, const std::string& strManifestName);

// The bytes whose SHA-256 the signature signs.
std::string SignedMessage(const std::string& strTarget, const std::string& strSigned, const std::string& strExpires,
                          const std::string& strManifest);

std::string SignatureText(const S_ManifestSignature& sig);
// True when the text has [Signature] with a Target starting with '/', a well-formed Signed, Expires (if
// present and not empty) and a Value of 64 bytes. Says nothing of the key.
bool ParseSignatureText(const std::string& strText, S_ManifestSignature& sig);

// Signs the manifest's bytes for strTarget at nSigned, valid until nExpires (negative: no expiry).
bool SignManifest(const std::string& strManifest, const std::string& strTarget, const CEcdsaP256PrivateKey& key,
                  long long nSigned, long long nExpires, S_ManifestSignature& sig);

// Which sections of a manifest describe files.
enum class EManifestLayout {
    Program,   // "UpdateConfig.ini": the sections the keys of "FILES" name
    Data,      // "config.ini": every section
};

// strSection := the first file section without a "SHA256" of 64 hexadecimal
// digits (either letter case); false when every file section has one.
bool FindSectionWithoutSha256(const std::string& strManifest, EManifestLayout layout, std::string& strSection);
// The same for a "SIZE" that is not a plain decimal number (ParseManifestSize).
bool FindSectionWithoutSize(const std::string& strManifest, EManifestLayout layout, std::string& strSection);

// Whether the text is a manifest of the layout at all: a program manifest has
// a [Version] section, a data-set manifest at least one file section. Another
// text (a portal's or a parked domain's page) would read as nothing to do.
bool IsManifestText(const std::string& strManifest, EManifestLayout layout);

enum class ESignatureCheck {
    Valid,
    NoManifest,      // the manifest cannot be read
    NoSignature,     // no ".sig" beside it, or it cannot be read
    Malformed,       // the ".sig" is not the text above (a first-format one has no Target)
    BadSignature,    // no key of the list signed these bytes and times for this Target
    OtherKey,        // as BadSignature, and the .sig names a signing key that is not in the list
    Expired,         // Expires has passed
    Replayed,        // Signed is older than the newest one accepted before
    BadRecord,       // the newest accepted time on record cannot be read
    NoSha256,        // a file section has no SHA256
    NoSize,          // a file section has no plain SIZE
};

// The whole check of one manifest asked for at strTarget: signature of it for
// strTarget by one of vecKeys (none: nothing verifies), Expires not before nNow, Signed not older than
// strNewestAccepted (a time as above; empty when nothing was accepted yet),
// SHA256 and a plain SIZE in every file section. sig receives the parsed signature.
ESignatureCheck CheckManifestSignature(const std::string& strManifest, const std::string& strSignatureText,
                                       const std::string& strTarget, EManifestLayout layout, const std::vector<CEcdsaP256PublicKey>& vecKeys,
                                       long long nNow, const std::string& strNewestAccepted, S_ManifestSignature& sig);

// The same for the file strManifestPath and strManifestPath + ".sig". An
// empty strTarget takes the .sig's own Target (for tools only).
ESignatureCheck VerifyManifestFile(const std::string& strManifestPath, const std::string& strTarget,
                                   EManifestLayout layout,
                                   const std::vector<CEcdsaP256PublicKey>& vecKeys, long long nNow,
                                   const std::string& strNewestAccepted, S_ManifestSignature& sig);

// A short English reason ("valid" for Valid), for UpdateTool.
const char* SignatureCheckText(ESignatureCheck result);
