#include "install/InstallTraces.h"

#include <windows.h>

#include "config/ReleaseTrust.h"
#include "install/FileInstaller.h"
#include "install/UpdateLog.h"
#include "install/UpdateRecord.h"
#include "platform/base/FailureLog.h"
#include "platform/ini/CryptConfigFile.h"

namespace {

const char kConfigName[] = "Config.dat";

bool WriteConfigVersion(const CUpdateLog& log, const S_InstallTraces& traces) {
    const std::string strPath = traces.strAppPath + kConfigName;
    CCryptConfigFile config(strPath, "");
    return LogIfFalse(log, "WriteString", strPath, config.WriteString("Update", "Version", traces.strNewVersion) != -1);
}

bool WriteRegistry(const CUpdateLog& log, const S_InstallTraces& traces) {
    DWORD dwError = ERROR_SUCCESS;
    WriteProductRegistry(traces.strAppPath, traces.strNewVersion, &dwError);
    if (dwError == ERROR_FILE_NOT_FOUND) {
        // An installation without the key is a normal one (it is never created): no failure, a note.
        log.Write("registry", "not-written" + LogField("key", kProductRegistryKey) + LogField("reason", "absent"));
        return true;
    }
    return LogIfError(log, "WriteProductRegistry", kProductRegistryKey, dwError);
}

bool CopyManifest(const CUpdateLog& log, const S_InstallTraces& traces) {
    const S_PlaceResult placed =
        PlaceFile(traces.strManifestCopyFrom, traces.strManifestCopyTo, std::string(), S_LockWait(), &log);
    const DWORD dwFailure = placed.dwError != ERROR_SUCCESS ? placed.dwError : ERROR_GEN_FAILURE;
    return LogIfError(log, "PlaceFile", traces.strManifestCopyTo, placed.bOk ? ERROR_SUCCESS : dwFailure);
}

bool WriteSignature(const CUpdateLog& log, const S_InstallTraces& traces) {
    return LogIfFalse(log, "WriteAcceptedSigned", traces.strAppPath + kConfigName,
                      WriteAcceptedSigned(traces.strAppPath, traces.strSignatureRecord, traces.strSigned));
}

}  // namespace

bool WriteInstallRecord(const S_InstallTraces& traces, int nSucceed) {
    DWORD dwError = ERROR_SUCCESS;
    WriteUpdateRecordSection(traces.strAppPath, traces.strRecordSection, traces.strNewVersion, traces.strOldVersion,
                             nSucceed, &dwError);
    return LogIfError(CUpdateLog(traces.strAppPath), "WriteUpdateRecord", UpdateRecordPath(traces.strAppPath),
                      dwError);
}

bool WriteInstallTraces(const S_InstallTraces& traces) {
    const CUpdateLog log(traces.strAppPath);
    bool bAll = true;
    if (traces.bWriteConfigVersion) bAll = WriteConfigVersion(log, traces) && bAll;
    if (traces.bWriteRegistry) bAll = WriteRegistry(log, traces) && bAll;
    if (!traces.strManifestCopyFrom.empty()) bAll = CopyManifest(log, traces) && bAll;
    if (!traces.strSignatureRecord.empty()) bAll = WriteSignature(log, traces) && bAll;
    if (traces.bWriteRecord) bAll = WriteInstallRecord(traces, 1) && bAll;
    return bAll;
}
