#pragma once
// The cheaper ways to a file that a manifest may list beside the file itself:
// binary patches from earlier releases of it and a compressed copy
// (docs/patches.md). Keys of the file's section, read by clients that know
// them and ignored by those that do not:
//
//   COPYSIZE=<bytes>          COPYDIGEST=<digest>
//   PATCH1BASE=<digest of the file the patch applies to>
//   PATCH1SIZE=<bytes>        PATCH1DIGEST=<digest>
//   PATCH2BASE=...            (numbered from 1 without gaps, at most kMaxFilePatches)
//
// Digests are lower-case hexadecimal, all of one kind in a section: SHA-256
// (64 digits) in a signed release, MD5 (32) otherwise, the same kind the client
// compares installed files with (a client that checks signatures takes only
// SHA-256 ones: eDigest says which). Each way is published at the name
// DeltaRemoteName gives, below the kind's folder, named after its digest.
#include <functional>
#include <string>
#include <vector>

class IniDocument;

constexpr unsigned kMaxFilePatches = 16;

enum class EDeltaDigest { None, Md5, Sha256 };

struct S_DeltaWay {
    std::string strBase;            // patch: digest of the file it applies to; empty for the copy
    unsigned long long nSize = 0;   // bytes of the patch or copy
    std::string strDigest;          // digest of the patch or copy
    std::string strRemoteName;      // what the client asks the server for (DeltaRemoteName)
};

struct S_FileDelta {
    EDeltaDigest eDigest = EDeltaDigest::None;   // None: no patch and no copy listed
    std::vector<S_DeltaWay> vecPatches;         // in manifest order
    bool bHasCopy = false;
    S_DeltaWay copy;
};

enum class EDeltaWayKind { Patch, Copy };

// "UPDATE\delta\<digest>.patch" or "UPDATE\delta\<digest>.zst": below UPDATE\,
// which no release may list (manifest/ReleaseNames.h), so a published way never
// clashes with a file of any release and one folder serves every release.
std::string DeltaRemoteName(EDeltaWayKind kind, const std::string& strDigest);
constexpr char kDeltaFolder[] = "UPDATE\\delta\\";

// Looks up one key of the file's section: nullptr when absent.
using FindSectionValue = std::function<const std::string*(const std::string& strKey)>;

// Reads the keys above strictly. A section without any of them gives an empty
// delta; one with a malformed, partial or inconsistent key (a digest that is
// not hex of the right length, digests of two kinds, a size that is not a
// decimal number, zero, or not below strFileSize, a patch missing one of its
// three keys) also gives an empty delta and returns false: the file then comes
// whole, as it always could.
bool ReadFileDelta(const FindSectionValue& find, const std::string& strFileSize, S_FileDelta& delta);

// Writes the keys of delta into strSection (nothing for an empty delta).
void SetFileDeltaKeys(IniDocument& doc, const std::string& strSection, const S_FileDelta& delta);
