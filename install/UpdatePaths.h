#pragma once
// Where an update puts its files below the application directory.
#include <string>

// Below the application directory: the update's own directory (staging, log,
// journal, caches), and the program's staging directory in it.
constexpr char kUpdateDir[] = "UPDATE\\";
constexpr char kProgramStagingDir[] = "UPDATE\\Program\\";
constexpr char kDigestCacheName[] = "UPDATE\\Digests.cache";
constexpr char kInstallJournalName[] = "UPDATE\\Install.journal";
constexpr char kUpdateLogName[] = "UPDATE\\Update.log";

// The program files (bProgram): target strAppPath, staging strAppPath +
// "UPDATE\Program\". The data set strUpdateName: target strAppPath + name + '\',
// staging strAppPath + "UPDATE\" + name + '\' (an empty name keeps its
// separator). False, with both left as they were, when the data-set name would
// leave the application directory (IsSafeUpdateName).
bool GetUpdatePaths(const std::string& strAppPath, bool bProgram, const std::string& strUpdateName,
                    std::string& strTargetPath, std::string& strDownloadPath);

// Where the comparisons keep the digests of installed files between runs:
// in "UPDATE\" beside the staging directories, which runs delete, not in one.
std::string DigestCachePath(const std::string& strAppPath);
