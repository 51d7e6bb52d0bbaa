#pragma once
// The state of one silent run: what is updated, where its files go and the
// transport that fetches them. Built on the stack, initialised once, used by
// one driver, destroyed.
#include <memory>
#include <string>

#include "install/SilentUpdate.h"
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

    // The silent program update (UpdateProgramSilently), asking with the
    // notification dialog whether to restart the client now. False only when
    // the manifest could not be fetched.
    bool UpdateProgram();
    // The silent update of the data set (UpdateDataSilently). False only
    // when the manifest could not be fetched.
    bool UpdateData();

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
    // Kind, name, client configuration, transport and paths; false (nothing
    // set) when already initialised or the data-set name is unsafe.
    bool Init(int nUpdateType, const std::string& strUpdateName, bool bProgram, const char* pszConfigName);
    // What the update road is given.
    S_RunSetup Setup() const;
};
