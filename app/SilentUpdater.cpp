#include "app/SilentUpdater.h"

#include <windows.h>

#include <vector>

#include "config/ClientConfig.h"
#include "install/UpdatePaths.h"
#include "platform/fs/DirectoryEx.h"
#include "ui/DlgNotify.h"

namespace {

// "立即升级" in the notification restarts the client now.
bool AskWithNotification(const std::string& strCurVersion, const std::string& strNewVersion,
                         const std::string& strWebSiteURL) {
    CDlgNotify dlg;
    dlg.m_strCurVersion = strCurVersion;
    dlg.m_strNewVersion = strNewVersion;
    dlg.m_strWebSiteURL = strWebSiteURL;
    return dlg.DoModal() == IDYES;
}

}  // namespace

CSilentUpdater::~CSilentUpdater() {
    // The transport goes first, while everything it may still refer to is alive.
    m_pUpdateIntf.reset();
}

bool CSilentUpdater::Init(int nUpdateType, const std::string& strUpdateName, bool bProgram,
                          const char* pszConfigName) {
    if (IsInitialised()) return false;
    std::string strAppPath;
    CDirectoryEx::GetApplicationPath(strAppPath);
    std::string strTargetPath, strDownloadPath;
    if (!GetUpdatePaths(strAppPath, bProgram, strUpdateName, strTargetPath, strDownloadPath)) return false;

    m_nUpdateType = nUpdateType;
    m_strUpdateName = strUpdateName;
    // The server list lives only until the transport has taken what it needs.
    std::vector<S_UpdateSerivceAddr> vecServers;
    bool bUseProxy = true;
    ReadClientConfig(strAppPath, m_strVersion, m_strRegion, vecServers, bUseProxy);
    m_pUpdateIntf = std::make_unique<CQOVAUpdateIntf>(vecServers, bUseProxy);
    m_pUpdateIntf->SetConnections(ReadConnectionCount(strAppPath));

    m_strAppPath = strAppPath;
    m_strTargetPath = strTargetPath;
    m_strDownloadPath = strDownloadPath;
    m_strConfigName = pszConfigName;
    return true;
}

bool CSilentUpdater::InitProgram(int nUpdateType, const std::string& strUpdateName) {
    return Init(nUpdateType, strUpdateName, true, "UpdateConfig.ini");
}

bool CSilentUpdater::InitData(int nUpdateType, const std::string& strUpdateName) {
    return Init(nUpdateType, strUpdateName, false, "config.ini");
}

S_RunSetup CSilentUpdater::Setup() const {
    return MakeRunSetup(m_nUpdateType, m_pUpdateIntf.get(), m_strAppPath, m_strTargetPath, m_strDownloadPath,
                        m_strUpdateName, m_strVersion, m_strRegion);
}

bool CSilentUpdater::UpdateProgram() { return UpdateProgramSilently(Setup(), AskWithNotification); }

bool CSilentUpdater::UpdateData() { return UpdateDataSilently(Setup()); }
