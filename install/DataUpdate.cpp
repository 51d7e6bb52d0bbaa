// The silent update of a data set: the directory named by -d: below the
// application directory, described by its own manifest "config.ini".
//
// No version, record, registry, notification or restart: the digests alone
// decide. The fetched manifest is copied into the data set only when every
// listed file was installed, so the installed "config.ini" never describes
// files that are not there. (Either way the next run compares the installed
// files themselves and finishes what is missing.)
#include <string>
#include <vector>

#include "download/ManifestFetch.h"
#include "download/RemoteFetch.h"
#include "install/FileInstaller.h"
#include "install/SilentSteps.h"
#include "install/SilentUpdate.h"
#include "install/StagedFileCheck.h"
#include "install/UpdatePaths.h"
#include "manifest/CompareDataFiles.h"
#include "platform/fs/DirectoryEx.h"

bool UpdateDataSilently(const S_SilentRun& run) {
    DeleteBackups(run.strAppPath);

    S_FetchedManifest fetched;
    if (!FetchManifest(ManifestRequestOf(run, EManifestLayout::Data), fetched)) {
        return false;   // the staging directory stays as it is
    }

    std::vector<S_UpdateFileInfo> vecFiles;
    CompareDataFiles(run.strDownloadPath + run.strConfigName, run.strTargetPath, vecFiles,
                     DigestCachePath(run.strAppPath));

    CStagedFileCheck check(fetched.bSigned ? EStagedDigest::Sha256 : EStagedDigest::Md5);
    const std::vector<std::string> vecFetch = NamesToFetch(check, run.strDownloadPath, vecFiles);

    // A file that cannot be fetched, or arrives damaged, installs nothing.
    if (GetRemoteFiles(run.nUpdateType, run.pUpdateIntf, run.strDownloadPath, vecFetch) &&
        AllStagedIntact(check, run.strDownloadPath, vecFiles)) {
        if (InstallStagedFiles(run.strDownloadPath, run.strTargetPath, vecFiles)) {
            InstallFile(run.strDownloadPath + run.strConfigName, run.strTargetPath + run.strConfigName);
            RecordAcceptedManifest(run.strAppPath, fetched);
        }
    }

    CDirectoryEx::DeleteDirectory(run.strDownloadPath);
    return true;
}
