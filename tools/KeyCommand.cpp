// keygen and pubkey: the publisher's key pair.
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/base/Text.h"
#include "platform/crypto/EcdsaP256.h"
#include "platform/crypto/PrivateKeyFile.h"
#include "tools/ManifestSigning.h"
#include "tools/ToolCommands.h"
#include "tools/ToolConsole.h"

int RunKeygenCommand(int argc, char** argv) {
    if (argc != 1) {
        ToolPrintf(stderr, "UpdateTool keygen: expected one PRIVATE_KEY_FILE (usage: keygen PRIVATE_KEY_FILE)\n");
        return 2;
    }
    const std::string strPath = argv[0];
    // An option given by mistake ("--help") must never become the key file's name.
    if (strPath.size() > 1 && strPath[0] == '-') {
        ToolPrintf(stderr, "UpdateTool keygen: unknown option %s (usage: keygen PRIVATE_KEY_FILE)\n", strPath.c_str());
        return 2;
    }
    // Checked before the work too, so the common mistake costs nothing; the
    // exclusive creation below is what really guarantees it.
    if (GetFileAttributesW(Utf8ToWide(strPath).c_str()) != INVALID_FILE_ATTRIBUTES) {
        ToolPrintf(stderr, "UpdateTool keygen: %s already exists (never overwritten)\n", strPath.c_str());
        return 2;
    }
    CEcdsaP256PrivateKey key;
    if (!key.Generate()) {
        ToolPrintf(stderr, "UpdateTool keygen: cannot generate a P-256 key pair\n");
        return 1;
    }
    switch (WritePrivateKeyFile(strPath, key)) {
    case EKeyFileWrite::Written: break;
    case EKeyFileWrite::Exists:
        ToolPrintf(stderr, "UpdateTool keygen: %s already exists (never overwritten)\n", strPath.c_str());
        return 2;
    case EKeyFileWrite::Failed:
        ToolPrintf(stderr, "UpdateTool keygen: cannot create %s\n", strPath.c_str());
        return 1;
    }
    ToolPrintf(stdout, "%s\n", PublicKeyText(key.PublicPoint()).c_str());
    return 0;
}

int RunPubkeyCommand(int argc, char** argv) {
    if (argc != 1) {
        ToolPrintf(stderr, "UpdateTool pubkey: expected one PRIVATE_KEY_FILE (usage: pubkey PRIVATE_KEY_FILE)\n");
        return 2;
    }
    CEcdsaP256PrivateKey key;
    if (!LoadSigningKey("pubkey", argv[0], key)) return 1;
    ToolPrintf(stdout, "%s\n", PublicKeyText(key.PublicPoint()).c_str());
    return 0;
}
