#include "tools/ManifestCommand.h"

#include <windows.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "config/Rollout.h"
#include "manifest/ManifestName.h"
#include "manifest/ReleaseNames.h"
#include "manifest/UpdateFileInfo.h"
#include "platform/base/Text.h"
#include "platform/base/Win32Handles.h"
#include "platform/fs/DirectoryEx.h"
#include "platform/fs/FileContents.h"
#include "platform/fs/MD5.h"
#include "platform/fs/Sha256.h"
#include "platform/crypto/PrivateKeyFile.h"
#include "platform/ini/IniDocument.h"
#include "tools/ManifestSigning.h"
#include "tools/ReleaseDelta.h"
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
    std::string strRollout;  // ROLLOUT percent; empty: none written (every installation)
    std::string strKey;     // private key file: sign the manifest
    int nKind = 0;          // update kind the manifest is served under (its signature's Target)
    int nExpiryDays = 0;    // 0: the signature never expires
    std::vector<std::string> vecExclude;   // --exclude patterns (manifest/ReleaseNames.h)
    std::vector<std::string> vecDeltaFrom; // --delta-from: earlier releases to make patches from
};

struct ManifestPaths {
    std::string strRoot;         // the release folder, ending in '\'
    std::string strOut;          // the manifest to write
    std::string strDefaultOut;   // DIR\UpdateConfig.ini or DIR\config.ini
    std::string strKey;          // the private key file's full path, empty without --key
    std::vector<std::string> vecDeltaFrom;   // full paths ending in '\'
};

struct FoundFile {
    std::string strName;         // relative to the directory, '\'-separated (UTF-8)
    std::string strStoredName;   // the same in the manifest's GBK
    std::string strSize;
    std::string strModifyTime;
    std::string strMD5;
    std::string strSHA256;
    S_FileDelta delta;           // with --delta-from
};

