#pragma once
// The ways a signed release can reach an installation, shared by the tests of
// the three roads (silent program update, silent data update, update dialog):
// each test publishes its release, then lets PrepareSignedCase sign it and set
// up the installation for one case.
#include <string>
#include <vector>

#include "support/Installation.h"

enum class ESigned {
    Good,                  // signed by the installation's key: installs
    NoSignature,           // no .sig published
    ManifestByteChanged,   // one byte of the manifest changed after signing
    OtherKey,              // a valid signature, by another key
    OtherManifest,         // a valid signature by the key, of another manifest's path (a data set's)
    Expired,               // Expires has passed
    Replayed,              // signed before the newest signature this installation accepted
    Md5Collision,          // one file served with other bytes of its size, the manifest's
                           // MD5 made to match them (as a collision would), SHA256 the good file's
    NoSha256,              // one file section without SHA256, signed that way
    NoSize,                // one file section whose SIZE is not a plain number ("+N"), signed that way
    MalformedKey,          // PublicKey is not a key line: no update at all
    NoKey,                 // no PublicKey (the release is signed all the same): as before
};

struct S_SignedCase {
    const char* pszName;
    ESigned eCase;
};

// Every case, in a fixed order.
const std::vector<S_SignedCase>& SignedCases();

// Signs strKindDir + strManifestName of the published release (strKindDir:
// the release's kind directory, ending in '\') as the case wants, sets
// Config.dat's PublicKey and, for Replayed, the [Signature] strRecordName
// record (an hour ago; the manifest is signed two hours ago). strSubstitute names a file of the release for Md5Collision.
// *pstrSigned receives the Signed time written, to compare with the record.
bool PrepareSignedCase(const TestInstallation& inst, ESigned eCase, const std::string& strKindDir,
                       const std::string& strManifestName, const std::string& strRecordName,
                       const std::string& strSubstitute, std::string* pstrSigned);

// True when the case ends with the release installed.
inline bool Installs(ESigned eCase) { return eCase == ESigned::Good || eCase == ESigned::NoKey; }

// The requests the case makes up to and including its manifest's .sig:
// nothing for MalformedKey, the manifest alone for NoKey, both otherwise.
std::vector<std::string> ManifestRequests(ESigned eCase, const std::string& strManifestUrl);

// What [Signature] strRecordName must hold after the run: the new Signed
// after a signed installation, otherwise what it held before.
std::string ExpectedRecord(ESigned eCase, const std::string& strSigned, const std::string& strBefore);

// Publishes with the real UpdateTool: "manifest <vecArgs...> --delta-from
// strOldDir", with bSign signed by the installation's key for nKind
// (Config.dat's PublicKey set to it); ResignWithTool signs again after an edit.
bool PublishWithPatches(const TestInstallation& inst, std::vector<std::string> vecArgs, const std::string& strOldDir,
                        int nKind, bool bSign = true);
bool ResignWithTool(const TestInstallation& inst, const std::string& strManifest, int nKind);
// Text that compresses and patches like a program's code ("call N; " repeated);
// bLater: as a later release has it, a few hundred bytes changed and some inserted.
std::string ProgramLikeBytes(unsigned nSeed, size_t cb, bool bLater);
