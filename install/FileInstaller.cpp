#include "install/FileInstaller.h"

#include <windows.h>
#include <shlwapi.h>

#include <algorithm>

#include "platform/base/FailureLog.h"
#include "platform/base/Text.h"
#include "platform/base/Win32Handles.h"
#include "platform/fs/DirectoryEx.h"
#include "platform/fs/FileContents.h"

namespace {

std::wstring W(const std::string& strPath) { return LongPathW(strPath); }

// A copy created new under a name nobody could plant (never written through a
// link left there), forced to disk so that the move that follows can never
// publish a file whose blocks are still in the cache when the power fails.
bool CopyAndFlush(const std::string& strSource, const std::string& strBase, std::string& strTemp) {
    UniqueFile hTemp = CreateUniqueFile(strBase, ".bak", strTemp);
    if (!hTemp) {
        strTemp.clear();
        return false;
    }
    return CopyIntoAndFlush(strSource, hTemp.get());
}

bool MoveOver(const std::string& strFrom, const std::string& strTo) {
    return MoveFileExW(W(strFrom).c_str(), W(strTo).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool Exists(const std::string& strPath) { return GetFileAttributesW(W(strPath).c_str()) != INVALID_FILE_ATTRIBUTES; }

// Keeps strTarget's contents at strRollback. A hard link costs nothing; a copy
// (FAT, exFAT, a share) goes under a temporary name first, flushed, so
// strRollback never names half a file, not even after a power cut. A target
// that is not there gets an empty file: the proof that this run made it new.
bool KeepRollbackCopy(const std::string& strTarget, const std::string& strRollback, const IFailureSink* pLog) {
    if (!Exists(strTarget)) {
        UniqueFile hMarker(CreateFileW(W(strRollback).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
        return hMarker && FlushFileBuffers(hMarker.get());
    }
    if (CreateHardLinkW(W(strRollback).c_str(), W(strTarget).c_str(), nullptr)) return true;
    std::string strPartial;
    if (CopyAndFlush(strTarget, strRollback, strPartial) &&
        MoveFileExW(W(strPartial).c_str(), W(strRollback).c_str(), MOVEFILE_WRITE_THROUGH)) {
        return true;
    }
    const DWORD dwError = GetLastError();
    if (!strPartial.empty()) DeleteFileLogged(pLog, strPartial);   // best effort: a "*.bak" the next run removes anyway
    SetLastError(dwError);
    return false;
}

// strFrom moved over the target, or the target moved aside to strAside and
// strFrom moved in. dwError says why neither worked: the move aside's error
// tells a held file (worth waiting for) from a stale ".bak" (not).
bool TryReplace(const std::string& strFrom, const std::string& strTarget, const std::string& strAside, DWORD& dwError,
                bool& bMovedAside, const IFailureSink* pLog) {
    if (MoveOver(strFrom, strTarget)) return true;
    // No MOVEFILE_REPLACE_EXISTING: a ".bak" that survived the clean-up is never overwritten.
    if (!MoveFileExW(W(strTarget).c_str(), W(strAside).c_str(), MOVEFILE_WRITE_THROUGH)) {
        dwError = GetLastError();
        return false;
    }
    if (MoveOver(strFrom, strTarget)) {
        bMovedAside = true;
        return true;
    }
    dwError = GetLastError();
    // Put the old file back rather than leave the name empty; the caller checks the name afterwards.
    LogIfFalse(pLog, "MoveFileExW", strAside, MoveFileExW(W(strAside).c_str(), W(strTarget).c_str(), MOVEFILE_WRITE_THROUGH));
    return false;
}

// A name beside the target for moving it aside while something runs it.
std::string FreshAsideName(const std::string& strTarget) { return strTarget + ".~" + RandomHexName() + ".bak"; }

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
    if (PathIsDirectoryW(W(strTarget).c_str())) {
        S_PlaceResult result;
        result.dwError = ERROR_DIRECTORY;
        return result;
    }
    CDirectoryEx::CreateParentDirectory(strTarget);

    std::string strTemp;
    bool bTempInPlace = false;   // true once the temporary name no longer exists
    ScopeExit dropTemp([&] {
        if (!strTemp.empty() && !bTempInPlace) DeleteFileLogged(pLog, strTemp);
    });
    bool bRollbackDone = strRollback.empty();

    bool bMovedAside = false;
    S_PlaceResult result = WithWaits(wait, [&](DWORD& dwError) {
        if (strTemp.empty()) {
            std::string strMade;
            if (!CopyAndFlush(strSource, strTarget, strMade)) {
                dwError = GetLastError();
                if (!strMade.empty()) DeleteFileLogged(pLog, strMade);   // a partial copy is not worth keeping
                return false;
            }
            strTemp = strMade;
        }
        if (!bRollbackDone) {
            if (!KeepRollbackCopy(strTarget, strRollback, pLog)) {
                dwError = GetLastError();
                return false;
            }
            bRollbackDone = true;
        }
        bTempInPlace = TryReplace(strTemp, strTarget, strTarget + ".bak", dwError, bMovedAside, pLog);
        return bTempInPlace;
    });
    result.bMovedAside = bMovedAside;
    return result;
}

S_PlaceResult PutBackFile(const std::string& strKept, const std::string& strTarget, const S_LockWait& wait,
                          const IFailureSink* pLog) {
    bool bMovedAside = false;
    S_PlaceResult result = WithWaits(wait, [&](DWORD& dwError) {
        return TryReplace(strKept, strTarget, FreshAsideName(strTarget), dwError, bMovedAside, pLog);
    });
    result.bMovedAside = bMovedAside;
    return result;
}

S_PlaceResult RemoveTargetFile(const std::string& strTarget, const S_LockWait& wait) {
    bool bMovedAside = false;
    S_PlaceResult result = WithWaits(wait, [&](DWORD& dwError) {
        if (DeleteFileW(W(strTarget).c_str())) return true;
        dwError = GetLastError();
        if (dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND) return true;
        // Running: out of the way under a name the next run's clean-up deletes.
        if (!MoveFileExW(W(strTarget).c_str(), W(FreshAsideName(strTarget)).c_str(), MOVEFILE_WRITE_THROUGH)) {
            return false;
        }
        bMovedAside = true;
        return true;
    });
    result.bMovedAside = bMovedAside;
    return result;
}

bool InstallFile(const std::string& strSource, const std::string& strTarget) {
    return PlaceFile(strSource, strTarget, std::string()).bOk;
}
