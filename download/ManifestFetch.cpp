#include "download/ManifestFetch.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cwchar>

#include "config/ReleaseTrust.h"
#include "download/ManifestCache.h"
#include "manifest/ManifestName.h"
#include "platform/base/Text.h"
#include "platform/fs/DirectoryEx.h"
#include "platform/fs/FileContents.h"

std::string SignatureRecordName(int nUpdateType, const std::string& strUpdateName, const std::string& strManifestName) {
    if (IsProgramUpdate(nUpdateType)) return "Program";
    const std::string strName = strUpdateName.empty() ? "." : strUpdateName;
    return SameTextIgnoringCase(strManifestName, kDataManifestName) ? strName : strName + "\\" + strManifestName;
}

unsigned long ManifestAnswerLimitMs() {
    const unsigned long kLimitMs = 120000;
    wchar_t szValue[16] = {};
    const DWORD cch = GetEnvironmentVariableW(L"QOVA_TEST_MANIFEST_LIMIT_MS", szValue, 16);
    if (cch == 0 || cch >= 16) return kLimitMs;
    wchar_t* pEnd = nullptr;
    const unsigned long nValue = std::wcstoul(szValue, &pEnd, 10);
    return *pEnd == L'\0' && nValue > 0 && nValue < kLimitMs ? nValue : kLimitMs;
}

namespace {

S_FileBound AnswerBound(unsigned long long nMaxSize) {
    S_FileBound bound;
    bound.nMaxSize = nMaxSize;
    bound.dwWholeMs = ManifestAnswerLimitMs();
    bound.bNoWebPage = true;  // a portal's login page is no manifest: the next server is asked
    return bound;
}

// Fetches the names into the staging directory from the servers nFirstServer on;
// vecServed receives the index of the server each came from.
// The kept copies' validators go with the requests: a 304 stages the kept copy.
bool FetchFrom(const S_ManifestRequest& request, const std::vector<std::string>& vecNames,
               const std::vector<S_FileBound>& vecBounds, size_t nFirstServer, CKeptManifests& kept,
               std::vector<size_t>& vecServed, S_TransferFailure& failure) {
    std::vector<std::string> vecLocal;
    for (const std::string& strName : vecNames) vecLocal.push_back(request.strDownloadPath + strName);
    vecServed.assign(vecNames.size(), 0);
    kept.Begin();
    bool bRestored = true;
    S_FetchHooks hooks;
    hooks.nFirstServer = nFirstServer;
    // Not checked: a directory that cannot be made fails the fetch into it.
    hooks.fnBeforeFile = [&](size_t i) { CDirectoryEx::CreateParentDirectory(vecLocal[i]); };
    hooks.fnStored = [&](size_t i, size_t nServer) { vecServed[i] = nServer; };
    hooks.vecConditions = kept.Conditions();
    hooks.fnNotModified = [&](size_t i, size_t nServer) {
        vecServed[i] = nServer;
        bRestored = kept.Restore(i, vecLocal[i]) && bRestored;
    };
    hooks.fnValidator = [&](size_t i, const std::string& strValidator) { kept.Fetched(i, strValidator); };
    const bool bAll = request.pUpdateIntf->FetchFiles(static_cast<unsigned int>(request.nUpdateType), vecNames,
                                                      vecLocal, nullptr, 0, hooks, vecBounds) == vecNames.size();
    if (bAll && !bRestored) {
        // A kept copy that cannot be staged is no copy: the names are asked again in full.
        kept.Discard();
        return FetchFrom(request, vecNames, vecBounds, nFirstServer, kept, vecServed, failure);
    }
    failure = bAll ? S_TransferFailure() : request.pUpdateIntf->LastFailure();
    return bAll;
}

}  // namespace

