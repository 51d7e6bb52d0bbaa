// sign and verify: a manifest's ".sig".
#include <windows.h>
#include <shlwapi.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "manifest/ManifestSignature.h"
#include "manifest/ReleaseNames.h"
#include "platform/base/Text.h"
#include "platform/base/Win32Handles.h"
#include "platform/fs/FileContents.h"
#include "platform/fs/MD5.h"
#include "platform/fs/Sha256.h"
#include "platform/ini/IniDocument.h"
#include "platform/crypto/EcdsaP256.h"
#include "tools/ManifestSigning.h"
#include "tools/ToolCommands.h"
#include "tools/ToolConsole.h"

namespace {

int SignUsage(const char* pszWhy) {
    ToolPrintf(stderr, "UpdateTool sign: %s (usage: sign MANIFEST --key PRIVATE_KEY_FILE --kind N [--expires DAYS])\n",
                 pszWhy);
    return 2;
}

int VerifyUsage(const char* pszWhy) {
    ToolPrintf(stderr, "UpdateTool verify: %s (usage: verify MANIFEST|DIR PUBLIC_KEY [--kind N] [--exclude PATTERN]...)\n", pszWhy);
    return 2;
}

// The Target a manifest at this path is served at with update kind nKind: its file name below the kind.
std::string TargetOfFile(int nKind, const std::string& strManifestPath) {
    return ManifestTarget(nKind, WideToUtf8(PathFindFileNameW(Utf8ToWide(strManifestPath).c_str())));
}

std::string Lowered(std::string strText) {
    for (char& c : strText) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return strText;
}

// Every file below strRoot + strRelative ('\'-separated, UTF-8), links and junctions not entered.
void ListFolder(const std::string& strRoot, const std::string& strRelative, std::vector<std::string>& vecNames) {
    WIN32_FIND_DATAW data;
    UniqueFind find(FindFirstFileW(Utf8ToWide(strRoot + strRelative + "*").c_str(), &data));
    if (!find) return;
    do {
        const std::string strName = WideToUtf8(data.cFileName);
        if (strName == "." || strName == "..") continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) ListFolder(strRoot, strRelative + strName + "\\", vecNames);
            continue;
        }
        vecNames.push_back(strRelative + strName);
    } while (FindNextFileW(find.get(), &data));
}

