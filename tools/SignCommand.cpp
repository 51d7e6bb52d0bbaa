// sign and verify: a manifest's ".sig".
#include <cstdio>
#include <string>
#include <vector>

#include "manifest/ManifestSignature.h"
#include "platform/base/Text.h"
#include "platform/fs/FileContents.h"
#include "platform/crypto/EcdsaP256.h"
#include "tools/ManifestSigning.h"
#include "tools/ToolCommands.h"
#include "tools/ToolConsole.h"

namespace {

int SignUsage(const char* pszWhy) {
    ToolPrintf(stderr, "UpdateTool sign: %s (usage: sign MANIFEST --key PRIVATE_KEY_FILE [--expires DAYS])\n",
                 pszWhy);
    return 2;
}

}  // namespace

int RunSignCommand(int argc, char** argv) {
    if (argc < 1) return SignUsage("missing MANIFEST");
    const std::string strManifestPath = argv[0];
    std::string strKeyPath;
    int nExpiryDays = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string strOption = argv[i];
        if (i + 1 >= argc) return SignUsage(("missing value after " + strOption).c_str());
        const char* pszValue = argv[++i];
        if (strOption == "--key") {
            strKeyPath = pszValue;
        } else if (strOption == "--expires") {
            if (!ParseExpiryDays(pszValue, nExpiryDays)) return SignUsage("--expires needs a number of days (1-36500)");
        } else {
            return SignUsage(("unknown option " + strOption).c_str());
        }
    }
    if (strKeyPath.empty()) return SignUsage("--key is required");

    CEcdsaP256PrivateKey key;
    if (!LoadSigningKey("sign", strKeyPath, key)) return 1;
    std::string strManifest;
    if (ReadWholeFile(strManifestPath, strManifest) != FileReadResult::Read) {
        ToolPrintf(stderr, "UpdateTool sign: cannot read %s\n", strManifestPath.c_str());
        return 1;
    }
    // Clients refuse a signed manifest with a file they cannot pin: say so now.
    std::string strSection;
    if (FindSectionWithoutSha256(strManifest, GuessManifestLayout(strManifestPath, strManifest), strSection)) {
        std::string strShown;   // the section name as stored: GBK
        if (!GbkToUtf8(strSection, strShown)) strShown = strSection;
        ToolPrintf(stderr, "UpdateTool sign: %s: file section without SHA256: %s\n", strManifestPath.c_str(),
                   strShown.c_str());
        return 1;
    }
    S_ManifestSignature sig;
    if (!WriteSignatureBeside("sign", strManifestPath, strManifest, key, nExpiryDays, sig)) return 1;
    ToolPrintf(stdout, "%s%s: Signed=%s Expires=%s\n", strManifestPath.c_str(), kSignatureSuffix, sig.strSigned.c_str(),
                sig.strExpires.empty() ? "(never)" : sig.strExpires.c_str());
    return 0;
}

int RunVerifyCommand(int argc, char** argv) {
    if (argc != 2) {
        ToolPrintf(stderr, "UpdateTool verify: expected MANIFEST PUBLIC_KEY (usage: verify MANIFEST PUBLIC_KEY)\n");
        return 2;
    }
    const std::string strManifestPath = argv[0];
    std::vector<CEcdsaP256PublicKey> vecKeys;
    if (!ParsePublicKeyList(argv[1], vecKeys)) {
        ToolPrintf(stderr, "UpdateTool verify: PUBLIC_KEY is not one or two base64 P-256 key lines "
                             "separated by a comma\n");
        return 2;
    }
    std::string strManifest;
    ReadWholeFile(strManifestPath, strManifest);   // unreadable: the check below says so
    S_ManifestSignature sig;
    const ESignatureCheck result = VerifyManifestFile(strManifestPath, GuessManifestLayout(strManifestPath, strManifest),
                                                      vecKeys, CurrentUtcTime(), std::string(), sig);
    if (result != ESignatureCheck::Valid) {
        ToolPrintf(stdout, "not valid: %s\n", SignatureCheckText(result));
        return 1;
    }
    ToolPrintf(stdout, "valid\n");
    return 0;
}
