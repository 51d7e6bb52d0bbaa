#pragma once
// Sealing of the encrypted configuration files: AES-256-GCM through BCrypt.
//
// Layout (little-endian):
//   0  4  magic "QCFG"
//   4  2  format version (1)
//   6  2  reserved, 0
//   8 12  nonce, random for every seal
//  20 16  GCM tag
//  36  .  cipher text of the INI text
// The first 8 bytes are authenticated with the text, so a changed header fails too.
// The key is SHA-256 over a fixed product salt and the key argument (empty: the
// product's built-in secret).
#include <string>

enum class ConfigOpenResult {
    Opened,
    BadHeader,        // too short, wrong magic, reserved bits set
    UnknownVersion,   // written by a newer format
    Unauthentic,      // wrong key, or the bytes were changed or cut
    CryptoFailure,    // BCrypt itself failed
};

bool SealConfigText(const std::string& strKeyArgument, const std::string& strPlain, std::string& strSealed);
ConfigOpenResult OpenConfigText(const std::string& strKeyArgument, const std::string& strSealed, std::string& strPlain);
