#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/base/Text.h"
#include "platform/crypto/EcdsaP256.h"
#include "platform/ini/CryptConfigFile.h"
#include "platform/ini/IniDocument.h"
#include "tools/ManifestSigning.h"
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

bool IsHostLabelChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

// A host name or IPv4 address: dot-separated labels of letters, digits and '-'
// (syntax only; whether it resolves is the client's business).
bool IsHostText(const std::string& strHost) {
    if (strHost.empty() || strHost.size() > 253) return false;
    size_t nStart = 0;
    while (true) {
        const size_t nDot = strHost.find('.', nStart);
        const std::string strLabel = strHost.substr(nStart, nDot == std::string::npos ? std::string::npos : nDot - nStart);
        if (strLabel.empty() || strLabel.size() > 63 || strLabel.front() == '-' || strLabel.back() == '-') return false;
        for (char c : strLabel) {
            if (!IsHostLabelChar(c)) return false;
        }
        if (nDot == std::string::npos) return true;
        nStart = nDot + 1;
    }
}

bool IsServerText(const std::string& strValue) {
    for (const char* pszScheme : {"http://", "https://"}) {
        const size_t nLen = std::strlen(pszScheme);
        if (strValue.size() > nLen && SameTextIgnoringCase(strValue.substr(0, nLen), pszScheme)) {
            return IsHostText(strValue.substr(nLen));
        }
    }
    return IsHostText(strValue);
}

// The values the client reads as numbers, keys or servers: one it would
// misread stops updates on every installation it reaches. Empty when the
// value is fit (or the key is not one of these), else why not.
std::string CheckKnownValue(const std::string& strSection, const std::string& strKey, const std::string& strValue) {
    const auto Is = [&](const char* pszSection, const char* pszKey) {
        return SameTextIgnoringCase(strSection, pszSection) && SameTextIgnoringCase(strKey, pszKey);
    };
    int nNumber = 0;
    if (Is("Update", "PublicKey")) {
        std::vector<CEcdsaP256PublicKey> vecKeys;
        if (!ParsePublicKeyList(strValue, vecKeys)) {
            return "Update PublicKey must be one or two base64 P-256 key lines separated by a comma";
        }
    } else if (Is("Update", "ServerPort") || Is("Update", "ServerPort2")) {
        if (!ParseWholeNumber(strValue.c_str(), 0, 65535, nNumber)) return "Update " + strKey + " must be a whole number 0-65535";
    } else if (Is("Update", "ServerIP") || Is("Update", "ServerIP2")) {
        if (!IsServerText(strValue)) {
            return "Update " + strKey + " must be a host name, an IPv4 address or http://host, https://host";
        }
    } else if (Is("Server", "Connections")) {
        if (!ParseWholeNumber(strValue.c_str(), 1, 8, nNumber)) return "Server Connections must be a whole number 1-8";
    }
    return std::string();
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
    const std::string strWhy = CheckKnownValue(pszSection, pszKey, pszValue);
    if (!strWhy.empty()) return Usage(strWhy.c_str());
    CCryptConfigFile file(pszPath, "");
    if (file.IsDamaged()) return Fail(kDamaged, pszPath);
    if (file.WriteString(pszSection, pszKey, pszValue) != 0) return Fail("cannot be written", pszPath);
    return 0;
}

int Import(const char* pszPath) {
    std::string strText;
    if (!ReadAllInput(strText)) return Fail("cannot read standard input", pszPath);
    // An empty or unreadable input would empty the file: refused, the file left as it is.
    IniDocument doc;
    doc.Parse(strText);
    bool bHasKey = false;
    for (const std::string& strSection : doc.SectionNames()) {
        for (const std::string& strKey : doc.KeyNames(strSection)) {
            bHasKey = true;
            std::string strSectionText, strKeyText, strValue;
            if (!GbkToUtf8(strSection, strSectionText) || !GbkToUtf8(strKey, strKeyText) ||
                !GbkToUtf8(*doc.Find(strSection, strKey), strValue)) {
                return Fail("standard input is not GBK text (left as it is)", pszPath);
            }
            const std::string strWhy = CheckKnownValue(strSectionText, strKeyText, strValue);
            if (!strWhy.empty()) return Fail((strWhy + " (left as it is)").c_str(), pszPath);
        }
    }
    if (!bHasKey) return Fail("standard input holds no [section] with a key=value line (left as it is)", pszPath);
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
