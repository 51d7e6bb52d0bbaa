#include "install/FileInstaller.h"
#include "platform/base/Text.h"

#include <windows.h>
#include <shlwapi.h>

#include <cstdio>

#include "platform/base/Win32Handles.h"
#include "platform/fs/DirectoryEx.h"

namespace {

// Copies and forces the copy to disk, so that the move that follows can never
// publish a file whose blocks are still in the cache when the power fails.
bool CopyAndFlush(const std::string& strSource, const std::string& strTemp) {
    if (!CopyFileW(Utf8ToWide(strSource).c_str(), Utf8ToWide(strTemp).c_str(), FALSE)) return false;
    UniqueFile hTemp(CreateFileW(Utf8ToWide(strTemp).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    return hTemp && FlushFileBuffers(hTemp.get());
}

bool MoveOver(const std::string& strFrom, const std::string& strTo) {
    return MoveFileExW(Utf8ToWide(strFrom).c_str(), Utf8ToWide(strTo).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

}  // namespace

bool InstallFile(const std::string& strSource, const std::string& strTarget) {
    // A directory of that name would be moved aside whole by the fall-back
    // below, taking every file in it out of the installation.
    if (PathIsDirectoryW(Utf8ToWide(strTarget).c_str())) return false;

    CDirectoryEx::CreateParentDirectory(strTarget);

    const std::string strTemp = strTarget + ".~" + std::to_string(GetCurrentProcessId()) + ".bak";
    bool bTempInPlace = false;   // true once the temporary name no longer exists
    ScopeExit dropTemp([&] {
        if (!bTempInPlace) DeleteFileW(Utf8ToWide(strTemp).c_str());
    });

    if (!CopyAndFlush(strSource, strTemp)) return false;
    if (MoveOver(strTemp, strTarget)) {
        bTempInPlace = true;
        return true;
    }

    // The target is in use: move it aside as a running program's files can be,
    // then move the new file in. A ".bak" that survived the clean-up blocks the
    // move (without MOVEFILE_REPLACE_EXISTING it never replaces), and the file stays old.
    const std::string strBackup = strTarget + ".bak";
    if (!MoveFileExW(Utf8ToWide(strTarget).c_str(), Utf8ToWide(strBackup).c_str(), 0)) return false;
    if (MoveOver(strTemp, strTarget)) {
        bTempInPlace = true;
        return true;
    }
    // Put the old file back rather than leave the name empty.
    MoveFileExW(Utf8ToWide(strBackup).c_str(), Utf8ToWide(strTarget).c_str(), 0);
    return false;
}
