// UpdateTool: support tool for the update servers' publishers and for support
// staff. A small dispatcher over subcommands; arguments are narrow (code page 936).
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>

#include "tools/ManifestCommand.h"
#include "tools/ToolCommands.h"

namespace {

struct ToolCommand {
    const char* pszName;
    int (*pfnRun)(int argc, char** argv);
    const char* pszUsage;
};

// One line per subcommand.
const ToolCommand kCommands[] = {
    {"config", RunConfigCommand, "config dump|get|set|import FILE ..."},
    {"md5", RunMd5Command, "md5 FILE"},
    {"manifest", RunManifestCommand, "manifest program|data DIR ... [--key PRIVATE_KEY_FILE [--expires DAYS]]"},
    {"keygen", RunKeygenCommand, "keygen PRIVATE_KEY_FILE"},
    {"pubkey", RunPubkeyCommand, "pubkey PRIVATE_KEY_FILE"},
    {"sign", RunSignCommand, "sign MANIFEST --key PRIVATE_KEY_FILE [--expires DAYS]"},
    {"verify", RunVerifyCommand, "verify MANIFEST PUBLIC_KEY"},
};

int Usage() {
    std::fprintf(stderr, "usage: UpdateTool");
    const char* pszSeparator = " ";
    for (const ToolCommand& command : kCommands) {
        std::fprintf(stderr, "%s%s", pszSeparator, command.pszUsage);
        pszSeparator = " | ";
    }
    std::fprintf(stderr, "\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    // GBK text goes out exactly as stored: no "\n" to "\r\n" translation.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stdin), _O_BINARY);
    if (argc < 2) return Usage();
    for (const ToolCommand& command : kCommands) {
        if (std::strcmp(argv[1], command.pszName) == 0) return command.pfnRun(argc - 2, argv + 2);
    }
    return Usage();
}
