#include "install/InstallJournal.h"

#include <windows.h>

#include "config/ReleaseTrust.h"
#include "platform/base/FailureLog.h"
#include "install/FileInstaller.h"
#include "install/UpdatePaths.h"
#include "install/UpdateLog.h"
#include "platform/base/Text.h"
#include "platform/fs/DirectoryEx.h"
#include "platform/fs/FileContents.h"
#include "platform/ini/CryptConfigFile.h"

namespace {

const char kHeader[] = "QOVA-INSTALL-JOURNAL 1";
const char kEnd[] = "end";
// Windows never allows '|' in a file name.
const char kFieldSeparator = '|';

void AddLine(std::string& strText, const char* pszKey, const std::string& strValue) {
    strText += pszKey;
    strText += '=';
    strText += strValue;
    strText += '\n';
}

std::string Flag(bool b) { return b ? "1" : "0"; }

// The committed journal's trace fields, one key each.
struct S_TextField {
    const char* pszKey;
    std::string S_InstallTraces::*pText;
};
struct S_FlagField {
    const char* pszKey;
    bool S_InstallTraces::*pFlag;
};
const S_TextField kTextFields[] = {
    {"app", &S_InstallTraces::strAppPath},
    {"newversion", &S_InstallTraces::strNewVersion},
    {"recordsection", &S_InstallTraces::strRecordSection},
    {"oldversion", &S_InstallTraces::strOldVersion},
    {"manifestfrom", &S_InstallTraces::strManifestCopyFrom},
    {"manifestto", &S_InstallTraces::strManifestCopyTo},
    {"signaturerecord", &S_InstallTraces::strSignatureRecord},
    {"signed", &S_InstallTraces::strSigned},
};
const S_FlagField kFlagFields[] = {
    {"configversion", &S_InstallTraces::bWriteConfigVersion},
    {"registry", &S_InstallTraces::bWriteRegistry},
    {"record", &S_InstallTraces::bWriteRecord},
};

std::string Serialise(bool bCommitted, const std::vector<S_JournalFile>& vecFiles, const S_InstallTraces& traces) {
    std::string strText = std::string(kHeader) + "\n";
    AddLine(strText, "state", bCommitted ? "commit" : "install");
    for (const S_JournalFile& file : vecFiles) {
        AddLine(strText, "file", file.strTarget + kFieldSeparator + file.strRollback + kFieldSeparator + Flag(file.bExisted));
    }
    if (bCommitted) {
        for (const S_FlagField& field : kFlagFields) AddLine(strText, field.pszKey, Flag(traces.*field.pFlag));
        for (const S_TextField& field : kTextFields) AddLine(strText, field.pszKey, traces.*field.pText);
    }
    return strText + kEnd + "\n";
}

// A trace field's line; false for a key that is none (ignored, as a newer journal's would be).
bool ParseTraceField(const std::string& strKey, const std::string& strValue, S_InstallTraces& traces) {
    for (const S_FlagField& field : kFlagFields) {
        if (strKey != field.pszKey) continue;
        traces.*field.pFlag = strValue == "1";
        return true;
    }
    for (const S_TextField& field : kTextFields) {
        if (strKey != field.pszKey) continue;
        traces.*field.pText = strValue;
        return true;
    }
    return false;
}

std::vector<std::string> SplitLines(const std::string& strText) {
    std::vector<std::string> vecLines;
    size_t nStart = 0;
    while (nStart < strText.size()) {
        size_t nEnd = strText.find('\n', nStart);
        if (nEnd == std::string::npos) nEnd = strText.size();
        vecLines.push_back(strText.substr(nStart, nEnd - nStart));
        nStart = nEnd + 1;
    }
    return vecLines;
}

bool ParseFile(const std::string& strValue, S_JournalFile& file) {
    const size_t nFirst = strValue.find(kFieldSeparator);
    const size_t nSecond = nFirst == std::string::npos ? nFirst : strValue.find(kFieldSeparator, nFirst + 1);
    if (nSecond == std::string::npos) return false;
    const std::string strExisted = strValue.substr(nSecond + 1);
    if (strExisted != "0" && strExisted != "1") return false;
    file.strTarget = strValue.substr(0, nFirst);
    file.strRollback = strValue.substr(nFirst + 1, nSecond - nFirst - 1);
    file.bExisted = strExisted == "1";
    return !file.strTarget.empty() && !file.strRollback.empty();
}

// False for anything but a whole journal of this format.
bool Parse(const std::string& strText, bool& bCommitted, std::vector<S_JournalFile>& vecFiles,
           S_InstallTraces& traces) {
    const std::vector<std::string> vecLines = SplitLines(strText);
    if (vecLines.size() < 3 || vecLines.front() != kHeader || vecLines.back() != kEnd) return false;
    bool bState = false;
    for (size_t i = 1; i + 1 < vecLines.size(); ++i) {
        const std::string& strLine = vecLines[i];
        const size_t nEq = strLine.find('=');
        if (nEq == std::string::npos) return false;
        const std::string strKey = strLine.substr(0, nEq);
        const std::string strValue = strLine.substr(nEq + 1);
        if (strKey == "state") {
            if (strValue != "install" && strValue != "commit") return false;
            bCommitted = strValue == "commit";
            bState = true;
        } else if (strKey == "file") {
            S_JournalFile file;
            if (!ParseFile(strValue, file)) return false;
            vecFiles.push_back(file);
        } else {
            ParseTraceField(strKey, strValue, traces);
        }
    }
    return bState && (!bCommitted || !traces.strAppPath.empty());
}

bool IsBelow(const std::string& strPath, const std::string& strDir) {
    return strPath.size() > strDir.size() && strPath.compare(0, strDir.size(), strDir) == 0;
}

// A journal speaks only of this installation: one that names anything else
// (an installation moved since, a forged file) is not acted on.
bool StaysInside(const std::string& strAppPath, bool bCommitted, const std::vector<S_JournalFile>& vecFiles,
                 const S_InstallTraces& traces) {
    for (const S_JournalFile& file : vecFiles) {
        if (!IsBelow(file.strTarget, strAppPath) || !IsBelow(file.strRollback, strAppPath)) return false;
    }
    if (!bCommitted) return true;
    return traces.strAppPath == strAppPath &&
           (traces.strManifestCopyFrom.empty() ||
            (IsBelow(traces.strManifestCopyFrom, strAppPath) && IsBelow(traces.strManifestCopyTo, strAppPath)));
}

// Best effort: a copy left is a "*.bak" the next run deletes.
void DropRollbackCopies(const CUpdateLog& log, const std::vector<S_JournalFile>& vecFiles) {
    for (const S_JournalFile& file : vecFiles) DeleteFileLogged(log, file.strRollback);
}

}  // namespace

