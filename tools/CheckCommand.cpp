// check: a mirror against the release it says it serves, fetched as a client
// fetches it (the same transport, bounds and connections), so that a stale or
// half-copied mirror is found before any client asks it.
#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "config/ClientConfig.h"
#include "download/ManifestFetch.h"
#include "manifest/CompareDataFiles.h"
#include "manifest/CompareProgramFiles.h"
#include "manifest/FileDelta.h"
#include "manifest/ManifestName.h"
#include "manifest/ManifestSignature.h"
#include "manifest/UpdateFileInfo.h"
#include "platform/base/Text.h"
#include "platform/base/Win32Handles.h"
#include "platform/crypto/EcdsaP256.h"
#include "platform/fs/DigestCache.h"
#include "platform/fs/DirectoryEx.h"
#include "platform/fs/FileContents.h"
#include "platform/fs/MD5.h"
#include "platform/fs/Sha256.h"
#include "platform/ini/ConfigFile.h"
#include "tools/ManifestSigning.h"
#include "tools/ToolCommands.h"
#include "tools/ToolConsole.h"

namespace {

// The client's own number of files in flight when UserConfig.dat names none.
constexpr unsigned int kClientConnections = 4;

int CheckUsage(const std::string& strWhy) {
    ToolPrintf(stderr, "UpdateTool check: %s (usage: check URL --kind N [--public-key LINE] [--data])\n",
               strWhy.c_str());
    return 2;
}

bool StartsWithIgnoringCase(const std::string& strText, const char* pszPrefix) {
    const size_t cch = std::char_traits<char>::length(pszPrefix);
    return strText.size() >= cch && SameTextIgnoringCase(strText.substr(0, cch), pszPrefix);
}

enum class EMirrorUrl { Http, Https, Bad };

// "http://host[:port][/]": the transport asks for "/<kind>/<name>" at a
// server's root, so a path below it cannot be served to a client either.
EMirrorUrl ParseMirrorUrl(const std::string& strUrl, std::string& strHost, unsigned short& nPort, std::string& strWhy) {
    EMirrorUrl eScheme = EMirrorUrl::Http;
    std::string strRest;
    if (StartsWithIgnoringCase(strUrl, "http://")) {
        strRest = strUrl.substr(7);
        nPort = 80;
    } else if (StartsWithIgnoringCase(strUrl, "https://")) {
        strRest = strUrl.substr(8);
        nPort = 443;
        eScheme = EMirrorUrl::Https;
    } else {
        strWhy = "URL must start with http:// or https://";
        return EMirrorUrl::Bad;
    }
    if (!strRest.empty() && strRest.back() == '/') strRest.pop_back();
    if (strRest.find('/') != std::string::npos) {
        strWhy = "URL cannot have a path: clients ask for /<kind>/<name> at the server's root";
        return EMirrorUrl::Bad;
    }
    const size_t nColon = strRest.rfind(':');
    strHost = strRest.substr(0, nColon);
    if (nColon != std::string::npos) {
        const std::string strPort = strRest.substr(nColon + 1);
        unsigned long nValue = 0;
        bool bDigits = !strPort.empty() && strPort.size() <= 5;
        for (char c : strPort) {
            bDigits = bDigits && c >= '0' && c <= '9';
            nValue = nValue * 10 + static_cast<unsigned long>(c - '0');
        }
        if (!bDigits || nValue == 0 || nValue > 65535) {
            strWhy = "URL has no port number 1-65535 after ':'";
            return EMirrorUrl::Bad;
        }
        nPort = static_cast<unsigned short>(nValue);
    }
    if (strHost.empty()) {
        strWhy = "URL has no host";
        return EMirrorUrl::Bad;
    }
    return eScheme;
}

std::string FailureText(const S_TransferFailure& failure) {
    std::string strText = failure.eReason == ETransferFailure::HttpStatus ? "HTTP " + std::to_string(failure.dwStatus)
                                                                          : TransferFailureText(failure.eReason);
    if (!failure.strServer.empty()) strText += " from " + failure.strServer;
    return strText;
}

// What the mirror should serve at one name.
struct S_Expected {
    std::string strRemote;          // '\'-separated, below the kind
    unsigned long long nSize = S_FileBound::kUnknown;
    std::string strSha256;          // lower case; empty when the manifest gives none
    std::string strMd5;
    std::vector<std::string> vecEarlier;   // digests of earlier releases of the file (its patches' bases)
};

// Fetches every name, in parallel as the client does; a name no server
// delivers does not end the check: the rest are asked again (parts kept).
std::vector<S_TransferFailure> FetchEach(CQOVAUpdateIntf& intf, int nKind, const std::vector<std::string>& vecRemote,
                                         const std::vector<std::string>& vecLocal,
                                         const std::vector<S_FileBound>& vecBounds) {
    std::vector<S_TransferFailure> vecResult(vecRemote.size());
    std::vector<size_t> vecLeft;
    for (size_t i = 0; i < vecRemote.size(); ++i) vecLeft.push_back(i);
    while (!vecLeft.empty()) {
        std::vector<std::string> vecR, vecL;
        std::vector<S_FileBound> vecB;
        for (size_t i : vecLeft) {
            vecR.push_back(vecRemote[i]);
            vecL.push_back(vecLocal[i]);
            vecB.push_back(vecBounds[i]);
        }
        S_FetchHooks hooks;
        // Not checked: a directory that cannot be made fails the fetch into it.
        hooks.fnBeforeFile = [&](size_t i) { CDirectoryEx::CreateParentDirectory(vecL[i]); };
        const size_t nFailed = intf.FetchFiles(static_cast<unsigned int>(nKind), vecR, vecL, nullptr, 0, hooks, vecB);
        if (nFailed >= vecR.size()) break;
        // The first file not stored may be one abandoned in flight: the failure names its own file.
        const S_TransferFailure failure = intf.LastFailure();
        size_t nCulprit = nFailed;
        for (size_t j = 0; j < vecR.size(); ++j) {
            if (vecR[j] == failure.strRemoteFile) nCulprit = j;
        }
        vecResult[vecLeft[nCulprit]] = failure;
        // A local file is replaced only when complete: one that exists was stored.
        std::vector<size_t> vecNext;
        for (size_t j = 0; j < vecLeft.size(); ++j) {
            if (j != nCulprit && GetFileAttributesW(Utf8ToWide(vecL[j]).c_str()) == INVALID_FILE_ATTRIBUTES) {
                vecNext.push_back(vecLeft[j]);
            }
        }
        vecLeft.swap(vecNext);
    }
    return vecResult;
}

// An error page served in a file's place (a CDN's "not found" with status 200).
bool LooksLikeWebPage(const std::string& strPath) {
    UniqueFile file(CreateFileW(Utf8ToWide(strPath).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    char szHead[256];
    DWORD cbRead = 0;
    if (!file || !ReadFile(file.get(), szHead, sizeof(szHead), &cbRead, nullptr)) return false;
    const std::string strHead(szHead, cbRead);
    size_t i = strHead.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (i < strHead.size() && (strHead[i] == ' ' || strHead[i] == '\t' || strHead[i] == '\r' || strHead[i] == '\n')) ++i;
    const std::string strStart = strHead.substr(i, 16);
    return StartsWithIgnoringCase(strStart, "<!doctype html") || StartsWithIgnoringCase(strStart, "<html") ||
           StartsWithIgnoringCase(strStart, "<head") || StartsWithIgnoringCase(strStart, "<body");
}

unsigned long long FileSize(const std::string& strPath) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(Utf8ToWide(strPath).c_str(), GetFileExInfoStandard, &data)) return S_FileBound::kUnknown;
    return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// One stored file against what was expected: its problem line, empty when it matches.
std::string JudgeStored(const S_Expected& expected, const std::string& strPath, CMD5& md5, CSha256& sha256) {
    const std::string& strName = expected.strRemote;
    if (LooksLikeWebPage(strPath)) return "a web page: " + strName + " (HTML served in the file's place)";
    const unsigned long long nSize = FileSize(strPath);
    std::string strSha256, strMd5;
    if (sha256.GetFileSHA256(strPath.c_str(), strSha256) != 0 || md5.GetFileMD5(strPath.c_str(), strMd5) != 0) {
        return "not checked: " + strName + " (the fetched copy cannot be read)";
    }
    for (const std::string& strEarlier : expected.vecEarlier) {
        if (SameTextIgnoringCase(strEarlier, strSha256) || SameTextIgnoringCase(strEarlier, strMd5)) {
            return "stale: " + strName + " (an earlier release's file)";
        }
    }
    if (expected.nSize != S_FileBound::kUnknown && nSize != expected.nSize) {
        return "wrong size: " + strName + " (SIZE " + std::to_string(expected.nSize) + ", served " +
               std::to_string(nSize) + ")";
    }
    if (!expected.strSha256.empty() && !SameTextIgnoringCase(expected.strSha256, strSha256)) {
        return "not the manifest's digest: " + strName + " (SHA256 " + expected.strSha256 + ", served " + strSha256 + ")";
    }
    if (!expected.strMd5.empty() && !SameTextIgnoringCase(expected.strMd5, strMd5)) {
        return "not the manifest's digest: " + strName + " (MD5 " + expected.strMd5 + ", served " + strMd5 + ")";
    }
    return std::string();
}

// Every file the manifest lists and every patch or compressed copy of one.
std::vector<S_Expected> ListedNames(const std::string& strManifestPath, bool bData) {
    std::vector<S_UpdateFileInfo> vecFiles;
    // Compared against an empty root, every listed file differs: the whole list,
    // read by the client's own rules (unsafe names left out, deltas read strictly).
    const std::string strNowhere = strManifestPath + ".none\\";
    if (bData) {
        CompareDataFiles(strManifestPath, strNowhere, vecFiles);
    } else {
        CConfigFile manifest(strManifestPath);
        std::vector<std::string> vecNames;
        manifest.ReadSection("FILES", vecNames);
        CDigestCache digests(BCRYPT_MD5_ALGORITHM, std::string(), strNowhere);
        for (const std::string& strName : vecNames) AppendIfChanged(manifest, digests, strName, vecFiles);
    }
    std::vector<S_Expected> vecExpected;
    for (const S_UpdateFileInfo& info : vecFiles) {
        S_Expected file;
        file.strRemote = info.strFileName;
        unsigned long long nSize = 0;
        if (ParseManifestSize(info.strSize, nSize)) file.nSize = nSize;
        file.strSha256 = info.strSHA256;
        file.strMd5 = info.strMD5;
        for (const S_DeltaWay& patch : info.delta.vecPatches) file.vecEarlier.push_back(patch.strBase);
        vecExpected.push_back(file);
        std::vector<S_DeltaWay> vecWays = info.delta.vecPatches;
        if (info.delta.bHasCopy) vecWays.push_back(info.delta.copy);
        for (const S_DeltaWay& way : vecWays) {
            S_Expected delta;
            delta.strRemote = way.strRemoteName;
            delta.nSize = way.nSize;
            (info.delta.eDigest == EDeltaDigest::Sha256 ? delta.strSha256 : delta.strMd5) = way.strDigest;
            vecExpected.push_back(delta);
        }
    }
    return vecExpected;
}

struct S_CheckOptions {
    std::string strHost;
    unsigned short nPort = 0;
    int nKind = 0;
    bool bData = false;
    bool bSecure = false;                       // https://: TLS to the host's name, as the client asks it
    std::vector<CEcdsaP256PublicKey> vecKeys;   // empty: no --public-key
};

// The signature line; false when it stands in the way of the signed release.
bool CheckSignature(const S_CheckOptions& options, const std::string& strManifestName, const std::string& strManifestPath,
                    bool bSigServed, const S_TransferFailure& sigFailure) {
    const std::string strTarget = ManifestTarget(options.nKind, strManifestName);
    if (!bSigServed) {
        if (options.vecKeys.empty()) {
            ToolPrintf(stdout, "unsigned: no %s%s served (%s)\n", strManifestName.c_str(), kSignatureSuffix,
                       FailureText(sigFailure).c_str());
            return true;
        }
        ToolPrintf(stdout, "missing: %s%s (%s)\n", strManifestName.c_str(), kSignatureSuffix,
                   FailureText(sigFailure).c_str());
        return false;
    }
    std::string strSigText;
    ReadWholeFile(strManifestPath + kSignatureSuffix, strSigText);   // unreadable: malformed below
    S_ManifestSignature claimed;
    const bool bParsed = ParseSignatureText(strSigText, claimed);
    if (bParsed && claimed.strTarget != strTarget) {
        ToolPrintf(stdout, "signature: signed for %s, served at %s\n", claimed.strTarget.c_str(), strTarget.c_str());
        return false;
    }
    if (options.vecKeys.empty()) {
        if (!bParsed) {
            ToolPrintf(stdout, "signature: not valid: %s\n", SignatureCheckText(ESignatureCheck::Malformed));
            return false;
        }
        ToolPrintf(stdout, "signature: for %s, not checked (no --public-key)\n", strTarget.c_str());
        return true;
    }
    S_ManifestSignature sig;
    const ESignatureCheck eCheck = VerifyManifestFile(strManifestPath, strTarget,
                                                      options.bData ? EManifestLayout::Data : EManifestLayout::Program,
                                                      options.vecKeys, CurrentUtcTime(), std::string(), sig);
    if (eCheck != ESignatureCheck::Valid) {
        ToolPrintf(stdout, "signature: not valid: %s\n", SignatureCheckText(eCheck));
        return false;
    }
    ToolPrintf(stdout, "signature: valid for %s, signed %s%s%s\n", strTarget.c_str(), sig.strSigned.c_str(),
               sig.strExpires.empty() ? "" : ", expires ", sig.strExpires.c_str());
    return true;
}

// The files: each fetched with the client's bound; those of another length
// are asked again with room to tell how (an earlier release, a web page).
unsigned int CheckFiles(CQOVAUpdateIntf& intf, const S_CheckOptions& options, const std::vector<S_Expected>& vecFiles,
                        const std::string& strStage, unsigned long long& nBytes) {
    std::vector<std::string> vecRemote, vecLocal;
    std::vector<S_FileBound> vecBounds;
    for (const S_Expected& file : vecFiles) {
        vecRemote.push_back(file.strRemote);
        vecLocal.push_back(strStage + file.strRemote);
        S_FileBound bound;
        bound.nSize = file.nSize;
        vecBounds.push_back(bound);
    }
    std::vector<S_TransferFailure> vecFailures = FetchEach(intf, options.nKind, vecRemote, vecLocal, vecBounds);

    std::vector<size_t> vecAgain;
    for (size_t i = 0; i < vecFiles.size(); ++i) {
        if (vecFailures[i].eReason == ETransferFailure::ContentMismatch) vecAgain.push_back(i);
    }
    if (!vecAgain.empty()) {
        std::vector<std::string> vecR, vecL;
        std::vector<S_FileBound> vecB;
        for (size_t i : vecAgain) {
            vecR.push_back(vecRemote[i]);
            vecL.push_back(strStage + "again\\" + vecRemote[i]);
            S_FileBound bound;
            bound.nMaxSize = std::max(2 * vecFiles[i].nSize, vecFiles[i].nSize + 1024 * 1024);
            vecB.push_back(bound);
        }
        const std::vector<S_TransferFailure> vecSecond = FetchEach(intf, options.nKind, vecR, vecL, vecB);
        for (size_t j = 0; j < vecAgain.size(); ++j) {
            if (vecSecond[j].eReason != ETransferFailure::None) continue;   // the first failure says it
            vecFailures[vecAgain[j]] = S_TransferFailure();
            vecLocal[vecAgain[j]] = vecL[j];
        }
    }

    unsigned int nProblems = 0;
    CMD5 md5;
    CSha256 sha256;
    for (size_t i = 0; i < vecFiles.size(); ++i) {
        const S_TransferFailure& failure = vecFailures[i];
        std::string strLine;
        if (failure.eReason == ETransferFailure::None) {
            strLine = JudgeStored(vecFiles[i], vecLocal[i], md5, sha256);
            if (strLine.empty()) nBytes += FileSize(vecLocal[i]);
        } else if (failure.eReason == ETransferFailure::HttpStatus && (failure.dwStatus == 404 || failure.dwStatus == 410)) {
            strLine = "missing: " + vecFiles[i].strRemote + " (" + FailureText(failure) + ")";
        } else if (failure.eReason == ETransferFailure::ContentMismatch) {
            strLine = "wrong size: " + vecFiles[i].strRemote + " (SIZE " + std::to_string(vecFiles[i].nSize) +
                      ", served another length)";
        } else {
            strLine = "not served: " + vecFiles[i].strRemote + " (" + FailureText(failure) + ")";
        }
        if (strLine.empty()) continue;
        ToolPrintf(stdout, "%s\n", strLine.c_str());
        ++nProblems;
    }
    return nProblems;
}

int RunCheck(const S_CheckOptions& options) {
    std::string strAddress;
    if (!ResolveHostAddress(options.strHost, strAddress)) {
        ToolPrintf(stdout, "not served: %s does not resolve to an IPv4 address\n", options.strHost.c_str());
        return 1;
    }
    wchar_t szTemp[MAX_PATH + 1] = {};
    if (GetTempPathW(MAX_PATH + 1, szTemp) == 0) {
        ToolPrintf(stderr, "UpdateTool check: no temporary directory (error %lu)\n", GetLastError());
        return 1;
    }
    const std::string strStage = WideToUtf8(szTemp) + "QOVA-check-" + std::to_string(GetCurrentProcessId()) + "-" +
                                 std::to_string(GetTickCount64()) + "\\";
    ScopeExit removeStage([&] { CDirectoryEx::DeleteDirectory(strStage); });   // best effort: it is a temporary copy

    // Over TLS the host's name goes with the request (SNI, certificate), as from a client.
    CQOVAUpdateIntf intf({S_UpdateSerivceAddr{strAddress, options.nPort, options.bSecure, options.strHost}}, true);
    intf.SetConnections(kClientConnections);

    // The manifest and its .sig, bounded as the client bounds them.
    const std::string strManifestName = options.bData ? kDataManifestName : kProgramManifestName;
    const std::string strManifestDir = strStage + "manifest\\";
    const std::string strManifestPath = strManifestDir + strManifestName;
    S_FileBound manifestBound, sigBound;
    manifestBound.nMaxSize = kMaxManifestBytes;
    sigBound.nMaxSize = kMaxSignatureBytes;
    manifestBound.dwWholeMs = sigBound.dwWholeMs = ManifestAnswerLimitMs();
    const std::vector<S_TransferFailure> vecPair =
        FetchEach(intf, options.nKind, {strManifestName, strManifestName + kSignatureSuffix},
                  {strManifestPath, strManifestPath + kSignatureSuffix}, {manifestBound, sigBound});
    const std::string strBase = (options.bSecure ? "https://" : "http://") + options.strHost + ":" +
                                std::to_string(options.nPort) + "/" + std::to_string(options.nKind) + "/";
    if (vecPair[0].eReason != ETransferFailure::None) {
        ToolPrintf(stdout, "missing: %s (%s)\n", strManifestName.c_str(), FailureText(vecPair[0]).c_str());
        ToolPrintf(stdout, "%s: no manifest: not the release\n", strBase.c_str());
        return 1;
    }
    if (LooksLikeWebPage(strManifestPath)) {
        ToolPrintf(stdout, "a web page: %s (HTML served in the manifest's place)\n", strManifestName.c_str());
        ToolPrintf(stdout, "%s: no manifest: not the release\n", strBase.c_str());
        return 1;
    }
    unsigned int nProblems = 0;
    if (!CheckSignature(options, strManifestName, strManifestPath, vecPair[1].eReason == ETransferFailure::None,
                        vecPair[1])) {
        ++nProblems;
    }
    const std::vector<S_Expected> vecFiles = ListedNames(strManifestPath, options.bData);
    unsigned long long nBytes = 0;
    nProblems += CheckFiles(intf, options, vecFiles, strStage + "files\\", nBytes);
    CConfigFile manifest(strManifestPath);
    std::string strVersion;
    manifest.ReadString("Version", "VERSION", "", strVersion);
    ToolPrintf(stdout, "%s: version %s, %u names checked (%llu bytes matched), %u problem%s: %s\n", strBase.c_str(),
               strVersion.empty() ? "-" : strVersion.c_str(), static_cast<unsigned>(vecFiles.size()), nBytes,
               nProblems, nProblems == 1 ? "" : "s",
               nProblems ? "not the release" : (options.vecKeys.empty() ? "serves the release" : "serves the signed release"));
    return nProblems ? 1 : 0;
}

}  // namespace

int RunCheckCommand(int argc, char** argv) {
    if (argc < 1) return CheckUsage("missing URL");
    S_CheckOptions options;
    bool bHaveKind = false;
    for (int i = 1; i < argc; ++i) {
        const std::string strOption = argv[i];
        if (strOption == "--data") {
            options.bData = true;
            continue;
        }
        if (strOption != "--kind" && strOption != "--public-key") return CheckUsage("unknown option " + strOption);
        if (i + 1 >= argc) return CheckUsage("missing value after " + strOption);
        const char* pszValue = argv[++i];
        if (strOption == "--kind") {
            if (!ParseUpdateKind(pszValue, options.nKind)) return CheckUsage("--kind needs an update kind (1-65535)");
            bHaveKind = true;
        } else if (!ParsePublicKeyList(pszValue, options.vecKeys)) {
            return CheckUsage("--public-key is not one or two base64 P-256 key lines separated by a comma");
        }
    }
    if (!bHaveKind) return CheckUsage("missing --kind");
    std::string strWhy;
    const EMirrorUrl eScheme = ParseMirrorUrl(argv[0], options.strHost, options.nPort, strWhy);
    if (eScheme == EMirrorUrl::Bad) return CheckUsage(strWhy);
    options.bSecure = eScheme == EMirrorUrl::Https;
    return RunCheck(options);
}
