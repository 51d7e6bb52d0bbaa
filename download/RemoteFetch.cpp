#include "download/RemoteFetch.h"

#include <windows.h>
#include <shlwapi.h>

#include "manifest/ManifestName.h"
#include "platform/fs/DirectoryEx.h"
#include "platform/http/UpdateIntf.h"

bool GetRemoteFiles(int nUpdateType, CQOVAUpdateIntf* pUpdateIntf, const std::string& strDownloadPath,
                    const std::vector<std::string>& vecNames, S_TransferFailure* pFailure,
                    const std::vector<S_FileBound>& vecBounds) {
    S_TransferFailure ignored;
    S_TransferFailure& failure = pFailure ? *pFailure : ignored;
    failure = S_TransferFailure();
    if (vecNames.empty()) return true;
    if (!pUpdateIntf) {
        failure.eReason = ETransferFailure::NoServer;
        failure.strRemoteFile = vecNames[0];
        return false;
    }

    std::vector<std::string> vecLocal;
    for (const std::string& strName : vecNames) {
        if (!IsSafeManifestName(strName)) {
            // Never asked for: no request could name it safely.
            failure.eReason = ETransferFailure::Unreachable;
            failure.dwError = ERROR_INVALID_NAME;
            failure.strRemoteFile = strName;
            return false;
        }
        vecLocal.push_back(strDownloadPath + strName);
    }
    S_FetchHooks hooks;
    // Not checked: a directory that cannot be made fails the fetch into it.
    hooks.fnBeforeFile = [&](size_t i) { CDirectoryEx::CreateParentDirectory(vecLocal[i]); };
    const bool bAll =
        pUpdateIntf->FetchFiles(static_cast<unsigned int>(nUpdateType), vecNames, vecLocal, nullptr, 0, hooks,
                                vecBounds) ==
        vecNames.size();
    if (!bAll) failure = pUpdateIntf->LastFailure();
    return bAll;
}