bool FetchManifest(const S_ManifestRequest& request, S_FetchedManifest& fetched) {
    fetched = S_FetchedManifest();
    const S_ReleaseTrust trust = ReadReleaseTrust(request.strAppPath);
    if (trust.eTrust == ETrust::Broken) {
        fetched.eResult = EManifestFetch::TrustBroken;
        return false;
    }
    if (!request.pUpdateIntf || !IsSafeManifestName(request.strManifestName)) {
        fetched.failure.eReason = ETransferFailure::NoServer;
        fetched.failure.strRemoteFile = request.strManifestName;
        return false;
    }
    const std::vector<S_ServerTally> vecServers = request.pUpdateIntf->Tally();
    std::vector<size_t> vecServed;
    if (trust.eTrust == ETrust::Unsigned) {
        CKeptManifests kept(request.strStateDir, request.nUpdateType, {request.strManifestName});
        // A 200 that is no manifest at all is that server's failure, never "nothing to do".
        for (size_t nFirstServer = 0;; nFirstServer = vecServed[0] + 1) {
            if (!FetchFrom(request, {request.strManifestName}, {AnswerBound(kMaxManifestBytes)}, nFirstServer, kept,
                           vecServed, fetched.failure)) {
                return false;
            }
            std::string strText;
            const std::string strPath = request.strDownloadPath + request.strManifestName;
            if (ReadWholeFile(strPath, strText) == FileReadResult::Read && IsManifestText(strText, request.layout))
                break;
            DeleteFileW(Utf8ToWide(strPath).c_str());
            fetched.failure.eReason = ETransferFailure::NotWhatWasAsked;
            fetched.failure.strRemoteFile = request.strManifestName;
            fetched.failure.strServer = vecServers[vecServed[0]].strServer;
            if (vecServed[0] + 1 >= vecServers.size()) return false;
        }
        kept.KeepAccepted(request.strDownloadPath);
        fetched.eResult = EManifestFetch::Accepted;
        fetched.strServer = vecServers[vecServed[0]].strServer;
        return true;
    }

    const std::string strSignatureName = request.strManifestName + kSignatureSuffix;
    const std::string strManifestPath = request.strDownloadPath + request.strManifestName;
    // The client checks against the path it asks for, never against the .sig's claim.
    const std::string strTarget = ManifestTarget(request.nUpdateType, request.strManifestName);
    const std::string strAccepted = ReadAcceptedSigned(request.strAppPath, request.strRecordName);
    CKeptManifests kept(request.strStateDir, request.nUpdateType, {request.strManifestName, strSignatureName});
    // A hostile first server must not stop the update: a refused pair sends the next server on.
    size_t nFirstServer = 0;
    while (nFirstServer < vecServers.size()) {
        // Both in one go (several connections), or the .sig only after the manifest (one).
        if (!FetchFrom(request, {request.strManifestName, strSignatureName},
                       {AnswerBound(kMaxManifestBytes), AnswerBound(kMaxSignatureBytes)}, nFirstServer, kept,
                       vecServed, fetched.failure)) {
            break;  // no server from nFirstServer on delivered: none further to ask
        }
        S_ManifestSignature sig;
        const ESignatureCheck result = VerifyManifestFile(strManifestPath, strTarget, request.layout, trust.vecKeys,
                                                          CurrentUtcTime(), strAccepted, sig);
        if (result == ESignatureCheck::Valid) {
            kept.KeepAccepted(request.strDownloadPath);
            fetched.eResult = EManifestFetch::Accepted;
            fetched.eSignature = ESignatureCheck::Valid;
            fetched.bSigned = true;
            fetched.strRecordName = request.strRecordName;
            fetched.strSigned = sig.strSigned;
            fetched.strExpires = sig.strExpires;
            fetched.strServer = vecServers[vecServed[0]].strServer;
            return true;
        }
        DeleteFileW(Utf8ToWide(strManifestPath).c_str());
        DeleteFileW(Utf8ToWide(request.strDownloadPath + strSignatureName).c_str());
        if (kept.UsedKept()) {
            // A 304 cannot lengthen a signature's life: the kept pair goes, the same server is asked in full.
            kept.Discard();
            continue;
        }
        fetched.vecRefused.push_back({vecServers[vecServed[0]].strServer, result});
        fetched.eResult = EManifestFetch::Refused;
        fetched.eSignature = result;
        // Nothing of a refused manifest stays where a later step could read it.
        DeleteFileW(Utf8ToWide(strManifestPath).c_str());
        DeleteFileW(Utf8ToWide(request.strDownloadPath + strSignatureName).c_str());
        nFirstServer = std::min(vecServed[0], vecServed[1]) + 1;
    }
    DeleteFileW(Utf8ToWide(strManifestPath).c_str());
    DeleteFileW(Utf8ToWide(request.strDownloadPath + strSignatureName).c_str());
    return false;
}

void RecordAcceptedManifest(const std::string& strAppPath, const S_FetchedManifest& fetched) {
    if (fetched.bSigned) WriteAcceptedSigned(strAppPath, fetched.strRecordName, fetched.strSigned);   // best effort
}
