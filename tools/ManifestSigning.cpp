#include "tools/ManifestSigning.h"

#include <windows.h>
#include <shlwapi.h>

#include <cstdio>
#include <cstdlib>

#include "manifest/ManifestName.h"
#include "platform/base/Text.h"
#include "platform/fs/FileContents.h"
#include "platform/ini/IniDocument.h"
#include "platform/crypto/PrivateKeyFile.h"
#include "tools/ToolConsole.h"

bool LoadSigningKey(const char* pszCommand, const std::string& strPath, CEcdsaP256PrivateKey& key) {
    const char* pszWhy = nullptr;
    switch (ReadPrivateKeyFile(strPath, key)) {
    case EKeyFileRead::Read: return true;
    case EKeyFileRead::Missing: pszWhy = "no such private key file"; break;
    case EKeyFileRead::Unreadable: pszWhy = "cannot read the private key file"; break;
    case EKeyFileRead::NotAKey: pszWhy = "not a P-256 private key (SEC 1 \"EC PRIVATE KEY\" PEM)"; break;
    }
    ToolPrintf(stderr, "UpdateTool %s: %s: %s\n", pszCommand, strPath.c_str(), pszWhy);
    return false;
}

bool ParseWholeNumber(const char* pszText, long nMin, long nMax, int& nValue) {
    char* pEnd = nullptr;
    const long nParsed = std::strtol(pszText, &pEnd, 10);
    if (pEnd == pszText || *pEnd != '\0' || nParsed < nMin || nParsed > nMax) return false;
    nValue = static_cast<int>(nParsed);
    return true;
}

bool ParseExpiryDays(const char* pszText, int& nDays) { return ParseWholeNumber(pszText, 1, 36500, nDays); }

EManifestLayout GuessManifestLayout(const std::string& strPath, const std::string& strManifest) {
    if (SameTextIgnoringCase(WideToUtf8(PathFindFileNameW(Utf8ToWide(strPath).c_str())), kDataManifestName)) return EManifestLayout::Data;
    IniDocument doc;
    doc.Parse(strManifest);
    return doc.HasSection("FILES") ? EManifestLayout::Program : EManifestLayout::Data;
}

bool ParseUpdateKind(const char* pszText, int& nKind) { return ParseWholeNumber(pszText, 1, 65535, nKind); }

bool WriteSignatureBeside(const char* pszCommand, const std::string& strManifestPath, const std::string& strManifest,
                          const std::string& strTarget, const CEcdsaP256PrivateKey& key, int nExpiryDays, S_ManifestSignature& sig) {
    const long long nNow = CurrentUtcTime();
    const long long nExpires = nExpiryDays > 0 ? nNow + nExpiryDays * 86400LL : -1;
    if (!SignManifest(strManifest, strTarget, key, nNow, nExpires, sig)) {
        ToolPrintf(stderr, "UpdateTool %s: cannot sign %s\n", pszCommand, strManifestPath.c_str());
        return false;
    }
    const std::string strSigPath = strManifestPath + kSignatureSuffix;
    if (!ReplaceFileContents(strSigPath, SignatureText(sig))) {
        ToolPrintf(stderr, "UpdateTool %s: cannot write %s\n", pszCommand, strSigPath.c_str());
        return false;
    }
    return true;
}
