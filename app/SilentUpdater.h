#pragma once
// The state of one silent run: what is updated, where its files go and the
// transport that fetches them. Built on the stack, initialised once, used by
// one driver, destroyed.
#include <memory>
#include <string>
#include <vector>

#include "manifest/UpdateFileInfo.h"
#include "platform/http/UpdateIntf.h"

class CSilentUpdater {
public:
    CSilentUpdater() = default;
    ~CSilentUpdater();
    CSilentUpdater(const CSilentUpdater&) = delete;
    CSilentUpdater& operator=(const CSilentUpdater&) = delete;

    // The program files: target = application directory, staging = its UPDATE\Program\.
    // False when the object was already initialised.
    bool InitProgram(int nUpdateType, const std::string& strUpdateName);
    // The data set strUpdateName: target = application directory + name + '\',
    // staging = application directory + "UPDATE\" + name + '\'. False when the
    // object was already initialised or the name would leave the application
    // directory (IsSafeUpdateName); the object then stays uninitialised.
    bool InitData(int nUpdateType, const std::string& strUpdateName);

    bool IsInitialised() const { return m_pUpdateIntf != nullptr; }

    // The silent program update (install/ProgramUpdate.cpp). False only when
    // the manifest could not be fetched.
    bool UpdateProgram();
    // The silent update of the data set (install/DataUpdate.cpp). False only
    // when the manifest could not be fetched.
    bool UpdateData();

    // Fetches the names, relative to the update root of this kind, into the
    // staging directory; false at the first failure (download/RemoteFetch.h).
    bool GetRemoteFiles(const std::vector<std::string>& vecNames);
    // The staged data-set manifest against the data set's directory; appends
    // what is missing or differs (manifest/CompareDataFiles.h).
    void CompareDataFiles(std::vector<S_UpdateFileInfo>& vecFiles);

    int m_nUpdateType = 0;
    std::string m_strUpdateName;
    std::unique_ptr<CQOVAUpdateIntf> m_pUpdateIntf;
    std::string m_strTargetPath;      // directory whose files are replaced
    std::string m_strDownloadPath;    // staging directory for fetched files
    std::string m_strAppPath;         // directory of Update.exe, ending in '\'
    std::string m_strConfigName;      // manifest, relative to the update root and the staging directory
    std::string m_strVersion;         // installed version (Config.dat)
    std::string m_strRegion;          // region of this installation (Config.dat)

private:
    // The part both kinds share: kind, name, client configuration, transport, paths.
    void InitCommon(int nUpdateType, const std::string& strUpdateName);
};