std::string InstallJournalPath(const std::string& strAppPath) { return strAppPath + kInstallJournalName; }

CInstallJournal::CInstallJournal(const std::string& strAppPath)
    : m_strAppPath(strAppPath), m_strPath(InstallJournalPath(strAppPath)) {}

bool CInstallJournal::Begin(const std::vector<S_JournalFile>& vecFiles, DWORD* pdwError) {
    m_vecFiles = vecFiles;
    CDirectoryEx::CreateParentDirectory(m_strPath);
    const bool bWritten = ReplaceFileContents(m_strPath, Serialise(false, vecFiles, S_InstallTraces()));
    DWORD dwError = bWritten ? ERROR_SUCCESS : GetLastError();
    if (!bWritten && dwError == ERROR_SUCCESS) dwError = ERROR_WRITE_FAULT;
    if (pdwError) *pdwError = dwError;
    return bWritten;
}

bool CInstallJournal::Commit(const S_InstallTraces& traces) {
    return ReplaceFileContents(m_strPath, Serialise(true, m_vecFiles, traces));
}

void CInstallJournal::End() {
    // Best effort: a journal left is acted on by the next run, as if killed now.
    const CUpdateLog log(m_strAppPath);
    DeleteFileLogged(log, m_strPath);
}

void DropRollbackCopies(const std::string& strAppPath, const std::vector<S_JournalFile>& vecFiles) {
    DropRollbackCopies(CUpdateLog(strAppPath), vecFiles);
}

bool RollBackFiles(const std::vector<S_JournalFile>& vecFiles, std::string& strFailedFile, unsigned long& dwError,
                   size_t& nRestored) {
    nRestored = 0;
    bool bAllBack = true;
    for (auto it = vecFiles.rbegin(); it != vecFiles.rend(); ++it) {
        const bool bHadCopy = GetFileAttributesW(Utf8ToWide(it->strRollback).c_str()) != INVALID_FILE_ATTRIBUTES;
        const S_PlaceResult result = RestoreFile(it->strTarget, it->strRollback, it->bExisted);
        if (!result.bOk) {
            // Go on with the others: the fewer files left new, the better.
            if (bAllBack) {
                strFailedFile = it->strTarget;
                dwError = result.dwError;
            }
            bAllBack = false;
        } else if (bHadCopy || !it->bExisted) {
            ++nRestored;
        }
    }
    return bAllBack;
}

S_RecoveryResult RecoverInterruptedInstall(const std::string& strAppPath) {
    S_RecoveryResult result;
    const CUpdateLog log(strAppPath);
    const std::string strPath = InstallJournalPath(strAppPath);
    std::string strText;
    const FileReadResult read = ReadWholeFile(strPath, strText);
    if (read == FileReadResult::Missing) return result;

    bool bCommitted = false;
    std::vector<S_JournalFile> vecFiles;
    S_InstallTraces traces;
    if (read != FileReadResult::Read || !Parse(strText, bCommitted, vecFiles, traces) ||
        !StaysInside(strAppPath, bCommitted, vecFiles, traces)) {
        DeleteFileLogged(log, strPath);
        result.eRecovery = ERecovery::Damaged;
        return result;
    }
    if (bCommitted) {
        WriteInstallTraces(traces);
        DropRollbackCopies(log, vecFiles);
        DeleteFileLogged(log, strPath);
        result.eRecovery = ERecovery::Finished;
        result.nFiles = vecFiles.size();
        return result;
    }
    if (!RollBackFiles(vecFiles, result.strFile, result.dwError, result.nFiles)) {
        result.eRecovery = ERecovery::Stuck;
        return result;
    }
    DeleteFileLogged(log, strPath);
    result.eRecovery = ERecovery::RolledBack;
    return result;
}
