#include "install/FileInstaller.h"

#include <windows.h>
#include <shlwapi.h>

#include <cstdio>

#include "platform/base/Win32Handles.h"
#include "platform/fs/DirectoryEx.h"

namespace {

// Copies and forces the copy to disk, so that the move that follows can never
// publish a file whose blocks are still in the cache when the power fails.
bool CopyAndFlush(const std::string& strSource, const std::string& strTemp) {
    if (!CopyFileA(strSource.c_str(), strTemp.c_str(), FALSE)) return false;
    UniqueFile hTemp(CreateFileA(strTemp.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    return hTemp && FlushFileBuffers(hTemp.get());
}

bool MoveOver(const std::string& strFrom, const std::string& strTo) {
    return MoveFileExA(strFrom.c_str(), strTo.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

}  // namespace

bool InstallFile(const std::string& strSource, const std::string& strTarget) {
    // A directory of that name would be moved aside whole by the fall-back
    // below, taking every file in it out of the installation.
    if (PathIsDirectoryA(strTarget.c_str())) return false;

    CDirectoryEx::CreateParentDirectory(strTarget);

    const std::string strTemp = strTarget + ".~" + std::to_string(GetCurrentProcessId()) + ".bak";
    bool bTempInPlace = false;   // true once the temporary name no longer exists
    ScopeExit dropTemp([&] {
        if (!bTempInPlace) DeleteFileA(strTemp.c_str());
    });

    if (!CopyAndFlush(strSource, strTemp)) return false;
    if (MoveOver(strTemp, strTarget)) {
        bTempInPlace = true;
        return true;
    }

    // The target is in use: move it aside as a running program's files can be,
    // then move the new file in. A ".bak" that survived the clean-up blocks the
    // rename (rename never replaces), and the file stays old.
    const std::string strBackup = strTarget + ".bak";
    if (std::rename(strTarget.c_str(), strBackup.c_str()) != 0) return false;
    if (MoveOver(strTemp, strTarget)) {
        bTempInPlace = true;
        return true;
    }
    // Put the old file back rather than leave the name empty.
    std::rename(strBackup.c_str(), strTarget.c_str());
    return false;
}
