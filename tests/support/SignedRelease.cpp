#include "support/SignedRelease.h"

#include "manifest/ManifestSignature.h"
#include "platform/crypto/EcdsaP256.h"
#include "platform/crypto/PrivateKeyFile.h"
#include "support/TempDir.h"

#include <random>

namespace {

const long long kHour = 3600;
const long long kDay = 24 * kHour;
// The newest signature the installation accepted before, for Replayed.
const long long kRecordedAgo = 1 * kHour;

enum EKey { kGood, kOther, kRetired };

// Made once per test program: the publisher's key, someone else's, and a
// retired key of the publisher that installations still list.
const CEcdsaP256PrivateKey& Key(EKey eKey) {
    static CEcdsaP256PrivateKey s_keys[3];
    static const bool s_bGenerated = s_keys[0].Generate() && s_keys[1].Generate() && s_keys[2].Generate();
    (void)s_bGenerated;
    return s_keys[eKey];
}

bool Replace(std::string& strText, const std::string& strFrom, const std::string& strTo) {
    const size_t nAt = strText.find(strFrom);
    if (nAt == std::string::npos) return false;
    strText.replace(nAt, strFrom.size(), strTo);
    return true;
}

}  // namespace

const std::vector<S_SignedCase>& SignedCases() {
    static const std::vector<S_SignedCase> s_cases = {
        {"signed release installs", ESigned::Good},
        {".sig missing", ESigned::NoSignature},
        {"one byte of the manifest changed", ESigned::ManifestByteChanged},
        {"valid signature by another key", ESigned::OtherKey},
        {"another manifest's signed pair served in its place", ESigned::OtherManifest},
        {"expired", ESigned::Expired},
        {"older signed manifest replayed", ESigned::Replayed},
        {"file with the manifest's MD5 but other content", ESigned::Md5Collision},
        {"file section without SHA256", ESigned::NoSha256},
        {"file section without a plain SIZE", ESigned::NoSize},
        {"malformed PublicKey", ESigned::MalformedKey},
        {"no PublicKey", ESigned::NoKey},
    };
    return s_cases;
}

bool PrepareSignedCase(const TestInstallation& inst, ESigned eCase, const std::string& strKindDir,
                       const std::string& strManifestName, const std::string& strRecordName,
                       const std::string& strSubstitute, std::string* pstrSigned) {
    const std::string strManifestPath = strKindDir + strManifestName;
    std::string strManifest = ReadFileBytes(strManifestPath);
    if (strManifest.empty()) return false;

    if (eCase == ESigned::Md5Collision) {
        const std::string strGood = ReadFileBytes(strKindDir + strSubstitute);
        std::string strBad = strGood;
        if (strBad.empty()) return false;
        strBad[0] = strBad[0] == 'X' ? 'Y' : 'X';   // same size: only the digests can tell
        if (!WriteFileBytes(strKindDir + strSubstitute, strBad) ||
            !Replace(strManifest, "MD5=" + Md5Hex(strGood), "MD5=" + Md5Hex(strBad))) {
            return false;
        }
    }
    if (eCase == ESigned::NoSha256 && !Replace(strManifest, "SHA256=", "SHA-256=")) return false;
    if (eCase == ESigned::NoSize && !Replace(strManifest, "SIZE=", "SIZE=+")) return false;

    const long long nNow = CurrentUtcTime();
    long long nSigned = nNow - kHour;
    long long nExpires = nNow + 30 * kDay;
    if (eCase == ESigned::Expired) {
        nSigned = nNow - 40 * kDay;
        nExpires = nNow - 10 * kDay;
    }
    if (eCase == ESigned::Replayed) nSigned = nNow - 2 * kRecordedAgo;
    // The path the client asks for: "/<kind>/<name>", the kind being the directory's name.
    std::string strKind = strKindDir.substr(0, strKindDir.size() - 1);
    strKind = strKind.substr(strKind.find_last_of('\\') + 1);
    std::string strTarget = "/" + strKind + "/" + strManifestName;
    // Every manifest a publisher signed is public: a data set's pair, or another data set's.
    if (eCase == ESigned::OtherManifest) strTarget = strTarget == "/3/config.ini" ? "/4/config.ini" : "/3/config.ini";
    S_ManifestSignature sig;
    if (!SignManifest(strManifest, strTarget, Key(eCase == ESigned::OtherKey ? kOther : kGood), nSigned, nExpires,
                      sig)) {
        return false;
    }
    if (pstrSigned) *pstrSigned = sig.strSigned;

    if (eCase == ESigned::ManifestByteChanged && !Replace(strManifest, "10:00:00", "10:00:01")) return false;
    if (!WriteFileBytes(strManifestPath, strManifest)) return false;
    if (eCase != ESigned::NoSignature && !WriteFileBytes(strManifestPath + kSignatureSuffix, SignatureText(sig))) {
        return false;
    }

    const std::string strKeyLine = PublicKeyText(Key(kGood).PublicPoint());
    if (eCase == ESigned::MalformedKey) return inst.SetConfig("Update", "PublicKey", strKeyLine.substr(0, 60));
    if (eCase == ESigned::Replayed &&
        !inst.SetConfig("Signature", strRecordName, FormatUtcTime(nNow - kRecordedAgo))) {
        return false;
    }
    // Two key lines, the current one second: a signature by either is accepted.
    return eCase == ESigned::NoKey ||
           inst.SetConfig("Update", "PublicKey", PublicKeyText(Key(kRetired).PublicPoint()) + "," + strKeyLine);
}

std::vector<std::string> ManifestRequests(ESigned eCase, const std::string& strManifestUrl) {
    if (eCase == ESigned::MalformedKey) return {};
    if (eCase == ESigned::NoKey) return {strManifestUrl};
    return {strManifestUrl, strManifestUrl + kSignatureSuffix};
}

std::string ExpectedRecord(ESigned eCase, const std::string& strSigned, const std::string& strBefore) {
    return eCase == ESigned::Good ? strSigned : strBefore;
}

bool PublishWithPatches(const TestInstallation& inst, std::vector<std::string> vecArgs, const std::string& strOldDir,
                        int nKind, bool bSign) {
    WritePrivateKeyFile(inst.Temp("publisher.pem"), Key(kGood));   // an existing file holds the same key
    vecArgs.insert(vecArgs.begin(), "manifest");
    vecArgs.insert(vecArgs.end(), {"--delta-from", strOldDir});
    if (bSign) vecArgs.insert(vecArgs.end(), {"--key", inst.Temp("publisher.pem"), "--kind", std::to_string(nKind)});
    return inst.RunTool(vecArgs) == 0 &&
           (!bSign || inst.SetConfig("Update", "PublicKey", PublicKeyText(Key(kGood).PublicPoint())));
}

bool ResignWithTool(const TestInstallation& inst, const std::string& strManifest, int nKind) {
    return inst.RunTool({"sign", strManifest, "--key", inst.Temp("publisher.pem"), "--kind", std::to_string(nKind)}) == 0;
}

std::string ProgramLikeBytes(unsigned nSeed, size_t cb, bool bLater) {
    std::mt19937 random(nSeed);
    std::string strBytes;
    while (strBytes.size() < cb + (bLater ? 300 : 0)) strBytes += "call " + std::to_string(random() % 5000) + "; ";
    if (bLater) strBytes.replace(cb / 10, 300, strBytes.substr(cb, 300)).insert(cb / 2, "inserted code; ");
    return strBytes.substr(0, bLater ? cb + 15 : cb);
}
