#include "install/SilentSteps.h"
#include "platform/base/Text.h"

#include <windows.h>

#include "install/FileInstaller.h"
#include "install/StagedFileCheck.h"
#include "platform/fs/DirectoryEx.h"

S_ManifestRequest ManifestRequestOf(const S_SilentRun& run, EManifestLayout layout) {
    S_ManifestRequest request;
    request.nUpdateType = run.nUpdateType;
    request.pUpdateIntf = run.pUpdateIntf;
    request.strAppPath = run.strAppPath;
    request.strDownloadPath = run.strDownloadPath;
    request.strManifestName = run.strConfigName;
    request.layout = layout;
    request.strRecordName = SignatureRecordName(run.nUpdateType, run.strUpdateName, run.strConfigName);
    return request;
}

void DeleteBackups(const std::string& strAppDir) {
    std::vector<std::string> vecBackups;
    CDirectoryEx::SearchFile(strAppDir, true, "*.bak", vecBackups);
    for (const std::string& strPath : vecBackups) DeleteFileW(Utf8ToWide(strPath).c_str());   // best effort
}

std::vector<std::string> NamesToFetch(CStagedFileCheck& check, const std::string& strDownloadPath,
                                      const std::vector<S_UpdateFileInfo>& vecFiles) {
    std::vector<std::string> vecNames;
    for (const S_UpdateFileInfo& info : vecFiles) {
        if (!check.IsReusable(strDownloadPath + info.strFileName, info)) vecNames.push_back(info.strFileName);
    }
    return vecNames;
}

bool AllStagedIntact(CStagedFileCheck& check, const std::string& strDownloadPath,
                     const std::vector<S_UpdateFileInfo>& vecFiles) {
    for (const S_UpdateFileInfo& info : vecFiles) {
        const std::string strStaged = strDownloadPath + info.strFileName;
        if (check.IsIntact(strStaged, info)) continue;
        // A download may have been continued from a part of another version of
        // the file: nothing of it is kept to be continued or reused.
        DeleteFileW(Utf8ToWide(strStaged).c_str());  // best effort: the next check fetches it again anyway
        return false;
    }
    return true;
}

bool InstallStagedFiles(const std::string& strDownloadPath, const std::string& strTargetPath,
                        const std::vector<S_UpdateFileInfo>& vecFiles) {
    bool bAllInstalled = true;
    for (const S_UpdateFileInfo& info : vecFiles) {
        if (!InstallFile(strDownloadPath + info.strFileName, strTargetPath + info.strFileName)) bAllInstalled = false;
    }
    return bAllInstalled;
}

