#include "app/SilentUpdater.h"

#include <vector>

#include "config/ClientConfig.h"
#include "manifest/ManifestName.h"
#include "platform/fs/DirectoryEx.h"

CSilentUpdater::~CSilentUpdater() {
    // The transport goes first, while everything it may still refer to is alive.
    m_pUpdateIntf.reset();
}

void CSilentUpdater::InitCommon(int nUpdateType, const std::string& strUpdateName) {
    m_nUpdateType = nUpdateType;
    m_strUpdateName = strUpdateName;

    std::string strAppPath;
    CDirectoryEx::GetApplicationPath(strAppPath);

    // The server list lives only until the transport has taken what it needs.
    std::vector<S_UpdateSerivceAddr> vecServers;
    bool bUseProxy = true;
    ReadClientConfig(strAppPath, m_strVersion, m_strRegion, vecServers, bUseProxy);
    m_pUpdateIntf = std::make_unique<CQOVAUpdateIntf>(vecServers, bUseProxy);

    m_strAppPath = strAppPath;
    m_strDownloadPath = m_strAppPath;
    m_strTargetPath = m_strAppPath;
}

bool CSilentUpdater::InitProgram(int nUpdateType, const std::string& strUpdateName) {
    if (IsInitialised()) return false;
    InitCommon(nUpdateType, strUpdateName);
    m_strConfigName = "UpdateConfig.ini";
    m_strDownloadPath += "UPDATE\\Program\\";
    return true;
}

bool CSilentUpdater::InitData(int nUpdateType, const std::string& strUpdateName) {
    if (IsInitialised() || !IsSafeUpdateName(strUpdateName)) return false;
    InitCommon(nUpdateType, strUpdateName);
    m_strConfigName = "config.ini";
    // An empty name still gets its separator.
    m_strTargetPath += strUpdateName + "\\";
    m_strDownloadPath += "UPDATE\\" + strUpdateName + "\\";
    return true;
}
