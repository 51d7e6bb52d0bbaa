#pragma once
// A call whose failure the run survives on purpose ("best effort") still
// leaves its reason in the run's log: one line with the call, the file and
// the Win32 error, e.g.
//   best-effort call=DeleteFileW file=C:\QOVA\QOVAClient.exe.bak error=5
// so no failure is silent and no call site words its own line for it.
//
// The channel lives here, at the bottom, so that every layer can use it; the
// line itself is written by whoever implements IFailureSink (the run's log,
// install/UpdateLog).
//
// LogIfFalse reads GetLastError() before anything else: hand it the call's
// result directly, with the path built before the call.
#include <windows.h>

#include <string>

// Where a best-effort failure is told. Never deleted through this interface.
class IFailureSink {
public:
    virtual void BestEffortFailed(const char* pszCall, const std::string& strPath, DWORD dwError) const = 0;

protected:
    IFailureSink() = default;
    IFailureSink(const IFailureSink&) = default;
    IFailureSink& operator=(const IFailureSink&) = default;
    ~IFailureSink() = default;
};

// bResult as a bool; when FALSE the failure is told with GetLastError().
// A null sink (a lower layer used without an installation) tells nobody.
bool LogIfFalse(const IFailureSink* pLog, const char* pszCall, const std::string& strPath, BOOL bResult);
inline bool LogIfFalse(const IFailureSink& log, const char* pszCall, const std::string& strPath, BOOL bResult) {
    return LogIfFalse(&log, pszCall, strPath, bResult);
}

// For calls that hand back their error (an LSTATUS, a DWORD error code):
// true for ERROR_SUCCESS, else the failure told with dwError.
bool LogIfError(const IFailureSink* pLog, const char* pszCall, const std::string& strPath, DWORD dwError);
inline bool LogIfError(const IFailureSink& log, const char* pszCall, const std::string& strPath, DWORD dwError) {
    return LogIfError(&log, pszCall, strPath, dwError);
}

// DeleteFileW of strPath through LogIfFalse. A file that is not there is no
// failure: true, nothing told.
bool DeleteFileLogged(const IFailureSink* pLog, const std::string& strPath);
inline bool DeleteFileLogged(const IFailureSink& log, const std::string& strPath) {
    return DeleteFileLogged(&log, strPath);
}
