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

#include "app/SilentUpdater.h"
#include "install/FileInstaller.h"
#include "install/SilentSteps.h"
#include "install/StagedFileCheck.h"
#include "platform/fs/DirectoryEx.h"

bool CSilentUpdater::UpdateData() {
    CDirectoryEx::GetApplicationPath(m_strAppPath);
    DeleteBackups(m_strAppPath);

    if (!GetRemoteFiles({m_strConfigName})) return false;   // the staging directory stays as it is

    std::vector<S_UpdateFileInfo> vecFiles;
    CompareDataFiles(vecFiles);

    CStagedFileCheck check;
    const std::vector<std::string> vecFetch = NamesToFetch(check, m_strDownloadPath, vecFiles);

    // A file that cannot be fetched, or arrives damaged, installs nothing.
    if (GetRemoteFiles(vecFetch) && AllStagedIntact(check, m_strDownloadPath, vecFiles)) {
        if (InstallStagedFiles(m_strDownloadPath, m_strTargetPath, vecFiles)) {
            InstallFile(m_strDownloadPath + m_strConfigName, m_strTargetPath + m_strConfigName);
        }
    }

    CDirectoryEx::DeleteDirectory(m_strDownloadPath);
    return true;
}
