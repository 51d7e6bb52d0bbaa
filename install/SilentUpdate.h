#pragma once
// The silent updates (Update.exe -silent): the program files and a data set,
// each run over one record of what is updated and where its files go.
#include <functional>
#include <string>

class CQOVAUpdateIntf;

struct S_SilentRun {
    int nUpdateType = 0;
    CQOVAUpdateIntf* pUpdateIntf = nullptr;  // the caller's; outlives the run
    std::string strTargetPath;    // directory whose files are replaced
    std::string strDownloadPath;  // staging directory for fetched files
    std::string strAppPath;       // directory of Update.exe, ending in '\'
    std::string strConfigName;    // manifest, relative to the update root and the staging directory
    std::string strUpdateName;    // the data set's directory name (-d:); names its signature record
    std::string strVersion;       // installed version (Config.dat)
    std::string strRegion;        // region of this installation (Config.dat)
};

// Asks the user whether to restart the client now, after an update to
// strNewVersion; true closes the running client at once.
using AskRestartNow = std::function<bool(const std::string& strCurVersion, const std::string& strNewVersion,
                                         const std::string& strWebSiteURL)>;

// The silent program update (install/ProgramUpdate.cpp). False only when the
// manifest could not be fetched.
bool UpdateProgramSilently(const S_SilentRun& run, const AskRestartNow& askRestartNow);

// The silent update of a data set (install/DataUpdate.cpp). False only when
// the manifest could not be fetched.
bool UpdateDataSilently(const S_SilentRun& run);
