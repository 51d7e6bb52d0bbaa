#pragma once
// Where an update puts its files below the application directory.
#include <string>

// Below the application directory: the staging directories (UPDATE\Program\,
// UPDATE\<data set>\, and UPDATE\ itself for an empty data-set name), which
// the end of a run deletes.
constexpr char kUpdateDir[] = "UPDATE\\";
constexpr char kProgramStagingDir[] = "UPDATE\\Program\\";
// The road's own state (journal, log, digest cache, kept manifests) lies
// beside UPDATE\, never in it: no staging directory, whatever the data-set
// name, can be or contain it.
constexpr char kStateDir[] = "UpdateState\\";
constexpr char kDigestCacheName[] = "UpdateState\\Digests.cache";
constexpr char kInstallJournalName[] = "UpdateState\\Install.journal";
constexpr char kUpdateLogName[] = "UpdateState\\Update.log";

// The program files (bProgram): target strAppPath, staging strAppPath +
// "UPDATE\Program\". The data set strUpdateName: target strAppPath + name + '\',
// staging strAppPath + "UPDATE\" + name + '\' (an empty name keeps its
// separator). False, with both left as they were, when the data-set name would
// leave the application directory (IsSafeUpdateName) or name the client's own
// state (UPDATE, UpdateState).
bool GetUpdatePaths(const std::string& strAppPath, bool bProgram, const std::string& strUpdateName,
                    std::string& strTargetPath, std::string& strDownloadPath);

// The road's state directory below strAppPath, ending in '\'.
std::string StateDirPath(const std::string& strAppPath);

// Where the comparisons keep the digests of installed files between runs.
std::string DigestCachePath(const std::string& strAppPath);

// Once, before a run reads any of its state: what an earlier version kept in
// UPDATE\ (Install.journal, Update.log and its older generation,
// Digests.cache, Kept-*) is moved into the state directory. A name already
// there stays as it is, and so does the old file (the next clean-up of
// UPDATE\ takes it). Best effort: returns the number of files moved.
int MoveEarlierState(const std::string& strAppPath);
