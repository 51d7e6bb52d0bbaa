#include "app/SilentUpdater.h"

#include <windows.h>

#include <utility>

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
    m_setup.pUpdateIntf = nullptr;
    m_setup.pTransport.reset();
}

bool CSilentUpdater::Init(ERoad eRoad, int nUpdateType, const std::string& strUpdateName) {
    if (IsInitialised()) return false;
    S_RunSetup setup = LoadRunSetup(eRoad, nUpdateType, strUpdateName);
    if (!setup.bPathsUsable) return false;
    m_setup = std::move(setup);
    m_strConfigName = PolicyFor(eRoad, nUpdateType).strManifestName;
    return true;
}

bool CSilentUpdater::InitProgram(int nUpdateType, const std::string& strUpdateName) {
    return Init(ERoad::SilentProgram, nUpdateType, strUpdateName);
}

bool CSilentUpdater::InitData(int nUpdateType, const std::string& strUpdateName) {
    return Init(ERoad::SilentData, nUpdateType, strUpdateName);
}

bool CSilentUpdater::UpdateProgram() { return UpdateProgramSilently(m_setup, AskWithNotification, &m_eEndResult); }

bool CSilentUpdater::UpdateData() { return UpdateDataSilently(m_setup, &m_eEndResult); }
