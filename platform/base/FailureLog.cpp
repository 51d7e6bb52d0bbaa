#include "platform/base/FailureLog.h"

#include "platform/base/Text.h"

bool LogIfError(const IFailureSink* pLog, const char* pszCall, const std::string& strPath, DWORD dwError) {
    if (dwError == ERROR_SUCCESS) return true;
    if (pLog) pLog->BestEffortFailed(pszCall, strPath, dwError);
    return false;
}

bool LogIfFalse(const IFailureSink* pLog, const char* pszCall, const std::string& strPath, BOOL bResult) {
    const DWORD dwError = bResult ? ERROR_SUCCESS : GetLastError();
    // A call that failed without saying why is still a failure.
    return LogIfError(pLog, pszCall, strPath, bResult ? ERROR_SUCCESS : (dwError ? dwError : ERROR_GEN_FAILURE));
}

bool DeleteFileLogged(const IFailureSink* pLog, const std::string& strPath) {
    if (DeleteFileW(Utf8ToWide(strPath).c_str())) return true;
    const DWORD dwError = GetLastError();
    if (dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND) return true;
    return LogIfError(pLog, "DeleteFileW", strPath, dwError);
}
