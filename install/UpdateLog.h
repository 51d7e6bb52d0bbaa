#pragma once
// The update log, UPDATE\Update.log below the application directory: a few
// lines per run that say what happened and why, for a support desk to read.
//
// One line per event, UTF-8: an ISO-8601 UTC time, the event's name, then
// its details as name=value pairs, e.g.
//   2026-12-08T16:30:05Z manifest accepted server=10.0.0.5:80 signed=1
// No key material and no credentials are ever written. Past 256 KiB the file
// is moved to Update.log.1 (one older generation kept) before the next line.
// Writing is best effort: a log that cannot be written never changes a run.
#include <string>

#include "platform/base/FailureLog.h"

// Also the failure channel's sink: a best-effort failure is one
// "best-effort call=… file=… error=…" line.
class CUpdateLog final : public IFailureSink {
public:
    // The log of the installation whose directory is strAppPath (ending in '\').
    explicit CUpdateLog(const std::string& strAppPath);

    // Appends "<time> <strEvent> <strDetails>".
    void Write(const std::string& strEvent, const std::string& strDetails) const;

    const std::string& Path() const { return m_strPath; }

    void BestEffortFailed(const char* pszCall, const std::string& strPath, DWORD dwError) const override;

private:
    std::string m_strDir;
    std::string m_strPath;
};

// " name=value" for a log line; a value with blanks or '=' is quoted.
std::string LogField(const char* pszName, const std::string& strValue);
std::string LogField(const char* pszName, unsigned long long nValue);

// The file version of the running program ("4.0.0.0", from its version
// resource), so that every run's log says which Update.exe wrote it; "none"
// when the program has no version resource (the test programs).
std::string ProgramFileVersion();
