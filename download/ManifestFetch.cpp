#include "download/ManifestFetch.h"

#include <windows.h>

#include "config/ReleaseTrust.h"
#include "download/RemoteFetch.h"

std::string SignatureRecordName(int nUpdateType, const std::string& strUpdateName, const std::string& strManifestName) {
    if (nUpdateType == 1) return "Program";
    const std::string strName = strUpdateName.empty() ? "." : strUpdateName;
    return lstrcmpiA(strManifestName.c_str(), "config.ini") == 0 ? strName : strName + "\\" + strManifestName;
}

bool FetchManifest(const S_ManifestRequest& request, S_FetchedManifest& fetched) {
    fetched = S_FetchedManifest();
    const S_ReleaseTrust trust = ReadReleaseTrust(request.strAppPath);
    if (trust.eTrust == ETrust::Broken) {
        fetched.eResult = EManifestFetch::TrustBroken;
        return false;
    }
    if (trust.eTrust == ETrust::Unsigned) {
        if (!GetRemoteFiles(request.nUpdateType, request.pUpdateIntf, request.strDownloadPath,
                            {request.strManifestName}))
            return false;
        fetched.eResult = EManifestFetch::Accepted;
        return true;
    }

    const std::string strSignatureName = request.strManifestName + kSignatureSuffix;
    const std::string strManifestPath = request.strDownloadPath + request.strManifestName;
    // Both in one go (several connections), or the .sig only after the manifest (one).
    if (GetRemoteFiles(request.nUpdateType, request.pUpdateIntf, request.strDownloadPath,
                       {request.strManifestName, strSignatureName})) {
        S_ManifestSignature sig;
        const std::string strAccepted = ReadAcceptedSigned(request.strAppPath, request.strRecordName);
        fetched.eSignature =
            VerifyManifestFile(strManifestPath, request.layout, trust.vecKeys, CurrentUtcTime(), strAccepted, sig);
        fetched.eResult = EManifestFetch::Refused;
        if (fetched.eSignature == ESignatureCheck::Valid) {
            fetched.eResult = EManifestFetch::Accepted;
            fetched.bSigned = true;
            fetched.strRecordName = request.strRecordName;
            fetched.strSigned = sig.strSigned;
            return true;
        }
    }
    // Nothing of a refused manifest stays where a later step could read it.
    DeleteFileA(strManifestPath.c_str());
    DeleteFileA((request.strDownloadPath + strSignatureName).c_str());
    return false;
}

void RecordAcceptedManifest(const std::string& strAppPath, const S_FetchedManifest& fetched) {
    if (fetched.bSigned) WriteAcceptedSigned(strAppPath, fetched.strRecordName, fetched.strSigned);   // best effort
}
