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

    for (const std::string& strName : vecNames) {
        if (!IsSafeManifestName(strName)) return false;
        const std::string strLocal = strDownloadPath + strName;

        CDirectoryEx::CreateParentDirectory(strLocal);

        if (pUpdateIntf->GetRemoteFile(static_cast<unsigned int>(nUpdateType), strName.c_str(),
                                       strLocal.c_str(), nullptr, 0) == -1) {
            return false;
        }
    }
    return true;
}
