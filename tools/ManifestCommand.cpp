#include "tools/ManifestCommand.h"

#include <windows.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "manifest/ManifestName.h"
#include "manifest/ReleaseNames.h"
#include "platform/base/Text.h"
#include "platform/base/Win32Handles.h"
#include "platform/fs/DirectoryEx.h"
#include "platform/fs/FileContents.h"
#include "platform/fs/MD5.h"
#include "platform/fs/Sha256.h"
#include "platform/crypto/PrivateKeyFile.h"
#include "platform/ini/IniDocument.h"
#include "tools/ManifestSigning.h"
#include "tools/ToolConsole.h"

namespace {

struct ManifestOptions {
    bool bProgram = true;
    std::string strDir;
    std::string strOut;
    std::string strVersion;
    std::string strRegion;
    int nUnconditional = 0;
    int nNotify = 0;
    std::string strKey;     // private key file: sign the manifest
    int nKind = 0;          // update kind the manifest is served under (its signature's Target)
    int nExpiryDays = 0;    // 0: the signature never expires
    std::vector<std::string> vecExclude;   // --exclude patterns (manifest/ReleaseNames.h)
};

struct FoundFile {
    std::string strName;         // relative to the directory, '\'-separated (UTF-8)
    std::string strStoredName;   // the same in the manifest's GBK
    std::string strSize;
    std::string strModifyTime;
    std::string strMD5;
    std::string strSHA256;
};

int Usage(const char* pszWhy) {
    ToolPrintf(stderr,
                 "UpdateTool manifest: %s (usage: manifest program DIR --version V --region R "
                 "[--unconditional N] [--notify N] [-o OUT] [--exclude PATTERN]... [--key PRIVATE_KEY_FILE --kind N [--expires DAYS]] | "
                 "manifest data DIR [-o OUT] [--exclude PATTERN]... [--key PRIVATE_KEY_FILE --kind N [--expires DAYS]])\n",
                 pszWhy);
    return 2;
}

int Fail(const std::string& strWhy) {
    ToolPrintf(stderr, "UpdateTool manifest: %s\n", strWhy.c_str());
    return 1;
}

bool ParseCount(const char* pszText, int& nValue) { return ParseWholeNumber(pszText, 0, 0x7FFFFFFF, nValue); }

// 0 when parsed, else the exit code of the usage message already printed.
int ParseOptions(int argc, char** argv, ManifestOptions& options) {
    if (argc < 2) return Usage("missing kind or directory");
    const std::string strKind = argv[0];
    if (strKind != "program" && strKind != "data") return Usage("kind must be program or data");
    options.bProgram = strKind == "program";
    options.strDir = argv[1];

    bool bHasVersion = false;
    bool bHasRegion = false;
    for (int i = 2; i < argc; ++i) {
        const std::string strOption = argv[i];
        if (i + 1 >= argc) return Usage(("missing value after " + strOption).c_str());
        const char* pszValue = argv[++i];
        if (strOption == "-o") {
            options.strOut = pszValue;
        } else if (strOption == "--key") {
            options.strKey = pszValue;
        } else if (strOption == "--expires") {
            if (!ParseExpiryDays(pszValue, options.nExpiryDays)) return Usage("--expires needs a number of days (1-36500)");
        } else if (strOption == "--kind") {
            if (!ParseUpdateKind(pszValue, options.nKind)) return Usage("--kind needs an update kind (1-65535)");
        } else if (strOption == "--exclude") {
            if (!*pszValue) return Usage("--exclude needs a PATTERN");
            options.vecExclude.push_back(pszValue);
        } else if (!options.bProgram) {
            return Usage(("unknown option for data: " + strOption).c_str());
        } else if (strOption == "--version") {
            options.strVersion = pszValue;
            bHasVersion = true;
        } else if (strOption == "--region") {
            options.strRegion = pszValue;
            bHasRegion = true;
        } else if (strOption == "--unconditional") {
            if (!ParseCount(pszValue, options.nUnconditional)) return Usage("--unconditional needs a number");
        } else if (strOption == "--notify") {
            if (!ParseCount(pszValue, options.nNotify)) return Usage("--notify needs a number");
        } else {
            return Usage(("unknown option " + strOption).c_str());
        }
    }
    if (options.bProgram && (!bHasVersion || options.strVersion.empty())) return Usage("--version is required");
    // A forgotten region would differ from every installation's and show them all the notification.
    if (options.bProgram && !bHasRegion) return Usage("--region is required (--region \"\" for none)");
    if (options.strDir.empty()) return Usage("empty directory");
    if (options.nExpiryDays > 0 && options.strKey.empty()) return Usage("--expires needs --key");
    // The signature names the path the manifest is served at: without the kind there is none.
    if (!options.strKey.empty() && options.nKind == 0) return Usage("--key needs --kind");
    if (options.strKey.empty() && options.nKind != 0) return Usage("--kind needs --key");
    return 0;
}

bool SamePath(const std::string& strA, const std::string& strB) { return SameTextIgnoringCase(strA, strB); }

std::string FullPath(const std::string& strPath) {
    wchar_t szFull[MAX_PATH * 4];
    const DWORD nLen = GetFullPathNameW(Utf8ToWide(strPath).c_str(), MAX_PATH * 4, szFull, nullptr);
    if (nLen == 0 || nLen >= MAX_PATH * 4) return std::string();
    return WideToUtf8(szFull, nLen);
}

// Paths are UTF-8: a byte '\\' or '/' is always a separator.
bool EndsWithSeparator(const std::string& strPath) {
    return !strPath.empty() && (strPath.back() == '\\' || strPath.back() == '/');
}

std::string LocalTimeText(const FILETIME& ftWrite) {
    SYSTEMTIME stUtc = {};
    SYSTEMTIME stLocal = {};
    if (!FileTimeToSystemTime(&ftWrite, &stUtc) || !SystemTimeToTzSpecificLocalTime(nullptr, &stUtc, &stLocal)) {
        return std::string();
    }
    char szText[32];
    std::snprintf(szText, sizeof(szText), "%04u-%02u-%02u %02u:%02u:%02u", stLocal.wYear, stLocal.wMonth,
                  stLocal.wDay, stLocal.wHour, stLocal.wMinute, stLocal.wSecond);
    return szText;
}

bool HoldsPrivateKey(const std::string& strPath) {
    UniqueFile hFile(CreateFileW(Utf8ToWide(strPath).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!hFile) return false;  // unreadable: the digests below say so
    std::string strHead(kPrivateKeyHeadBytes, '\0');
    DWORD cbRead = 0;
    if (!ReadFile(hFile.get(), &strHead[0], static_cast<DWORD>(strHead.size()), &cbRead, nullptr)) return false;
    strHead.resize(cbRead);
    return LooksLikePrivateKey(strHead);
}

// Collects every file below strRoot + strRelative, not entering links or
// junctions. False (with strError) when a directory cannot be listed or a name
// has no code page 936 spelling.
bool CollectFiles(const std::string& strRoot, const std::string& strRelative, std::vector<FoundFile>& vecFiles,
                  std::string& strError) {
    WIN32_FIND_DATAW data;
    UniqueFind find(FindFirstFileW(Utf8ToWide(strRoot + strRelative + "*").c_str(), &data));
    if (!find) {
        strError = "cannot list " + strRoot + strRelative;
        return false;
    }
    do {
        const std::string strName = WideToUtf8(data.cFileName);
        if (strName == "." || strName == "..") continue;
        std::string strStoredName;
        if (!Utf8ToGbk(strRelative + strName, strStoredName)) {
            strError = "file name has no code page 936 spelling: " + strRoot + strRelative + strName;
            return false;
        }
        const std::string strChild = strRelative + strName;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
            if (!CollectFiles(strRoot, strChild + "\\", vecFiles, strError)) return false;
            continue;
        }
        FoundFile file;
        file.strName = strChild;
        file.strStoredName = strStoredName;
        const unsigned long long nSize =
            (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        file.strSize = std::to_string(nSize);
        file.strModifyTime = LocalTimeText(data.ftLastWriteTime);
        vecFiles.push_back(std::move(file));
    } while (FindNextFileW(find.get(), &data));
    if (GetLastError() != ERROR_NO_MORE_FILES) {
        strError = "cannot list " + strRoot + strRelative;
        return false;
    }
    return true;
}

IniDocument BuildManifest(const ManifestOptions& options, const std::vector<FoundFile>& vecFiles) {
    IniDocument doc;
    if (options.bProgram) {
        doc.Set("Version", "VERSION", options.strVersion);
        doc.Set("Version", "REGION", options.strRegion);
        doc.Set("Version", "UNCONDITIONALUPDATE", std::to_string(options.nUnconditional));
        doc.Set("Version", "NOTIFIY", std::to_string(options.nNotify));
        for (const FoundFile& file : vecFiles) doc.Set("FILES", file.strStoredName, "1");
    }
    for (const FoundFile& file : vecFiles) {
        doc.Set(file.strStoredName, "MD5", file.strMD5);
        doc.Set(file.strStoredName, "SHA256", file.strSHA256);
        doc.Set(file.strStoredName, "SIZE", file.strSize);
        doc.Set(file.strStoredName, "MODIFYTIME", file.strModifyTime);
    }
    return doc;
}

bool SameValue(const IniDocument& doc, const std::string& strSection, const std::string& strKey,
               const std::string& strExpected) {
    const std::string* pValue = doc.Find(strSection, strKey);
    return pValue && *pValue == strExpected;
}

// Reads the written text back the way the client will and names the first file
// that did not survive (an INI-special name, or one clashing with "Version" or
// "FILES"); empty when all did.
std::string FirstUnreadableName(const ManifestOptions& options, const std::vector<FoundFile>& vecFiles,
                                const std::string& strText) {
    IniDocument doc;
    doc.Parse(strText);
    const std::vector<std::string> vecSections = doc.SectionNames();
    const std::vector<std::string> vecKeys = doc.KeyNames("FILES");
    const size_t nHeaderSections = options.bProgram ? 2 : 0;
    for (size_t i = 0; i < vecFiles.size(); ++i) {
        const FoundFile& file = vecFiles[i];
        const size_t nSection = nHeaderSections + i;
        const bool bHasSection = nSection < vecSections.size() && vecSections[nSection] == file.strStoredName;
        const bool bListed = !options.bProgram || (i < vecKeys.size() && vecKeys[i] == file.strStoredName);
        if (!bHasSection || !bListed || !SameValue(doc, file.strStoredName, "MD5", file.strMD5) ||
            !SameValue(doc, file.strStoredName, "SHA256", file.strSHA256) ||
            !SameValue(doc, file.strStoredName, "SIZE", file.strSize) ||
            !SameValue(doc, file.strStoredName, "MODIFYTIME", file.strModifyTime)) {
            return file.strStoredName;
        }
    }
    return std::string();
}

}  // namespace

int RunManifestCommand(int argc, char** argv) {
    ManifestOptions options;
    if (const int nUsage = ParseOptions(argc, argv, options)) return nUsage;

    std::string strRoot = FullPath(options.strDir);
    if (strRoot.empty() || !PathIsDirectoryW(Utf8ToWide(strRoot).c_str())) return Fail("not a directory: " + options.strDir);
    if (!EndsWithSeparator(strRoot)) strRoot += '\\';

    const std::string strDefaultOut = strRoot + (options.bProgram ? kProgramManifestName : kDataManifestName);
    const std::string strOut = options.strOut.empty() ? strDefaultOut : FullPath(options.strOut);
    if (strOut.empty()) return Fail("bad output path: " + options.strOut);

    // The key first: a bad key fails before the digests of a whole release are computed.
    CEcdsaP256PrivateKey key;
    const std::string strKeyPath = options.strKey.empty() ? std::string() : FullPath(options.strKey);
    if (!options.strKey.empty() && !LoadSigningKey("manifest", options.strKey, key)) return 1;

    std::vector<FoundFile> vecFound;
    std::string strError;
    if (!CollectFiles(strRoot, "", vecFound, strError)) return Fail(strError);

    std::vector<FoundFile> vecFiles;
    CMD5 md5;
    CSha256 sha256;
    for (FoundFile& file : vecFound) {
        const std::string strPath = strRoot + file.strName;
        // The manifest and its signature from an earlier run are not part of the release.
        if (SamePath(strPath, strOut) || SamePath(strPath, strDefaultOut) ||
            SamePath(strPath, strOut + kSignatureSuffix) || SamePath(strPath, strDefaultOut + kSignatureSuffix)) {
            continue;
        }
        // Never published: a client would install it over its own state, or it is no part of the program.
        if (const char* pszReason = ReleaseLeftOutReason(file.strName)) {
            ToolPrintf(stderr, "left out: %s (%s)\n", file.strName.c_str(), pszReason);
            continue;
        }
        const auto itPattern = std::find_if(options.vecExclude.begin(), options.vecExclude.end(),
                                            [&](const std::string& strPattern) { return MatchesReleasePattern(strPattern, file.strName); });
        if (itPattern != options.vecExclude.end()) {
            ToolPrintf(stderr, "left out: %s (--exclude %s)\n", file.strName.c_str(), itPattern->c_str());
            continue;
        }
        // Listed, the private key would be published with the release.
        if (!strKeyPath.empty() && SamePath(strPath, strKeyPath)) {
            return Fail("the private key file is inside the release directory: " + strPath);
        }
        // Whatever --key says: a key file listed would be published with the release.
        if (HoldsPrivateKey(strPath)) return Fail("a private key file is inside the release directory: " + strPath);
        if (!IsSafeManifestName(file.strName)) return Fail("file name the client would refuse: " + file.strName);
        md5.GetFileMD5(strPath.c_str(), file.strMD5);
        sha256.GetFileSHA256(strPath.c_str(), file.strSHA256);
        if (file.strMD5.empty() || file.strSHA256.empty()) return Fail("cannot read " + strPath);
        vecFiles.push_back(std::move(file));
    }
    std::sort(vecFiles.begin(), vecFiles.end(),
              [](const FoundFile& a, const FoundFile& b) { return a.strStoredName < b.strStoredName; });   // GBK bytes, unsigned

    const std::string strText = BuildManifest(options, vecFiles).Serialize();
    const std::string strBad = FirstUnreadableName(options, vecFiles, strText);
    if (!strBad.empty()) {
        std::string strShown;
        return Fail("file name cannot be written into an INI manifest: " + (GbkToUtf8(strBad, strShown) ? strShown : strBad));
    }
    if (strText.size() > kMaxManifestBytes)
        return Fail("the manifest would be larger than the " + std::to_string(kMaxManifestBytes) +
                    " bytes clients accept");

    // A reader never sees half a manifest.
    if (!ReplaceFileContents(strOut, strText)) return Fail("cannot write " + strOut);
    ToolPrintf(stdout, "%s: %u files\n", strOut.c_str(), static_cast<unsigned>(vecFiles.size()));
    if (key.IsSet()) {
        S_ManifestSignature sig;
        // A .sig left from an earlier manifest no longer matches: clients refuse the pair, as they should.
        const std::string strTarget =
            ManifestTarget(options.nKind, options.bProgram ? kProgramManifestName : kDataManifestName);
        if (!WriteSignatureBeside("manifest", strOut, strText, strTarget, key, options.nExpiryDays, sig)) return 1;
        ToolPrintf(stdout, "%s%s: Target=%s Signed=%s Expires=%s\n", strOut.c_str(), kSignatureSuffix,
                    sig.strTarget.c_str(), sig.strSigned.c_str(),
                    sig.strExpires.empty() ? "(never)" : sig.strExpires.c_str());
    }
    return 0;
}
