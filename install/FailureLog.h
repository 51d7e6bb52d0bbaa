#pragma once
// A call whose failure the run survives on purpose ("best effort") still
// leaves its reason in the run's log: one line with the call, the file and
// the Win32 error, e.g.
//   best-effort call=DeleteFileW file=C:\QOVA\QOVAClient.exe.bak error=5
// so no failure is silent and no call site words its own line for it.
//
// LogIfFalse reads GetLastError() before anything else: hand it the call's
// result directly, with the path built before the call.
#include <windows.h>

#include <string>

class CUpdateLog;

// bResult as a bool; when FALSE the line is written with GetLastError().
// A null log (a lower layer used without an installation) writes nothing.
bool LogIfFalse(const CUpdateLog* pLog, const char* pszCall, const std::string& strPath, BOOL bResult);
inline bool LogIfFalse(const CUpdateLog& log, const char* pszCall, const std::string& strPath, BOOL bResult) {
    return LogIfFalse(&log, pszCall, strPath, bResult);
}

// For calls that hand back their error (an LSTATUS, a DWORD error code):
// true for ERROR_SUCCESS, else the line with dwError.
bool LogIfError(const CUpdateLog* pLog, const char* pszCall, const std::string& strPath, DWORD dwError);
inline bool LogIfError(const CUpdateLog& log, const char* pszCall, const std::string& strPath, DWORD dwError) {
    return LogIfError(&log, pszCall, strPath, dwError);
}

// DeleteFileW of strPath through LogIfFalse. A file that is not there is no
// failure: true, nothing logged.
bool DeleteFileLogged(const CUpdateLog* pLog, const std::string& strPath);
inline bool DeleteFileLogged(const CUpdateLog& log, const std::string& strPath) {
    return DeleteFileLogged(&log, strPath);
}
