#include "manifest/CompareDataFiles.h"

#include <windows.h>
#include <bcrypt.h>

#include "manifest/CompareProgramFiles.h"
#include "platform/fs/DigestCache.h"
#include "platform/ini/ConfigFile.h"

void CompareDataFiles(const std::string& strConfigFile, const std::string& strRootPath,
                      std::vector<S_UpdateFileInfo>& vecFiles, const std::string& strDigestCache) {
    CConfigFile manifest(strConfigFile);
    std::vector<std::string> vecNames;
    manifest.ReadSections(vecNames);
    if (vecNames.empty()) return;   // nothing compared: the kept digests stay as they are

    CDigestCache digests(BCRYPT_MD5_ALGORITHM, strDigestCache, strRootPath);
    for (const std::string& strName : vecNames) AppendIfChanged(manifest, digests, strName, vecFiles);
    digests.Save();   // best effort: without it the next run reads the files again
}
