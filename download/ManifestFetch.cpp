#include "download/ManifestFetch.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cwchar>

#include "config/ReleaseTrust.h"
#include "download/ManifestCache.h"
#include "manifest/ManifestName.h"
#include "platform/base/FailureLog.h"
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

// Without a key: the manifest alone, taken as delivered.
bool FetchUnsigned(const S_ManifestRequest& request, const std::vector<S_ServerTally>& vecServers,
                   S_FetchedManifest& fetched) {
    CKeptManifests kept(request.strStateDir, request.nUpdateType, {request.strManifestName}, request.pLog);
    std::vector<size_t> vecServed;
    const std::string strPath = request.strDownloadPath + request.strManifestName;
    // A 200 that is no manifest at all is that server's failure, never "nothing to do".
    for (size_t nFirstServer = 0;; nFirstServer = vecServed[0] + 1) {
        if (!FetchFrom(request, {request.strManifestName}, {AnswerBound(kMaxManifestBytes)}, nFirstServer, kept,
                       vecServed, fetched.failure)) {
            return false;
        }
        std::string strText;
        if (ReadWholeFile(strPath, strText) == FileReadResult::Read && IsManifestText(strText, request.layout)) break;
        DeleteFileLogged(request.pLog, strPath);
        fetched.failure.eReason = ETransferFailure::NotWhatWasAsked;
        fetched.failure.strRemoteFile = request.strManifestName;
        fetched.failure.strServer = vecServers[vecServed[0]].strServer;
        if (vecServed[0] + 1 >= vecServers.size()) return false;
    }
    fetched.bKeptCopy = kept.UsedKept();
    kept.KeepAccepted(request.strDownloadPath);
    fetched.eResult = EManifestFetch::Accepted;
    fetched.strServer = vecServers[vecServed[0]].strServer;
    return true;
}

// With a key: the manifest and its .sig, fetched together and checked before
// either is used.
class CSignedPair {
public:
    CSignedPair(const S_ManifestRequest& request, const S_ReleaseTrust& trust)
        : m_request(request),
          m_trust(trust),
          m_strSignatureName(request.strManifestName + kSignatureSuffix),
          m_strManifestPath(request.strDownloadPath + request.strManifestName),
          // The client checks against the path it asks for, never against the .sig's claim.
          m_strTarget(ManifestTarget(request.nUpdateType, request.strManifestName)),
          m_strAccepted(ReadAcceptedSigned(request.strAppPath, request.strRecordName)),
          m_kept(request.strStateDir, request.nUpdateType, {request.strManifestName, m_strSignatureName}, request.pLog) {}

    // The servers from the first on, until one delivers a pair that passes.
    bool Fetch(const std::vector<S_ServerTally>& vecServers, S_FetchedManifest& fetched);

private:
    bool Attempt(size_t nFirstServer, S_TransferFailure& failure, ESignatureCheck& eCheck, S_ManifestSignature& sig);
    void Accept(const S_ManifestSignature& sig, const std::string& strServer, S_FetchedManifest& fetched);
    void DeletePair() const;

    const S_ManifestRequest& m_request;
    const S_ReleaseTrust& m_trust;
    const std::string m_strSignatureName;
    const std::string m_strManifestPath;
    const std::string m_strTarget;
    const std::string m_strAccepted;
    CKeptManifests m_kept;
    std::vector<size_t> m_vecServed;   // of the last attempt: the server each of the pair came from
};

bool CSignedPair::Fetch(const std::vector<S_ServerTally>& vecServers, S_FetchedManifest& fetched) {
    // A hostile first server must not stop the update: a refused pair sends the next server on.
    size_t nFirstServer = 0;
    while (nFirstServer < vecServers.size()) {
        ESignatureCheck eCheck = ESignatureCheck::Valid;
        S_ManifestSignature sig;
        if (!Attempt(nFirstServer, fetched.failure, eCheck, sig)) break;  // none further to ask
        const std::string& strServer = vecServers[m_vecServed[0]].strServer;
        if (eCheck == ESignatureCheck::Valid) {
            Accept(sig, strServer, fetched);
            return true;
        }
        if (m_kept.UsedKept()) {
            // A 304 cannot lengthen a signature's life: the kept pair goes, the same server is asked in full.
            m_kept.Discard();
            continue;
        }
        fetched.vecRefused.push_back({strServer, eCheck});
        fetched.eResult = EManifestFetch::Refused;
        fetched.eSignature = eCheck;
        nFirstServer = std::min(m_vecServed[0], m_vecServed[1]) + 1;
    }
    DeletePair();   // what a fetch that failed part way left
    return false;
}

// One attempt from server nFirstServer on: false when none of them delivered
// the pair, else eCheck is its check. A refused pair is deleted at once.
bool CSignedPair::Attempt(size_t nFirstServer, S_TransferFailure& failure, ESignatureCheck& eCheck,
                          S_ManifestSignature& sig) {
    // Both in one go (several connections), or the .sig only after the manifest (one).
    const bool bDelivered = FetchFrom(m_request, {m_request.strManifestName, m_strSignatureName},
                                      {AnswerBound(kMaxManifestBytes), AnswerBound(kMaxSignatureBytes)},
                                      nFirstServer, m_kept, m_vecServed, failure);
    if (!bDelivered) return false;
    eCheck = VerifyManifestFile(m_strManifestPath, m_strTarget, m_request.layout, m_trust.vecKeys, CurrentUtcTime(),
                                m_strAccepted, sig);
    if (eCheck != ESignatureCheck::Valid) DeletePair();
    return true;
}

// Nothing of a pair that was not accepted stays where a later step could read it.
void CSignedPair::DeletePair() const {
    DeleteFileLogged(m_request.pLog, m_strManifestPath);
    DeleteFileLogged(m_request.pLog, m_request.strDownloadPath + m_strSignatureName);
}

void CSignedPair::Accept(const S_ManifestSignature& sig, const std::string& strServer, S_FetchedManifest& fetched) {
    fetched.bKeptCopy = m_kept.UsedKept();
    m_kept.KeepAccepted(m_request.strDownloadPath);
    fetched.eResult = EManifestFetch::Accepted;
    fetched.eSignature = ESignatureCheck::Valid;
    fetched.bSigned = true;
    fetched.strRecordName = m_request.strRecordName;
    fetched.strSigned = sig.strSigned;
    fetched.strExpires = sig.strExpires;
    fetched.strServer = strServer;
}

}  // namespace

bool FetchManifest(const S_ManifestRequest& request, S_FetchedManifest& fetched) {
    fetched = S_FetchedManifest();
    const S_ReleaseTrust trust = ReadReleaseTrust(request.strAppPath);
    if (trust.eTrust == ETrust::Broken) {
        fetched.eResult = EManifestFetch::TrustBroken;
        fetched.bConfigDamaged = trust.bConfigDamaged;
        return false;
    }
    if (!request.pUpdateIntf || !IsSafeManifestName(request.strManifestName)) {
        fetched.failure.eReason = ETransferFailure::NoServer;
        fetched.failure.strRemoteFile = request.strManifestName;
        return false;
    }
    const std::vector<S_ServerTally> vecServers = request.pUpdateIntf->Tally();
    if (trust.eTrust == ETrust::Unsigned) return FetchUnsigned(request, vecServers, fetched);
    CSignedPair pair(request, trust);
    return pair.Fetch(vecServers, fetched);
}

void RecordAcceptedManifest(const std::string& strAppPath, const S_FetchedManifest& fetched) {
    if (fetched.bSigned) WriteAcceptedSigned(strAppPath, fetched.strRecordName, fetched.strSigned);   // best effort
}
