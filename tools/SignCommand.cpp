// sign and verify: a manifest's ".sig".
#include <windows.h>
#include <shlwapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "manifest/ManifestSignature.h"
#include "platform/fs/FileContents.h"
#include "platform/crypto/EcdsaP256.h"
#include "tools/ManifestSigning.h"
#include "tools/ToolCommands.h"

namespace {

int SignUsage(const char* pszWhy) {
    std::fprintf(stderr, "UpdateTool sign: %s (usage: sign MANIFEST --key PRIVATE_KEY_FILE --kind N [--expires DAYS])\n",
                 pszWhy);
    return 2;
}

int VerifyUsage(const char* pszWhy) {
    std::fprintf(stderr, "UpdateTool verify: %s (usage: verify MANIFEST PUBLIC_KEY [--kind N])\n", pszWhy);
    return 2;
}

// The Target a manifest at this path is served at with update kind nKind: its file name below the kind.
std::string TargetOfFile(int nKind, const std::string& strManifestPath) {
    return ManifestTarget(nKind, PathFindFileNameA(strManifestPath.c_str()));
}

}  // namespace

int RunSignCommand(int argc, char** argv) {
    if (argc < 1) return SignUsage("missing MANIFEST");
    const std::string strManifestPath = argv[0];
    std::string strKeyPath;
    int nExpiryDays = 0;
    int nKind = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string strOption = argv[i];
        if (i + 1 >= argc) return SignUsage(("missing value after " + strOption).c_str());
        const char* pszValue = argv[++i];
        if (strOption == "--key") {
            strKeyPath = pszValue;
        } else if (strOption == "--expires") {
            if (!ParseExpiryDays(pszValue, nExpiryDays)) return SignUsage("--expires needs a number of days (1-36500)");
        } else if (strOption == "--kind") {
            if (!ParseUpdateKind(pszValue, nKind)) return SignUsage("--kind needs an update kind (1-65535)");
        } else {
            return SignUsage(("unknown option " + strOption).c_str());
        }
    }
    if (strKeyPath.empty()) return SignUsage("--key is required");
    // The signature names the path the manifest is served at: without the kind there is none.
    if (nKind == 0) return SignUsage("--kind is required");

    CEcdsaP256PrivateKey key;
    if (!LoadSigningKey("sign", strKeyPath, key)) return 1;
    std::string strManifest;
    if (ReadWholeFile(strManifestPath, strManifest) != FileReadResult::Read) {
        std::fprintf(stderr, "UpdateTool sign: cannot read %s\n", strManifestPath.c_str());
        return 1;
    }
    // Clients refuse a signed manifest with a file they cannot pin: say so now.
    std::string strSection;
    if (FindSectionWithoutSha256(strManifest, GuessManifestLayout(strManifestPath, strManifest), strSection)) {
        std::fprintf(stderr, "UpdateTool sign: %s: file section without SHA256: %s\n", strManifestPath.c_str(),
                     strSection.c_str());
        return 1;
    }
    S_ManifestSignature sig;
    if (strManifest.size() > kMaxManifestBytes) {
        std::fprintf(stderr, "UpdateTool sign: %s: larger than the %llu bytes clients accept\n",
                     strManifestPath.c_str(), kMaxManifestBytes);
        return 1;
    }
    if (!WriteSignatureBeside("sign", strManifestPath, strManifest, TargetOfFile(nKind, strManifestPath), key,
                              nExpiryDays, sig)) {
        return 1;
    }
    std::printf("%s%s: Target=%s Signed=%s Expires=%s\n", strManifestPath.c_str(), kSignatureSuffix,
                sig.strTarget.c_str(), sig.strSigned.c_str(), sig.strExpires.empty() ? "(never)" : sig.strExpires.c_str());
    return 0;
}

int RunVerifyCommand(int argc, char** argv) {
    if (argc != 2 && argc != 4) return VerifyUsage("expected MANIFEST PUBLIC_KEY");
    int nKind = 0;
    if (argc == 4 && (std::string(argv[2]) != "--kind" || !ParseUpdateKind(argv[3], nKind)))
        return VerifyUsage("--kind needs an update kind (1-65535)");
    const std::string strManifestPath = argv[0];
    std::vector<CEcdsaP256PublicKey> vecKeys;
    if (!ParsePublicKeyList(argv[1], vecKeys)) {
        std::fprintf(stderr, "UpdateTool verify: PUBLIC_KEY is not one or two base64 P-256 key lines "
                             "separated by a comma\n");
        return 2;
    }
    std::string strManifest;
    ReadWholeFile(strManifestPath, strManifest);   // unreadable: the check below says so
    std::string strSignatureText;
    ReadWholeFile(strManifestPath + kSignatureSuffix, strSignatureText);
    S_ManifestSignature claimed;
    if (ParseSignatureText(strSignatureText, claimed)) std::printf("Target: %s\n", claimed.strTarget.c_str());
    // With --kind, checked as the client checks it: against the path it asks for.
    const std::string strExpected = nKind ? TargetOfFile(nKind, strManifestPath) : std::string();
    if (!strExpected.empty() && !claimed.strTarget.empty() && claimed.strTarget != strExpected) {
        std::printf("not valid: signed for %s, served at %s\n", claimed.strTarget.c_str(), strExpected.c_str());
        return 1;
    }
    S_ManifestSignature sig;
    const ESignatureCheck result =
        VerifyManifestFile(strManifestPath, strExpected, GuessManifestLayout(strManifestPath, strManifest), vecKeys,
                           CurrentUtcTime(), std::string(), sig);
    if (result != ESignatureCheck::Valid) {
        std::printf("not valid: %s\n", SignatureCheckText(result));
        return 1;
    }
    std::printf("valid\n");
    return 0;
}
