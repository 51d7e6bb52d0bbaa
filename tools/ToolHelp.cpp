#include "tools/ToolHelp.h"

#include <cstring>

namespace {

struct HelpText {
    const char* pszCommand;
    const char* pszText;
};

const HelpText kHelp[] = {
    {"config",
     "usage: UpdateTool config dump FILE\n"
     "       UpdateTool config get FILE SECTION KEY\n"
     "       UpdateTool config set FILE SECTION KEY VALUE\n"
     "       UpdateTool config import FILE   (the INI text on standard input, GBK)\n"
     "Reads and edits an encrypted Config.dat or UserConfig.dat. get exits 1 when the key is missing.\n"
     "example: UpdateTool config set Config.dat Update ServerIP update.example.com\n"},
    {"md5",
     "usage: UpdateTool md5 FILE\n"
     "Prints the file's MD5 digest as the manifest holds it.\n"
     "example: UpdateTool md5 release\\bin\\a.dll\n"},
    {"manifest",
     "usage: UpdateTool manifest program DIR --version V --region R [options]\n"
     "       UpdateTool manifest data DIR [options]\n"
     "  --version V          program: the release's version (required)\n"
     "  --region R           program: its region (required; --region \"\" for none)\n"
     "  --unconditional N    program: 1 offers the files even when the version is not greater\n"
     "  --notify N           program: 1 shows the notification after a silent update\n"
     "  --rollout PERCENT    program: silent updates install it on PERCENT (0-100) of the\n"
     "                       installations, each by a number it drew once; 0 halts the release;\n"
     "                       the update dialog offers it to everyone (default: 100, no key)\n"
     "  -o OUT               the manifest's path (default DIR\\UpdateConfig.ini or DIR\\config.ini)\n"
     "  --key FILE           sign with this private key (needs --kind)\n"
     "  --kind N             the update kind the manifest is served under (required with --key)\n"
     "  --expires DAYS       the signature expires after DAYS days (with --key)\n"
     "  --exclude PATTERN    leave out files (or folders) matching PATTERN: * and ?, case-blind,\n"
     "                       against the path below DIR with \\; repeatable\n"
     "  --delta-from OLD_DIR an earlier release: patches from its files to those that changed,\n"
     "                       and a compressed copy of every file, kept when they save 10 %;\n"
     "                       written to DIR\\UPDATE\\delta\\ (repeatable, up to 16)\n"
     "Never listed: Config.dat, UserConfig.dat, UpdateRecord.dat, UPDATE\\..., *.bak, *.part,\n"
     "*.part.tag, Thumbs.db, desktop.ini, *.sig (each named on standard error).\n"
     "example: UpdateTool manifest program release --version 4.0.1008.0801 --region CN --key D:\\keys\\qova.pem "
     "--kind 1 --expires 90\n"},
    {"keygen",
     "usage: UpdateTool keygen PRIVATE_KEY_FILE\n"
     "Makes a new key pair: the private key into the new file (never overwritten), the public key\n"
     "line to standard output.\n"
     "example: UpdateTool keygen D:\\keys\\qova.pem\n"},
    {"pubkey",
     "usage: UpdateTool pubkey PRIVATE_KEY_FILE\n"
     "Prints the public key line of a private key file again.\n"
     "example: UpdateTool pubkey D:\\keys\\qova.pem\n"},
    {"sign",
     "usage: UpdateTool sign MANIFEST --key PRIVATE_KEY_FILE --kind N [--expires DAYS]\n"
     "  --key FILE           the private key (required)\n"
     "  --kind N             the update kind the manifest is served under (required)\n"
     "  --expires DAYS       the signature expires after DAYS days\n"
     "Writes MANIFEST.sig.\n"
     "example: UpdateTool sign release\\UpdateConfig.ini --key D:\\keys\\qova.pem --kind 1 --expires 90\n"},
    {"verify",
     "usage: UpdateTool verify MANIFEST|DIR PUBLIC_KEY [--kind N] [--exclude PATTERN]...\n"
     "  --kind N             check the signature for the path of this update kind\n"
     "  --exclude PATTERN    files left out with manifest --exclude: not reported as not listed\n"
     "Checks MANIFEST.sig against one or two public key lines (comma-separated), then the folder:\n"
     "every listed file there with its SIZE and digests, every file there listed.\n"
     "example: UpdateTool verify release\\UpdateConfig.ini <public key line> --kind 1\n"},
    {"check",
     "usage: UpdateTool check URL --kind N [--public-key LINE] [--data]\n"
     "  URL                  the mirror: http://host[:port] or https://host[:port] (clients ask for /<kind>/<name> below it)\n"
     "  --kind N             the update kind the release is published under (required)\n"
     "  --public-key LINE    the key line(s) of Config.dat: the signature must be valid for the path\n"
     "  --data               a data set's release (config.ini) instead of the program's (UpdateConfig.ini)\n"
     "Fetches the manifest, its .sig and every listed file, patch and compressed copy as a client\n"
     "would (same transport, bounds and connections), and prints one line per problem: missing,\n"
     "stale (an earlier release's file), wrong size, not the manifest's digest, a web page, a\n"
     "signature that is not valid for the path. Exit 0 only when the mirror serves the release\n"
     "exactly (signed, with --public-key), 1 otherwise, 2 for a usage error.\n"
     "example: UpdateTool check http://update.example.com:8080 --kind 1 --public-key <public key line>\n"},
    {"patch",
     "usage: UpdateTool patch make OLD NEW OUT | patch apply OLD PATCH OUT\n"
     "  make                 writes a patch that turns OLD into NEW, and prints its size\n"
     "  apply                applies PATCH to OLD into OUT, as the client would\n"
     "example: UpdateTool patch make old\\bin\\a.dll release\\bin\\a.dll a.dll.patch\n"},
    {"compress",
     "usage: UpdateTool compress IN OUT\n"
     "Writes a compressed copy of IN (a zstd frame, which zstd -d reads too).\n"
     "example: UpdateTool compress release\\bin\\a.dll a.dll.zst\n"},
    {"decompress",
     "usage: UpdateTool decompress IN OUT SIZE\n"
     "Decompresses a compressed copy into OUT; fails when it would be longer than SIZE bytes.\n"
     "example: UpdateTool decompress a.dll.zst a.dll 1048576\n"},
};

}  // namespace

const char* CommandHelpText(const char* pszCommand) {
    for (const HelpText& help : kHelp) {
        if (std::strcmp(help.pszCommand, pszCommand) == 0) return help.pszText;
    }
    return nullptr;
}
