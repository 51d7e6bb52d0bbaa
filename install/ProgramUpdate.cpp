// The silent update of the program files: clean up old backups, fetch and
// judge the manifest, fetch what changed, check it, put it in place, leave the
// traces of the update, offer the user a restart of the client and start it.
//
// The installed version (Config.dat, registry) moves on only when every listed
// file is in place. When one could not be installed, both keep the old version
// so that the next run compares again and finishes the job, and the record
// says IsSucceed=0. Such a run shows no notification (it would announce a
// version that is not there), but still starts the client after the usual wait,
// as every run that reached the copy step does.
#include <windows.h>

#include <string>
#include <vector>

#include "app/SilentUpdater.h"
#include "install/MainClient.h"
#include "install/SilentSteps.h"
#include "install/StagedFileCheck.h"
#include "install/UpdateRecord.h"
#include "manifest/CompareProgramFiles.h"
#include "manifest/VersionOrder.h"
#include "platform/ini/ConfigFile.h"
#include "platform/ini/CryptConfigFile.h"
#include "platform/fs/DirectoryEx.h"
#include "ui/DlgNotify.h"

namespace {

// The client was asked to close (or not): give it time to go before the new one starts.
const DWORD kRestartDelayMs = 5000;

// Asks whether to restart the client now; "立即升级" closes the running client.
void NotifyAndMaybeCloseClient(const std::string& strCurVersion, const std::string& strNewVersion,
                               const std::string& strWebSiteURL) {
    CDlgNotify dlg;
    dlg.m_strCurVersion = strCurVersion;
    dlg.m_strNewVersion = strNewVersion;
    dlg.m_strWebSiteURL = strWebSiteURL;
    if (dlg.DoModal() == IDYES) CloseMainClient();
}

}  // namespace

bool CSilentUpdater::UpdateProgram() {
    DeleteBackups(m_strAppPath);

    if (!GetRemoteFiles({m_strConfigName})) return false;   // the staging directory stays as it is
    const std::string strManifestPath = m_strDownloadPath + m_strConfigName;

    std::vector<S_UpdateFileInfo> vecFiles;
    S_UpdateCheckInfo checkInfo{m_strTargetPath, strManifestPath, m_strVersion, m_strRegion};
    CompareProgramFiles(checkInfo, vecFiles);

    CStagedFileCheck check;
    const std::vector<std::string> vecFetch = NamesToFetch(check, m_strDownloadPath, vecFiles);

    CCryptConfigFile clientConfig(m_strAppPath + "Config.dat", "");
    CConfigFile manifest(strManifestPath);
    std::string strNewVersion;
    std::string strNewRegion;
    manifest.ReadString("Version", "VERSION", "", strNewVersion);
    manifest.ReadString("Version", "REGION", "", strNewRegion);

    // A file that cannot be fetched, or arrives damaged, installs nothing.
    if (!vecFiles.empty() && GetRemoteFiles(vecFetch) && AllStagedIntact(check, m_strDownloadPath, vecFiles)) {
        const bool bInstalled = InstallStagedFiles(m_strDownloadPath, m_strTargetPath, vecFiles);
        if (bInstalled) clientConfig.WriteString("Update", "Version", strNewVersion);
        WriteUpdateRecord(m_strAppPath, "%Y-%m-%d", strNewVersion, m_strVersion, bInstalled ? 1 : 0);
        if (bInstalled) WriteProductRegistry(m_strAppPath, strNewVersion);

        const bool bRegionChanged = strNewRegion != m_strRegion;
        const bool bNewer = IsVersionGreater(strNewVersion, m_strVersion);
        if (bInstalled && (bRegionChanged || (bNewer && manifest.ReadInteger("Version", "NOTIFIY", 0) != 0))) {
            std::string strWebSiteURL;
            clientConfig.ReadString("Server", "WebSiteURL", "", strWebSiteURL);
            NotifyAndMaybeCloseClient(m_strVersion, strNewVersion, strWebSiteURL);
        }
        StartMainClient(m_strAppPath, kRestartDelayMs);
    }

    CDirectoryEx::DeleteDirectory(m_strDownloadPath);
    return true;
}
