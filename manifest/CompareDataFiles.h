#pragma once
// A data set's manifest ("config.ini") against the installed data set.
#include <string>
#include <vector>

#include "manifest/UpdateFileInfo.h"

// Every section of the manifest at strConfigFile names a file relative to
// strRootPath (ending in '\'); each one that is missing there or has another
// digest is appended to vecFiles, which is never cleared. No version gate; a
// missing or empty manifest lists nothing. Unsafe names are never listed.
// Digests are kept in strDigestCache (platform/fs/DigestCache.h) when it is set.
void CompareDataFiles(const std::string& strConfigFile, const std::string& strRootPath,
                      std::vector<S_UpdateFileInfo>& vecFiles, const std::string& strDigestCache = std::string());
