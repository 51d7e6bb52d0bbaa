#pragma once
// The signature of a manifest, in a file beside it named after it with ".sig"
// appended ("UpdateConfig.ini.sig", "config.ini.sig"), an INI text:
//
//   [Signature]
//   Signed=2026-12-08T09:30:00Z      UTC time of signing
//   Expires=2027-03-08T09:30:00Z     optional
//   Value=<base64 of the 64 bytes r || s>
//
// Value is an ECDSA P-256 signature of the SHA-256 of the bytes
//   "QOVA-SIG-1\n" + Signed + "\n" + Expires (empty when absent) + "\n" + the manifest file's exact bytes,
// so the times cannot be changed without the key either. Times are exactly
// "YYYY-MM-DDTHH:MM:SSZ" (UTC, no fractions, no other offsets).
//
// A signed manifest also gives every file section a "SHA256" (64 hexadecimal
// digits): MD5 alone does not pin a file's contents.
#include <string>
#include <vector>

#include "platform/crypto/EcdsaP256.h"

extern const char kSignatureSuffix[];   // ".sig"

struct S_ManifestSignature {
    std::string strSigned;    // the times as written
    std::string strExpires;   // empty when absent
    std::string strValue;     // base64
};

// Seconds since 1970-01-01T00:00:00Z of a strict "YYYY-MM-DDTHH:MM:SSZ"
// (a real calendar date, leap years counted; hours 00-23; year from 1970).
bool ParseUtcTime(const std::string& strText, long long& nSeconds);
std::string FormatUtcTime(long long nSeconds);
long long CurrentUtcTime();

// The bytes whose SHA-256 the signature signs.
std::string SignedMessage(const std::string& strSigned, const std::string& strExpires, const std::string& strManifest);

std::string SignatureText(const S_ManifestSignature& sig);
// True when the text has [Signature] with a well-formed Signed, Expires (if
// present and not empty) and a Value of 64 bytes. Says nothing of the key.
bool ParseSignatureText(const std::string& strText, S_ManifestSignature& sig);

// Signs the manifest's bytes at nSigned, valid until nExpires (negative: no expiry).
bool SignManifest(const std::string& strManifest, const CEcdsaP256PrivateKey& key, long long nSigned,
                  long long nExpires, S_ManifestSignature& sig);

// Which sections of a manifest describe files.
enum class EManifestLayout {
    Program,   // "UpdateConfig.ini": the sections the keys of "FILES" name
    Data,      // "config.ini": every section
};

// strSection := the first file section without a "SHA256" of 64 hexadecimal
// digits (either letter case); false when every file section has one.
bool FindSectionWithoutSha256(const std::string& strManifest, EManifestLayout layout, std::string& strSection);

enum class ESignatureCheck {
    Valid,
    NoManifest,      // the manifest cannot be read
    NoSignature,     // no ".sig" beside it, or it cannot be read
    Malformed,       // the ".sig" is not the text above
    BadSignature,    // no key of the list signed these bytes and times
    Expired,         // Expires has passed
    Replayed,        // Signed is older than the newest one accepted before
    BadRecord,       // the newest accepted time on record cannot be read
    NoSha256,        // a file section has no SHA256
};

// The whole check of one manifest: signature by one of vecKeys (none: nothing
// verifies), Expires not before nNow, Signed not older than
// strNewestAccepted (a time as above; empty when nothing was accepted yet),
// SHA256 in every file section. sig receives the parsed signature.
ESignatureCheck CheckManifestSignature(const std::string& strManifest, const std::string& strSignatureText,
                                       EManifestLayout layout, const std::vector<CEcdsaP256PublicKey>& vecKeys,
                                       long long nNow, const std::string& strNewestAccepted, S_ManifestSignature& sig);

// The same for the file strManifestPath and strManifestPath + ".sig".
ESignatureCheck VerifyManifestFile(const std::string& strManifestPath, EManifestLayout layout,
                                   const std::vector<CEcdsaP256PublicKey>& vecKeys, long long nNow,
                                   const std::string& strNewestAccepted, S_ManifestSignature& sig);

// A short English reason ("valid" for Valid), for UpdateTool.
const char* SignatureCheckText(ESignatureCheck result);
