#include "download/RemoteFetch.h"

#include <windows.h>
#include <shlwapi.h>

#include "manifest/ManifestName.h"
#include "platform/fs/DirectoryEx.h"
#include "platform/http/UpdateIntf.h"

bool GetRemoteFiles(int nUpdateType, CQOVAUpdateIntf* pUpdateIntf, const std::string& strDownloadPath,
                    const std::vector<std::string>& vecNames) {
    if (vecNames.empty()) return true;
    if (!pUpdateIntf) return false;

    std::vector<std::string> vecLocal;
    for (const std::string& strName : vecNames) {
        if (!IsSafeManifestName(strName)) return false;
        vecLocal.push_back(strDownloadPath + strName);
    }
    S_FetchHooks hooks;
    // Not checked: a directory that cannot be made fails the fetch into it.
    hooks.fnBeforeFile = [&](size_t i) { CDirectoryEx::CreateParentDirectory(vecLocal[i]); };
    return pUpdateIntf->FetchFiles(static_cast<unsigned int>(nUpdateType), vecNames, vecLocal, nullptr, 0, hooks) ==
           vecNames.size();
}
