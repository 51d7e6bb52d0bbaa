#include "install/UpdatePaths.h"

#include <windows.h>

#include <vector>

#include "manifest/ManifestName.h"
#include "manifest/ReleaseNames.h"
#include "platform/base/Text.h"
#include "platform/fs/DirectoryEx.h"

bool GetUpdatePaths(const std::string& strAppPath, bool bProgram, const std::string& strUpdateName,
                    std::string& strTargetPath, std::string& strDownloadPath) {
    if (bProgram) {
        strTargetPath = strAppPath;
        strDownloadPath = strAppPath + kProgramStagingDir;
        return true;
    }
    if (!IsSafeUpdateName(strUpdateName)) return false;
    // -d:UPDATE or -d:UpdateState would install into the road's own directories.
    if (!strUpdateName.empty() && IsClientStateName(strUpdateName + "\\x")) return false;
    strTargetPath = strAppPath + strUpdateName + "\\";
    strDownloadPath = strAppPath + kUpdateDir + strUpdateName + "\\";
    return true;
}

std::string StateDirPath(const std::string& strAppPath) { return strAppPath + kStateDir; }

std::string DigestCachePath(const std::string& strAppPath) { return strAppPath + kDigestCacheName; }

int MoveEarlierState(const std::string& strAppPath) {
    const std::string strOld = strAppPath + kUpdateDir;
    std::vector<std::string> vecNames = {"Install.journal", "Update.log.1", "Update.log", "Digests.cache"};
    std::vector<std::string> vecKept;
    CDirectoryEx::SearchFile(strOld, false, "Kept-*", vecKept);
    for (const std::string& strPath : vecKept) vecNames.push_back(strPath.substr(strPath.find_last_of('\\') + 1));
    const std::string strNew = StateDirPath(strAppPath);
    int nMoved = 0;
    for (const std::string& strName : vecNames) {
        const std::wstring wstrOld = Utf8ToWide(strOld + strName);
        const DWORD dwAttributes = GetFileAttributesW(wstrOld.c_str());
        if (dwAttributes == INVALID_FILE_ATTRIBUTES || (dwAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
        CDirectoryEx::CreateParentDirectory(strNew + strName);
        // No replace: a name the state directory already holds is newer than the old one.
        if (MoveFileExW(wstrOld.c_str(), Utf8ToWide(strNew + strName).c_str(), 0)) ++nMoved;
    }
    return nMoved;
}