// One listed file against its SIZE and digests: false, with its line printed, when it differs.
bool ListedFileMatches(const IniDocument& doc, const std::string& strStored, const std::string& strName,
                       const std::string& strPath, CMD5& md5, CSha256& sha256) {
    WIN32_FILE_ATTRIBUTE_DATA attributes;
    if (!GetFileAttributesExW(Utf8ToWide(strPath).c_str(), GetFileExInfoStandard, &attributes) ||
        (attributes.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        ToolPrintf(stdout, "missing: %s\n", strName.c_str());
        return false;
    }
    const std::string strSize = std::to_string((static_cast<unsigned long long>(attributes.nFileSizeHigh) << 32) |
                                               attributes.nFileSizeLow);
    const std::string* pSize = doc.Find(strStored, "SIZE");
    const std::string* pMD5 = doc.Find(strStored, "MD5");
    const std::string* pSHA256 = doc.Find(strStored, "SHA256");
    std::string strFound;
    if (pSize && *pSize != strSize) {
        ToolPrintf(stdout, "changed: %s (SIZE %s, found %s)\n", strName.c_str(), pSize->c_str(), strSize.c_str());
    } else if (pMD5 && (md5.GetFileMD5(strPath.c_str(), strFound) != 0 || !SameTextIgnoringCase(strFound, *pMD5))) {
        ToolPrintf(stdout, "changed: %s (MD5 %s, found %s)\n", strName.c_str(), pMD5->c_str(), strFound.c_str());
    } else if (pSHA256 &&
               (sha256.GetFileSHA256(strPath.c_str(), strFound) != 0 || !SameTextIgnoringCase(strFound, *pSHA256))) {
        ToolPrintf(stdout, "changed: %s (SHA256 %s, found %s)\n", strName.c_str(), pSHA256->c_str(), strFound.c_str());
    } else {
        return true;
    }
    return false;
}

// Every file the manifest lists, below strRoot; setListed receives their names, lowered.
int CheckListedFiles(const IniDocument& doc, EManifestLayout eLayout, const std::string& strRoot,
                     std::set<std::string>& setListed) {
    const std::vector<std::string> vecListed =
        eLayout == EManifestLayout::Program ? doc.KeyNames("FILES") : doc.SectionNames();
    int nDifferences = 0;
    CMD5 md5;
    CSha256 sha256;
    for (const std::string& strStored : vecListed) {
        std::string strName;
        if (!GbkToUtf8(strStored, strName)) strName = strStored;
        for (char& c : strName) {
            if (c == '/') c = '\\';
        }
        setListed.insert(Lowered(strName));
        if (!ListedFileMatches(doc, strStored, strName, strRoot + strName, md5, sha256)) ++nDifferences;
    }
    return nDifferences;
}

// Every file in the folder that is not listed, but for those no release carries.
int CheckUnlistedFiles(const std::string& strRoot, const std::string& strManifestName,
                       const std::set<std::string>& setListed, const std::vector<std::string>& vecExclude) {
    int nDifferences = 0;
    std::vector<std::string> vecPresent;
    ListFolder(strRoot.empty() ? std::string(".\\") : strRoot, "", vecPresent);
    for (const std::string& strName : vecPresent) {
        if (setListed.count(Lowered(strName)) || SameTextIgnoringCase(strName, strManifestName)) continue;
        // The other kind's manifest may be published beside this one (a data set updated both ways).
        if (SameTextIgnoringCase(strName, "UpdateConfig.ini") || SameTextIgnoringCase(strName, "config.ini")) continue;
        if (ReleaseLeftOutReason(strName)) continue;
        bool bExcluded = false;
        for (const std::string& strPattern : vecExclude) bExcluded = bExcluded || MatchesReleasePattern(strPattern, strName);
        if (bExcluded) continue;
        ToolPrintf(stdout, "not listed: %s\n", strName.c_str());
        ++nDifferences;
    }
    return nDifferences;
}

// The folder beside the manifest against the manifest: every listed file there
// with its SIZE and digests, every file there listed (or never part of a
// release). One line per difference on standard output; the number of them.
int CheckReleaseFolder(const std::string& strManifestPath, const std::string& strManifest, EManifestLayout eLayout,
                       const std::vector<std::string>& vecExclude) {
    const size_t nSeparator = strManifestPath.find_last_of("\\/");
    const std::string strRoot = nSeparator == std::string::npos ? std::string() : strManifestPath.substr(0, nSeparator + 1);
    IniDocument doc;
    doc.Parse(strManifest);
    std::set<std::string> setListed;
    const int nDifferences = CheckListedFiles(doc, eLayout, strRoot, setListed);
    return nDifferences + CheckUnlistedFiles(strRoot, strManifestPath.substr(strRoot.size()), setListed, vecExclude);
}

// Clients refuse a signed manifest with a file they cannot pin or bound: said now, by section.
bool SignableFileSections(const std::string& strManifestPath, const std::string& strManifest) {
    const EManifestLayout eLayout = GuessManifestLayout(strManifestPath, strManifest);
    std::string strSection;
    const char* pszMissing = nullptr;
    if (FindSectionWithoutSha256(strManifest, eLayout, strSection)) {
        pszMissing = "SHA256";
    } else if (FindSectionWithoutSize(strManifest, eLayout, strSection)) {
        pszMissing = "a plain SIZE";
    } else {
        return true;
    }
    std::string strShown;   // the section name as stored: GBK
    if (!GbkToUtf8(strSection, strShown)) strShown = strSection;
    ToolPrintf(stderr, "UpdateTool sign: %s: file section without %s: %s\n", strManifestPath.c_str(), pszMissing,
               strShown.c_str());
    return false;
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
        ToolPrintf(stderr, "UpdateTool sign: cannot read %s\n", strManifestPath.c_str());
        return 1;
    }
    if (!SignableFileSections(strManifestPath, strManifest)) return 1;
    S_ManifestSignature sig;
    if (strManifest.size() > kMaxManifestBytes) {
        ToolPrintf(stderr, "UpdateTool sign: %s: larger than the %llu bytes clients accept\n",
                     strManifestPath.c_str(), kMaxManifestBytes);
        return 1;
    }
    if (!WriteSignatureBeside("sign", strManifestPath, strManifest, TargetOfFile(nKind, strManifestPath), key,
                              nExpiryDays, sig)) {
        return 1;
    }
    ToolPrintf(stdout, "%s%s: Target=%s Signed=%s Expires=%s\n", strManifestPath.c_str(), kSignatureSuffix,
                sig.strTarget.c_str(), sig.strSigned.c_str(), sig.strExpires.empty() ? "(never)" : sig.strExpires.c_str());
    return 0;
}

