#include "manifest/CompareProgramFiles.h"
#include "platform/base/Text.h"

#include <windows.h>
#include <shlwapi.h>

#include "manifest/ManifestName.h"
#include "manifest/VersionOrder.h"
#include "platform/fs/MD5.h"
#include "platform/ini/ConfigFile.h"

void AppendIfChanged(CConfigFile& manifest, CMD5& md5, const std::string& strRootPath,
                     const std::string& strName, std::vector<S_UpdateFileInfo>& vecFiles) {
    if (!IsSafeManifestName(strName)) return;   // a hostile name never reaches a path

    S_UpdateFileInfo info;
    info.strFileName = strName;
    manifest.ReadString(strName, "MD5", "", info.strMD5);

    // No separate existence test: opening the file is that test. A missing file
    // fails at the open, before any digest work, and is listed like a file whose
    // digest cannot be computed; a second look-up per file cost about a tenth of
    // the whole comparison under Wine.
    const std::string strPath = strRootPath + strName;
    std::string strActual;
    md5.GetFileMD5(strPath.c_str(), strActual);
    if (!strActual.empty() && strActual == info.strMD5) return;
    // Size and time are only wanted for listed files.
    manifest.ReadString(strName, "MODIFYTIME", "", info.strModifyTime);
    manifest.ReadString(strName, "SIZE", "", info.strSize);
    manifest.ReadString(strName, "SHA256", "", info.strSHA256);
    vecFiles.push_back(std::move(info));
}

int CompareProgramFiles(S_UpdateCheckInfo& checkInfo, std::vector<S_UpdateFileInfo>& vecFiles) {
    if (!PathFileExistsW(Utf8ToWide(checkInfo.strConfigFile).c_str())) return -1;

    CConfigFile manifest(checkInfo.strConfigFile);

    std::string strOffered;
    std::string strRegion;
    manifest.ReadString("Version", "VERSION", "", strOffered);
    manifest.ReadString("Version", "REGION", "", strRegion);
    const int nUnconditional = manifest.ReadInteger("Version", "UNCONDITIONALUPDATE", 0);

    // A manifest for another region always gets its files compared; for our
    // own region only a greater version does.
    if (nUnconditional == 0 && strRegion == checkInfo.strRegion &&
        !IsVersionGreater(strOffered, checkInfo.strVersion)) {
        return 1;
    }

    std::vector<std::string> vecNames;
    manifest.ReadSection("FILES", vecNames);
    if (vecNames.empty()) return -1;

    CMD5 md5;
    for (const std::string& strName : vecNames) {
        AppendIfChanged(manifest, md5, checkInfo.strRootPath, strName, vecFiles);
    }
    return 0;
}
