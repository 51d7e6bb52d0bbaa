#include <cstdio>
#include <cstring>
#include <string>

#include "platform/base/Text.h"
#include "platform/ini/CryptConfigFile.h"
#include "platform/ini/IniDocument.h"
#include "tools/ToolCommands.h"
#include "tools/ToolConsole.h"

namespace {

int Usage(const char* pszWhy) {
    ToolPrintf(stderr,
                 "UpdateTool config: %s (usage: config dump FILE | get FILE SECTION KEY | "
                 "set FILE SECTION KEY VALUE | import FILE)\n",
                 pszWhy);
    return 2;
}

int Fail(const char* pszWhat, const char* pszPath) {
    ToolPrintf(stderr, "UpdateTool config: %s: %s\n", pszPath, pszWhat);
    return 2;
}


bool ReadAllInput(std::string& strText) {
    char szBuf[65536];
    size_t n;
    while ((n = std::fread(szBuf, 1, sizeof(szBuf), stdin)) > 0) strText.append(szBuf, n);
    return !std::ferror(stdin);
}

const char kDamaged[] = "cannot be read, decrypted or authenticated (left as it is)";

// The file must exist and be intact for the reading commands.
int CheckReadable(const CCryptConfigFile& file, const char* pszPath) {
    if (file.IsDamaged()) return Fail(kDamaged, pszPath);
    if (!file.Exists()) return Fail("no such file", pszPath);
    return 0;
}

int Dump(const char* pszPath) {
    CCryptConfigFile file(pszPath, "");
    if (const int nExit = CheckReadable(file, pszPath)) return nExit;
    return WriteOutStored(file.GetText()) ? 0 : Fail("cannot write to standard output", pszPath);
}

int Get(const char* pszPath, const char* pszSection, const char* pszKey) {
    CCryptConfigFile file(pszPath, "");
    if (const int nExit = CheckReadable(file, pszPath)) return nExit;
    std::string strValue;
    if (file.ReadString(pszSection, pszKey, "", strValue) != 0) return 1;
    return WriteOutText(strValue + "\n") ? 0 : Fail("cannot write to standard output", pszPath);
}

int Set(const char* pszPath, const char* pszSection, const char* pszKey, const char* pszValue) {
    std::string strSection;
    std::string strKey;
    std::string strValue;
    if (!Utf8ToGbk(pszSection, strSection) || !Utf8ToGbk(pszKey, strKey) || !Utf8ToGbk(pszValue, strValue)) {
        return Usage("section, key or value has no GBK (code page 936) spelling");
    }
    if (!IniDocument::IsStorable(strSection, strKey, strValue)) {
        return Usage("section, key or value cannot be stored (empty name, line break, ']' or '=' in a name)");
    }
    CCryptConfigFile file(pszPath, "");
    if (file.IsDamaged()) return Fail(kDamaged, pszPath);
    if (file.WriteString(pszSection, pszKey, pszValue) != 0) return Fail("cannot be written", pszPath);
    return 0;
}

int Import(const char* pszPath) {
    std::string strText;
    if (!ReadAllInput(strText)) return Fail("cannot read standard input", pszPath);
    CCryptConfigFile file(pszPath, "");
    if (file.IsDamaged()) return Fail(kDamaged, pszPath);
    if (file.ReplaceText(strText) != 0) return Fail("cannot be written", pszPath);
    return 0;
}

}  // namespace

int RunConfigCommand(int argc, char** argv) {
    if (argc < 1) return Usage("missing action");
    const std::string strAction = argv[0];
    if (strAction == "dump") return argc == 2 ? Dump(argv[1]) : Usage("dump takes FILE");
    if (strAction == "get") return argc == 4 ? Get(argv[1], argv[2], argv[3]) : Usage("get takes FILE SECTION KEY");
    if (strAction == "set") {
        return argc == 5 ? Set(argv[1], argv[2], argv[3], argv[4]) : Usage("set takes FILE SECTION KEY VALUE");
    }
    if (strAction == "import") return argc == 2 ? Import(argv[1]) : Usage("import takes FILE");
    return Usage("unknown action");
}