int RunVerifyCommand(int argc, char** argv) {
    if (argc < 2) return VerifyUsage("expected MANIFEST PUBLIC_KEY");
    int nKind = 0;
    std::vector<std::string> vecExclude;
    for (int i = 2; i < argc; ++i) {
        const std::string strOption = argv[i];
        if (i + 1 >= argc) return VerifyUsage(("missing value after " + strOption).c_str());
        const char* pszValue = argv[++i];
        if (strOption == "--kind") {
            if (!ParseUpdateKind(pszValue, nKind)) return VerifyUsage("--kind needs an update kind (1-65535)");
        } else if (strOption == "--exclude") {
            vecExclude.push_back(pszValue);
        } else {
            return VerifyUsage(("unknown option " + strOption).c_str());
        }
    }
    std::string strManifestPath = argv[0];
    // A release folder: the program manifest in it, else the data set's.
    if (PathIsDirectoryW(Utf8ToWide(strManifestPath).c_str())) {
        if (!strManifestPath.empty() && strManifestPath.back() != '\\' && strManifestPath.back() != '/') strManifestPath += '\\';
        strManifestPath += PathFileExistsW(Utf8ToWide(strManifestPath + "UpdateConfig.ini").c_str()) ? "UpdateConfig.ini"
                                                                                                      : "config.ini";
    }
    std::vector<CEcdsaP256PublicKey> vecKeys;
    if (!ParsePublicKeyList(argv[1], vecKeys)) {
        ToolPrintf(stderr, "UpdateTool verify: PUBLIC_KEY is not one or two base64 P-256 key lines "
                             "separated by a comma\n");
        return 2;
    }
    std::string strManifest;
    ReadWholeFile(strManifestPath, strManifest);   // unreadable: the check below says so
    std::string strSignatureText;
    ReadWholeFile(strManifestPath + kSignatureSuffix, strSignatureText);
    S_ManifestSignature claimed;
    if (ParseSignatureText(strSignatureText, claimed)) ToolPrintf(stdout, "Target: %s\n", claimed.strTarget.c_str());
    // With --kind, checked as the client checks it: against the path it asks for.
    const std::string strExpected = nKind ? TargetOfFile(nKind, strManifestPath) : std::string();
    if (!strExpected.empty() && !claimed.strTarget.empty() && claimed.strTarget != strExpected) {
        ToolPrintf(stdout, "not valid: signed for %s, served at %s\n", claimed.strTarget.c_str(), strExpected.c_str());
        return 1;
    }
    S_ManifestSignature sig;
    const EManifestLayout eLayout = GuessManifestLayout(strManifestPath, strManifest);
    const ESignatureCheck result =
        VerifyManifestFile(strManifestPath, strExpected, eLayout, vecKeys, CurrentUtcTime(), std::string(), sig);
    if (result != ESignatureCheck::Valid) {
        ToolPrintf(stdout, "not valid: %s\n", SignatureCheckText(result));
    } else {
        ToolPrintf(stdout, "valid\n");
    }
    // A valid signature over a folder that is not the release still fails every client.
    const int nDifferences = strManifest.empty() ? 0 : CheckReleaseFolder(strManifestPath, strManifest, eLayout, vecExclude);
    return (result == ESignatureCheck::Valid && nDifferences == 0) ? 0 : 1;
}
