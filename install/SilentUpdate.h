#pragma once
// The silent updates (Update.exe -silent): the program files and a data set,
// each one run of the update road (install/UpdateRun.h) with its own policy.
#include <functional>
#include <string>

#include "install/UpdateRun.h"

// Asks the user whether to restart the client now, after an update to
// strNewVersion; true closes the running client at once.
using AskRestartNow = std::function<bool(const std::string& strCurVersion, const std::string& strNewVersion,
                                         const std::string& strWebSiteURL)>;

// The silent program update. After a complete installation the user is asked
// (ShouldNotify); the client is started again 5 s after any run that reached
// the installation, also one that had to put the old release back. False only
// when the manifest could not be had (the staging directory then stays).
// *peEnd (when given): how the run ended.
bool UpdateProgramSilently(const S_RunSetup& setup, const AskRestartNow& askRestartNow, ERunResult* peEnd = nullptr);

// The silent update of a data set: no version, record, registry, notification
// or restart; its manifest is copied in once every file is in place. False
// only when the manifest could not be had. *peEnd (when given): how the run ended.
bool UpdateDataSilently(const S_RunSetup& setup, ERunResult* peEnd = nullptr);
