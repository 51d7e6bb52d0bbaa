#pragma once
// The steps the silent program and data-set updates share, between the
// manifest comparison and the clean-up.
#include <string>
#include <vector>

#include "download/ManifestFetch.h"
#include "install/SilentUpdate.h"
#include "manifest/UpdateFileInfo.h"

class CStagedFileCheck;

// The manifest fetch of a silent run (download/ManifestFetch.h).
S_ManifestRequest ManifestRequestOf(const S_SilentRun& run, EManifestLayout layout);

// Deletes every "*.bak" file at and below strAppDir, whichever run left it.
// Failures are ignored: a backup still in use stays until a later run.
void DeleteBackups(const std::string& strAppDir);

// The names of vecFiles, in order, whose staged copy (strDownloadPath + name)
// an earlier, interrupted run did not already leave with the expected digest.
std::vector<std::string> NamesToFetch(CStagedFileCheck& check, const std::string& strDownloadPath,
                                      const std::vector<S_UpdateFileInfo>& vecFiles);

// True when every staged copy of vecFiles passes the install gate (digest in
// any letter case, size): a damaged download counts as a failed fetch, and the
// first damaged copy found is deleted.
bool AllStagedIntact(CStagedFileCheck& check, const std::string& strDownloadPath,
                     const std::vector<S_UpdateFileInfo>& vecFiles);

// Installs each staged copy over strTargetPath + name (InstallFile), in order,
// going on after a file that cannot be installed. True when every file is in place.
bool InstallStagedFiles(const std::string& strDownloadPath, const std::string& strTargetPath,
                        const std::vector<S_UpdateFileInfo>& vecFiles);
