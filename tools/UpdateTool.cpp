// UpdateTool: support tool for the update servers' publishers and for support
// staff. A small dispatcher over subcommands; arguments are UTF-8 (tools/ToolConsole.h).
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/ManifestCommand.h"
#include "tools/ToolCommands.h"
#include "tools/ToolConsole.h"
#include "tools/ToolHelp.h"

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
    {"manifest", RunManifestCommand, "manifest program|data DIR ... [--rollout PERCENT] [--delta-from OLD_DIR]... [--key PRIVATE_KEY_FILE --kind N [--expires DAYS]]"},
    {"keygen", RunKeygenCommand, "keygen PRIVATE_KEY_FILE"},
    {"pubkey", RunPubkeyCommand, "pubkey PRIVATE_KEY_FILE"},
    {"sign", RunSignCommand, "sign MANIFEST --key PRIVATE_KEY_FILE --kind N [--expires DAYS]"},
    {"verify", RunVerifyCommand, "verify MANIFEST|DIR PUBLIC_KEY [--kind N] [--exclude PATTERN]..."},
    {"check", RunCheckCommand, "check URL --kind N [--public-key LINE] [--data]"},
    {"patch", RunPatchCommand, "patch make OLD NEW OUT | patch apply OLD PATCH OUT"},
    {"compress", RunCompressCommand, "compress IN OUT"},
    {"decompress", RunDecompressCommand, "decompress IN OUT SIZE"},
};

int Usage() {
    ToolPrintf(stderr, "usage: UpdateTool");
    const char* pszSeparator = " ";
    for (const ToolCommand& command : kCommands) {
        ToolPrintf(stderr, "%s%s", pszSeparator, command.pszUsage);
        pszSeparator = " | ";
    }
    ToolPrintf(stderr, "\n");
    return 2;
}

bool IsHelpOption(const char* pszArg) { return std::strcmp(pszArg, "--help") == 0 || std::strcmp(pszArg, "/?") == 0; }

// Help asked for: on standard output, exit 0.
int Help(const ToolCommand* pCommand) {
    if (pCommand) {
        const char* pszText = CommandHelpText(pCommand->pszName);
        if (pszText) {
            ToolPrintf(stdout, "%s", pszText);
        } else {
            ToolPrintf(stdout, "usage: UpdateTool %s\n", pCommand->pszUsage);
        }
        return 0;
    }
    ToolPrintf(stdout, "usage: UpdateTool COMMAND ...\n");
    for (const ToolCommand& command : kCommands) ToolPrintf(stdout, "  UpdateTool %s\n", command.pszUsage);
    ToolPrintf(stdout, "UpdateTool COMMAND --help (or UpdateTool help COMMAND) shows every option and an example.\n");
    return 0;
}

const ToolCommand* FindCommand(const char* pszName) {
    for (const ToolCommand& command : kCommands) {
        if (std::strcmp(pszName, command.pszName) == 0) return &command;
    }
    return nullptr;
}

}  // namespace

int main() {
    // GBK text goes out exactly as stored: no "\n" to "\r\n" translation.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stdin), _O_BINARY);
    // The C runtime's argv went through the system's code page: taken again from UTF-16.
    std::vector<std::string> vecArgs = ToolArguments();
    std::vector<char*> vecArgv;
    vecArgv.push_back(nullptr);   // the program name, never read
    for (std::string& strArg : vecArgs) vecArgv.push_back(&strArg[0]);
    vecArgv.push_back(nullptr);
    const int argc = static_cast<int>(vecArgs.size()) + 1;
    char** argv = vecArgv.data();
    if (argc < 2) return Usage();
    if (std::strcmp(argv[1], "help") == 0 || IsHelpOption(argv[1])) {
        if (argc == 2) return Help(nullptr);
        const ToolCommand* pCommand = FindCommand(argv[2]);
        return pCommand ? Help(pCommand) : Usage();
    }
    const ToolCommand* pCommand = FindCommand(argv[1]);
    if (!pCommand) return Usage();
    // Asked anywhere on a command's line, help is all that happens: nothing is read or written.
    for (int i = 2; i < argc; ++i) {
        if (IsHelpOption(argv[i])) return Help(pCommand);
    }
    return pCommand->pfnRun(argc - 2, argv + 2);
}
