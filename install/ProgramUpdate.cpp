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

#include "download/ManifestFetch.h"
#include "download/RemoteFetch.h"
#include "install/MainClient.h"
#include "install/SilentSteps.h"
#include "install/SilentUpdate.h"
#include "install/StagedFileCheck.h"
#include "install/UpdatePaths.h"
#include "install/UpdateRecord.h"
#include "manifest/CompareProgramFiles.h"
#include "manifest/VersionOrder.h"
#include "platform/fs/DirectoryEx.h"
#include "platform/ini/ConfigFile.h"
#include "platform/ini/CryptConfigFile.h"

namespace {

// The client was asked to close (or not): give it time to go before the new one starts.
const DWORD kRestartDelayMs = 5000;

}  // namespace

bool UpdateProgramSilently(const S_SilentRun& run, const AskRestartNow& askRestartNow) {
    DeleteBackups(run.strAppPath);

    S_FetchedManifest fetched;
    if (!FetchManifest(ManifestRequestOf(run, EManifestLayout::Program), fetched)) {
        return false;   // the staging directory stays as it is
    }
    const std::string strManifestPath = run.strDownloadPath + run.strConfigName;

    std::vector<S_UpdateFileInfo> vecFiles;
    S_UpdateCheckInfo checkInfo{run.strTargetPath, strManifestPath, run.strVersion, run.strRegion,
                                DigestCachePath(run.strAppPath)};
    CompareProgramFiles(checkInfo, vecFiles);

    CStagedFileCheck check(fetched.bSigned ? EStagedDigest::Sha256 : EStagedDigest::Md5);
    const std::vector<std::string> vecFetch = NamesToFetch(check, run.strDownloadPath, vecFiles);

    CCryptConfigFile clientConfig(run.strAppPath + "Config.dat", "");
    CConfigFile manifest(strManifestPath);
    std::string strNewVersion;
    std::string strNewRegion;
    manifest.ReadString("Version", "VERSION", "", strNewVersion);
    manifest.ReadString("Version", "REGION", "", strNewRegion);

    if (vecFiles.empty()) RecordAcceptedManifest(run.strAppPath, fetched);   // nothing was missing
    // A file that cannot be fetched, or arrives damaged, installs nothing.
    if (!vecFiles.empty() && GetRemoteFiles(run.nUpdateType, run.pUpdateIntf, run.strDownloadPath, vecFetch) &&
        AllStagedIntact(check, run.strDownloadPath, vecFiles)) {
        const bool bInstalled = InstallStagedFiles(run.strDownloadPath, run.strTargetPath, vecFiles);
        if (bInstalled) {
            clientConfig.WriteString("Update", "Version", strNewVersion);
            RecordAcceptedManifest(run.strAppPath, fetched);
        }
        WriteUpdateRecord(run.strAppPath, "%Y-%m-%d", strNewVersion, run.strVersion, bInstalled ? 1 : 0);
        if (bInstalled) WriteProductRegistry(run.strAppPath, strNewVersion);

        const bool bRegionChanged = strNewRegion != run.strRegion;
        const bool bNewer = IsVersionGreater(strNewVersion, run.strVersion);
        if (bInstalled && (bRegionChanged || (bNewer && manifest.ReadInteger("Version", "NOTIFIY", 0) != 0))) {
            std::string strWebSiteURL;
            clientConfig.ReadString("Server", "WebSiteURL", "", strWebSiteURL);
            if (askRestartNow(run.strVersion, strNewVersion, strWebSiteURL)) CloseMainClient();
        }
        StartMainClient(run.strAppPath, kRestartDelayMs);
    }

    CDirectoryEx::DeleteDirectory(run.strDownloadPath);
    return true;
}
