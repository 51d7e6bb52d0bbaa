#pragma once
// The program manifest ("UpdateConfig.ini") against the installed files.
#include <string>
#include <vector>

#include "manifest/UpdateCheckInfo.h"
#include "manifest/UpdateFileInfo.h"

class CConfigFile;
class CDigestCache;

// Appends to vecFiles (never clears it) every file of the manifest's "FILES"
// list whose installed copy below strRootPath is missing or has another digest.
// Names that could leave the root (see IsSafeManifestName) are never listed.
//   -1  the manifest does not exist, or the gate let the files be compared but
//       "FILES" has no keys;
//    1  the gate found nothing to do: same region, offered version not greater
//       and no "UNCONDITIONALUPDATE"; no file is read;
//    0  the files were compared.
// Digests are kept in checkInfo.strDigestCache (platform/fs/DigestCache.h) when it is set.
int CompareProgramFiles(S_UpdateCheckInfo& checkInfo, std::vector<S_UpdateFileInfo>& vecFiles);

// The per-file rule both comparisons share: appends {name, MODIFYTIME, SIZE, MD5,
// SHA256, the delta keys} of section strName unless the file strName below the digests' root
// exists and its MD5 equals the manifest's "MD5" byte for byte. A digest that
// cannot be computed differs.
void AppendIfChanged(CConfigFile& manifest, CDigestCache& digests, const std::string& strName,
                     std::vector<S_UpdateFileInfo>& vecFiles);
