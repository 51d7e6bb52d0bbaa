#include "manifest/CompareProgramFiles.h"
#include "platform/base/Text.h"

#include <windows.h>
#include <bcrypt.h>
#include <shlwapi.h>

#include "manifest/ManifestName.h"
#include "manifest/VersionOrder.h"
#include "platform/fs/DigestCache.h"
#include "platform/ini/ConfigFile.h"

void AppendIfChanged(CConfigFile& manifest, CDigestCache& digests, const std::string& strName,
                     std::vector<S_UpdateFileInfo>& vecFiles) {
    if (!IsSafeManifestName(strName)) return;   // a hostile name never reaches a path

    const std::string* pExpected = manifest.FindValue(strName, "MD5");
    // No separate existence test: opening the file is that test. A missing file
    // fails at the open, before any digest work, and is listed like a file whose
    // digest cannot be computed.
    std::string strActual;
    digests.GetFileDigest(strName, strActual);
    if (pExpected && !strActual.empty() && strActual == *pExpected) return;
    // Size and time are only wanted for listed files.
    S_UpdateFileInfo info;
    info.strFileName = strName;
    info.strInstalledMD5 = strActual;   // a patch's base, found without reading the file again
    if (pExpected) info.strMD5 = *pExpected;
    manifest.ReadString(strName, "MODIFYTIME", "", info.strModifyTime);
    manifest.ReadString(strName, "SIZE", "", info.strSize);
    manifest.ReadString(strName, "SHA256", "", info.strSHA256);
    // Best effort: a malformed delta leaves the whole file as the only way.
    ReadFileDelta([&](const std::string& strKey) { return manifest.FindValue(strName, strKey); }, info.strSize,
                  info.delta);
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

    CDigestCache digests(BCRYPT_MD5_ALGORITHM, checkInfo.strDigestCache, checkInfo.strRootPath);
    for (const std::string& strName : vecNames) AppendIfChanged(manifest, digests, strName, vecFiles);
    digests.Save();   // best effort: without it the next run reads the files again
    return 0;
}
