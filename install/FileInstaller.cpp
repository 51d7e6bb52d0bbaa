#include "install/FileInstaller.h"

#include <windows.h>
#include <shlwapi.h>

#include <algorithm>

#include "platform/base/FailureLog.h"
#include "platform/base/Text.h"
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

bool Exists(const std::string& strPath) { return GetFileAttributesW(Utf8ToWide(strPath).c_str()) != INVALID_FILE_ATTRIBUTES; }

// Keeps strTarget's contents at strRollback. A hard link costs nothing; a copy
// goes under a temporary name first, so strRollback never names half a file.
bool KeepRollbackCopy(const std::string& strTarget, const std::string& strRollback, const IFailureSink* pLog) {
    if (CreateHardLinkW(Utf8ToWide(strRollback).c_str(), Utf8ToWide(strTarget).c_str(), nullptr)) return true;
    const std::string strPartial = strRollback + ".~.bak";
    if (CopyFileW(Utf8ToWide(strTarget).c_str(), Utf8ToWide(strPartial).c_str(), FALSE) &&
        MoveFileExW(Utf8ToWide(strPartial).c_str(), Utf8ToWide(strRollback).c_str(), MOVEFILE_WRITE_THROUGH)) {
        return true;
    }
    const DWORD dwError = GetLastError();
    DeleteFileLogged(pLog, strPartial);   // best effort: a "*.bak" the next run removes anyway
    SetLastError(dwError);
    return false;
}

// The temporary copy over the target, or the target moved aside to ".bak" and
// the copy moved in. dwError says why neither worked: the move aside's error
// tells a held file (worth waiting for) from a stale ".bak" (not).
bool TryReplace(const std::string& strTemp, const std::string& strTarget, DWORD& dwError, bool& bMovedAside,
                const IFailureSink* pLog) {
    if (MoveOver(strTemp, strTarget)) return true;
    const std::string strBackup = strTarget + ".bak";
    // No MOVEFILE_REPLACE_EXISTING: a ".bak" that survived the clean-up is never overwritten.
    if (!MoveFileExW(Utf8ToWide(strTarget).c_str(), Utf8ToWide(strBackup).c_str(), 0)) {
        dwError = GetLastError();
        return false;
    }
    if (MoveOver(strTemp, strTarget)) {
        bMovedAside = true;
        return true;
    }
    dwError = GetLastError();
    // Put the old file back rather than leave the name empty.
    LogIfFalse(pLog, "MoveFileExW", strBackup, MoveFileExW(Utf8ToWide(strBackup).c_str(), Utf8ToWide(strTarget).c_str(), 0));
    return false;
}

// Runs fnStep until it succeeds, fails with an error that is not a hold, or
// the budget is spent; the pauses between attempts double up to the longest.
template <typename Step>
S_PlaceResult WithWaits(const S_LockWait& wait, Step fnStep) {
    S_PlaceResult result;
    const DWORD dwStart = GetTickCount();
    DWORD dwPause = wait.dwFirstPauseMs;
    for (;;) {
        DWORD dwError = 0;
        if (fnStep(dwError)) {
            result.bOk = true;
            result.dwError = 0;
            return result;
        }
        result.dwError = dwError;
        const DWORD dwElapsed = GetTickCount() - dwStart;
        if (!IsHeldFileError(dwError) || dwElapsed >= wait.dwBudgetMs) return result;
        const DWORD dwSleep = std::min(dwPause, wait.dwBudgetMs - dwElapsed);
        Sleep(dwSleep);
        result.dwWaitedMs += dwSleep;
        dwPause = std::min(dwPause * 2, wait.dwLongestPauseMs);
    }
}

}  // namespace

bool IsHeldFileError(DWORD dwError) {
    return dwError == ERROR_SHARING_VIOLATION || dwError == ERROR_LOCK_VIOLATION || dwError == ERROR_ACCESS_DENIED;
}

S_PlaceResult PlaceFile(const std::string& strSource, const std::string& strTarget, const std::string& strRollback,
                        const S_LockWait& wait, const IFailureSink* pLog) {
    // A directory of that name would be moved aside whole by the fall-back,
    // taking every file in it out of the installation.
    if (PathIsDirectoryW(Utf8ToWide(strTarget).c_str())) {
        S_PlaceResult result;
        result.dwError = ERROR_DIRECTORY;
        return result;
    }
    CDirectoryEx::CreateParentDirectory(strTarget);

    const std::string strTemp = strTarget + ".~" + std::to_string(GetCurrentProcessId()) + ".bak";
    bool bTempMade = false;
    bool bTempInPlace = false;   // true once the temporary name no longer exists
    ScopeExit dropTemp([&] {
        if (bTempMade && !bTempInPlace) DeleteFileLogged(pLog, strTemp);
    });
    bool bRollbackDone = strRollback.empty();

    bool bMovedAside = false;
    S_PlaceResult result = WithWaits(wait, [&](DWORD& dwError) {
        if (!bTempMade) {
            if (!CopyAndFlush(strSource, strTemp)) {
                dwError = GetLastError();
                DeleteFileLogged(pLog, strTemp);   // a partial copy is not worth keeping
                return false;
            }
            bTempMade = true;
        }
        if (!bRollbackDone) {
            if (Exists(strTarget) && !KeepRollbackCopy(strTarget, strRollback, pLog)) {
                dwError = GetLastError();
                return false;
            }
            bRollbackDone = true;
        }
        bTempInPlace = TryReplace(strTemp, strTarget, dwError, bMovedAside, pLog);
        return bTempInPlace;
    });
    result.bMovedAside = bMovedAside;
    return result;
}

S_PlaceResult RestoreFile(const std::string& strTarget, const std::string& strRollback, bool bExisted,
                          const S_LockWait& wait) {
    if (!strRollback.empty() && Exists(strRollback)) {
        return WithWaits(wait, [&](DWORD& dwError) {
            if (MoveOver(strRollback, strTarget)) return true;
            dwError = GetLastError();
            return false;
        });
    }
    if (bExisted) {
        // No copy was kept, so the file was never replaced.
        S_PlaceResult result;
        result.bOk = true;
        return result;
    }
    return WithWaits(wait, [&](DWORD& dwError) {
        if (DeleteFileW(Utf8ToWide(strTarget).c_str())) return true;
        dwError = GetLastError();
        return dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND;
    });
}

bool InstallFile(const std::string& strSource, const std::string& strTarget) {
    return PlaceFile(strSource, strTarget, std::string()).bOk;
}
