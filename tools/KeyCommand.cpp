// keygen and pubkey: the publisher's key pair.
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/crypto/EcdsaP256.h"
#include "platform/crypto/PrivateKeyFile.h"
#include "tools/ManifestSigning.h"
#include "tools/ToolCommands.h"

int RunKeygenCommand(int argc, char** argv) {
    if (argc != 1) {
        std::fprintf(stderr, "UpdateTool keygen: expected one PRIVATE_KEY_FILE (usage: keygen PRIVATE_KEY_FILE)\n");
        return 2;
    }
    const std::string strPath = argv[0];
    // Checked before the work too, so the common mistake costs nothing; the
    // exclusive creation below is what really guarantees it.
    if (GetFileAttributesA(strPath.c_str()) != INVALID_FILE_ATTRIBUTES) {
        std::fprintf(stderr, "UpdateTool keygen: %s already exists (never overwritten)\n", strPath.c_str());
        return 2;
    }
    CEcdsaP256PrivateKey key;
    if (!key.Generate()) {
        std::fprintf(stderr, "UpdateTool keygen: cannot generate a P-256 key pair\n");
        return 1;
    }
    switch (WritePrivateKeyFile(strPath, key)) {
    case EKeyFileWrite::Written: break;
    case EKeyFileWrite::Exists:
        std::fprintf(stderr, "UpdateTool keygen: %s already exists (never overwritten)\n", strPath.c_str());
        return 2;
    case EKeyFileWrite::Failed:
        std::fprintf(stderr, "UpdateTool keygen: cannot create %s\n", strPath.c_str());
        return 1;
    }
    std::printf("%s\n", PublicKeyText(key.PublicPoint()).c_str());
    return 0;
}

int RunPubkeyCommand(int argc, char** argv) {
    if (argc != 1) {
        std::fprintf(stderr, "UpdateTool pubkey: expected one PRIVATE_KEY_FILE (usage: pubkey PRIVATE_KEY_FILE)\n");
        return 2;
    }
    CEcdsaP256PrivateKey key;
    if (!LoadSigningKey("pubkey", argv[0], key)) return 1;
    std::printf("%s\n", PublicKeyText(key.PublicPoint()).c_str());
    return 0;
}
