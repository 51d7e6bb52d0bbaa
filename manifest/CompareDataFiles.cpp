#include "manifest/CompareDataFiles.h"

#include "manifest/CompareProgramFiles.h"
#include "platform/fs/MD5.h"
#include "platform/ini/ConfigFile.h"

void CompareDataFiles(const std::string& strConfigFile, const std::string& strRootPath,
                      std::vector<S_UpdateFileInfo>& vecFiles) {
    CConfigFile manifest(strConfigFile);
    CMD5 md5;

    std::vector<std::string> vecNames;
    manifest.ReadSections(vecNames);
    for (const std::string& strName : vecNames) {
        AppendIfChanged(manifest, md5, strRootPath, strName, vecFiles);
    }
}
