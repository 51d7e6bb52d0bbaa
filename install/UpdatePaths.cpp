#include "install/UpdatePaths.h"

#include "manifest/ManifestName.h"

bool GetUpdatePaths(const std::string& strAppPath, bool bProgram, const std::string& strUpdateName,
                    std::string& strTargetPath, std::string& strDownloadPath) {
    if (bProgram) {
        strTargetPath = strAppPath;
        strDownloadPath = strAppPath + kProgramStagingDir;
        return true;
    }
    if (!IsSafeUpdateName(strUpdateName)) return false;
    strTargetPath = strAppPath + strUpdateName + "\\";
    strDownloadPath = strAppPath + kUpdateDir + strUpdateName + "\\";
    return true;
}

std::string DigestCachePath(const std::string& strAppPath) { return strAppPath + kDigestCacheName; }