int Usage(const char* pszWhy) {
    ToolPrintf(stderr,
                 "UpdateTool manifest: %s (usage: manifest program DIR --version V --region R "
                 "[--unconditional N] [--notify N] [--rollout PERCENT] [-o OUT] [--exclude PATTERN]... [--delta-from OLD_DIR]... "
                 "[--key PRIVATE_KEY_FILE --kind N [--expires DAYS]] | "
                 "manifest data DIR [-o OUT] [--exclude PATTERN]... [--delta-from OLD_DIR]... "
                 "[--key PRIVATE_KEY_FILE --kind N [--expires DAYS]])\n",
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
        } else if (strOption == "--delta-from") {
            if (!*pszValue) return Usage("--delta-from needs a directory");
            options.vecDeltaFrom.push_back(pszValue);
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
        } else if (strOption == "--rollout") {
            unsigned nPercent = 0;
            if (!ParseRolloutPercent(pszValue, nPercent)) return Usage("--rollout needs a percentage 0-100");
            options.strRollout = std::to_string(nPercent);
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
    if (options.vecDeltaFrom.size() > kMaxFilePatches) return Usage("at most 16 --delta-from");
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
        if (!options.strRollout.empty()) doc.Set("Version", kRolloutKey, options.strRollout);
        for (const FoundFile& file : vecFiles) doc.Set("FILES", file.strStoredName, "1");
    }
    for (const FoundFile& file : vecFiles) {
        doc.Set(file.strStoredName, "MD5", file.strMD5);
        doc.Set(file.strStoredName, "SHA256", file.strSHA256);
        doc.Set(file.strStoredName, "SIZE", file.strSize);
        doc.Set(file.strStoredName, "MODIFYTIME", file.strModifyTime);
        SetFileDeltaKeys(doc, file.strStoredName, file.delta);
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

// A full path ending in '\\' of a folder that exists; empty otherwise.
std::string FolderPath(const std::string& strGiven) {
    std::string strPath = FullPath(strGiven);
    if (strPath.empty() || !PathIsDirectoryW(Utf8ToWide(strPath).c_str())) return std::string();
    if (!EndsWithSeparator(strPath)) strPath += '\\';
    return strPath;
}

int ResolvePaths(const ManifestOptions& options, ManifestPaths& paths) {
    paths.strRoot = FolderPath(options.strDir);
    if (paths.strRoot.empty()) return Fail("not a directory: " + options.strDir);
    paths.strDefaultOut = paths.strRoot + (options.bProgram ? kProgramManifestName : kDataManifestName);
    paths.strOut = options.strOut.empty() ? paths.strDefaultOut : FullPath(options.strOut);
    if (paths.strOut.empty()) return Fail("bad output path: " + options.strOut);
    paths.strKey = options.strKey.empty() ? std::string() : FullPath(options.strKey);
    for (const std::string& strFrom : options.vecDeltaFrom) {
        paths.vecDeltaFrom.push_back(FolderPath(strFrom));
        if (paths.vecDeltaFrom.back().empty()) return Fail("not a directory: " + strFrom);
    }
    return 0;
}

enum class EFound { Listed, LeftOut, Refused };

// Whether a file found below the folder is listed. A file that must never be
// published at all refuses the whole release (strWhy).
EFound ClassifyFound(const ManifestOptions& options, const ManifestPaths& paths, const FoundFile& file,
                     std::string& strWhy) {
    const std::string strPath = paths.strRoot + file.strName;
    // The manifest and its signature from an earlier run are not part of the release.
    for (const std::string* pOut : {&paths.strOut, &paths.strDefaultOut}) {
        if (SamePath(strPath, *pOut) || SamePath(strPath, *pOut + kSignatureSuffix)) return EFound::LeftOut;
    }
    // Patches and copies published with this or an earlier release.
    const size_t cchStore = sizeof(kDeltaFolder) - 1;
    if (file.strName.size() > cchStore && SamePath(file.strName.substr(0, cchStore), kDeltaFolder)) return EFound::LeftOut;
    // Never published: a client would install it over its own state, or it is no part of the program.
    if (const char* pszReason = ReleaseLeftOutReason(file.strName)) {
        ToolPrintf(stderr, "left out: %s (%s)\n", file.strName.c_str(), pszReason);
        return EFound::LeftOut;
    }
    const auto itPattern = std::find_if(options.vecExclude.begin(), options.vecExclude.end(),
                                        [&](const std::string& strPattern) { return MatchesReleasePattern(strPattern, file.strName); });
    if (itPattern != options.vecExclude.end()) {
        ToolPrintf(stderr, "left out: %s (--exclude %s)\n", file.strName.c_str(), itPattern->c_str());
        return EFound::LeftOut;
    }
    // Listed, the private key would be published with the release.
    if (!paths.strKey.empty() && SamePath(strPath, paths.strKey)) {
        strWhy = "the private key file is inside the release directory: " + strPath;
    } else if (HoldsPrivateKey(strPath)) {   // whatever --key says: a key file listed would be published
        strWhy = "a private key file is inside the release directory: " + strPath;
    } else if (!IsSafeManifestName(file.strName)) {
        strWhy = "file name the client would refuse: " + file.strName;
    }
    return strWhy.empty() ? EFound::Listed : EFound::Refused;
}

// The files the manifest lists, with their digests, in the manifest's order.
int SelectReleaseFiles(const ManifestOptions& options, const ManifestPaths& paths, std::vector<FoundFile>& vecFiles) {
    std::vector<FoundFile> vecFound;
    std::string strError;
    if (!CollectFiles(paths.strRoot, "", vecFound, strError)) return Fail(strError);
    CMD5 md5;
    CSha256 sha256;
    for (FoundFile& file : vecFound) {
        const EFound found = ClassifyFound(options, paths, file, strError);
        if (found == EFound::Refused) return Fail(strError);
        if (found == EFound::LeftOut) continue;
        const std::string strPath = paths.strRoot + file.strName;
        md5.GetFileMD5(strPath.c_str(), file.strMD5);
        sha256.GetFileSHA256(strPath.c_str(), file.strSHA256);
        if (file.strMD5.empty() || file.strSHA256.empty()) return Fail("cannot read " + strPath);
        vecFiles.push_back(std::move(file));
    }
    std::sort(vecFiles.begin(), vecFiles.end(),
              [](const FoundFile& a, const FoundFile& b) { return a.strStoredName < b.strStoredName; });   // GBK bytes, unsigned
    return 0;
}

// Patches from the earlier releases and compressed copies, in the digest kind
// the client checks with: SHA-256 for a signed release, MD5 otherwise.
int AddDeltas(const ManifestOptions& options, const ManifestPaths& paths, std::vector<FoundFile>& vecFiles) {
    S_ReleaseDeltaOptions deltaOptions;
    deltaOptions.strRoot = paths.strRoot;
    deltaOptions.vecFrom = paths.vecDeltaFrom;
    deltaOptions.vecShown = options.vecDeltaFrom;
    deltaOptions.bSha256 = !options.strKey.empty();
    std::vector<S_ReleaseFile> vecRelease;
    for (const FoundFile& file : vecFiles) {
        S_ReleaseFile release;
        release.strName = file.strName;
        ParseManifestSize(file.strSize, release.nSize);
        release.strDigest = deltaOptions.bSha256 ? file.strSHA256 : file.strMD5;
        vecRelease.push_back(std::move(release));
    }
    std::string strError;
    if (!PublishReleaseDeltas(deltaOptions, vecRelease, strError)) return Fail(strError);
    for (size_t i = 0; i < vecFiles.size(); ++i) vecFiles[i].delta = std::move(vecRelease[i].delta);
    return 0;
}

int WriteManifest(const ManifestOptions& options, const ManifestPaths& paths, const CEcdsaP256PrivateKey& key,
                  const std::vector<FoundFile>& vecFiles) {
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
    if (!ReplaceFileContents(paths.strOut, strText)) return Fail("cannot write " + paths.strOut);
    ToolPrintf(stdout, "%s: %u files\n", paths.strOut.c_str(), static_cast<unsigned>(vecFiles.size()));
    if (!key.IsSet()) return 0;
    S_ManifestSignature sig;
    // A .sig left from an earlier manifest no longer matches: clients refuse the pair, as they should.
    const std::string strTarget = ManifestTarget(options.nKind, options.bProgram ? kProgramManifestName : kDataManifestName);
    if (!WriteSignatureBeside("manifest", paths.strOut, strText, strTarget, key, options.nExpiryDays, sig)) return 1;
    ToolPrintf(stdout, "%s%s: Target=%s Signed=%s Expires=%s\n", paths.strOut.c_str(), kSignatureSuffix,
               sig.strTarget.c_str(), sig.strSigned.c_str(), sig.strExpires.empty() ? "(never)" : sig.strExpires.c_str());
    return 0;
}

}  // namespace

int RunManifestCommand(int argc, char** argv) {
    ManifestOptions options;
    if (const int nUsage = ParseOptions(argc, argv, options)) return nUsage;
    ManifestPaths paths;
    if (const int rc = ResolvePaths(options, paths)) return rc;

    // The key first: a bad key fails before the digests of a whole release are computed.
    CEcdsaP256PrivateKey key;
    if (!options.strKey.empty() && !LoadSigningKey("manifest", options.strKey, key)) return 1;

    std::vector<FoundFile> vecFiles;
    if (const int rc = SelectReleaseFiles(options, paths, vecFiles)) return rc;
    if (!options.vecDeltaFrom.empty()) {
        if (const int rc = AddDeltas(options, paths, vecFiles)) return rc;
    }
    return WriteManifest(options, paths, key, vecFiles);
}
