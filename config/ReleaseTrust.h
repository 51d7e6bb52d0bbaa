#pragma once
// What an installation trusts of the releases it is offered, from its
// Config.dat: [Update] PublicKey (one or two key lines, comma-separated; see
// platform/crypto/EcdsaP256.h) and [Signature], one key per manifest holding
// the newest "Signed" time this installation accepted for it.
#include <string>
#include <vector>

#include "platform/crypto/EcdsaP256.h"

enum class ETrust {
    Unsigned,   // no PublicKey: manifests are taken as they come, as always
    Signed,     // every manifest must be signed by one of vecKeys
    Broken,     // a PublicKey that is not one or two curve points, or a Config.dat
                // that cannot be read: no update at all, never "no checks"
};

struct S_ReleaseTrust {
    ETrust eTrust = ETrust::Unsigned;
    std::vector<CEcdsaP256PublicKey> vecKeys;
    bool bConfigDamaged = false;   // Broken because Config.dat itself cannot be read, not its PublicKey
};

// From strAppPath + "Config.dat". A PublicKey present but empty is Broken.
S_ReleaseTrust ReadReleaseTrust(const std::string& strAppPath);

// [Signature] strRecordName of Config.dat; empty when nothing was accepted yet.
std::string ReadAcceptedSigned(const std::string& strAppPath, const std::string& strRecordName);
// Stores strSigned there. True when stored.
bool WriteAcceptedSigned(const std::string& strAppPath, const std::string& strRecordName, const std::string& strSigned);
