#include "install/InstallJournal.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstring>

#include "config/ReleaseTrust.h"
#include "platform/base/FailureLog.h"
#include "install/FileInstaller.h"
#include "install/UpdatePaths.h"
#include "install/UpdateLog.h"
#include "manifest/ManifestName.h"
#include "manifest/ManifestSignature.h"
#include "manifest/VersionOrder.h"
#include "platform/base/Text.h"
#include "platform/base/Win32Handles.h"
#include "platform/fs/DirectoryEx.h"
#include "platform/fs/FileContents.h"
#include "platform/fs/FileDigest.h"
#include "platform/fs/PathCheck.h"
#include "platform/ini/CryptConfigFile.h"

namespace {

// Format 2 names each field of a file line and its new contents; format 1
// (earlier versions) is still read, and put back under the same checks.
const char kHeader[] = "QOVA-INSTALL-JOURNAL 2";
const char kHeaderV1[] = "QOVA-INSTALL-JOURNAL 1";
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
        AddLine(strText, "file", file.strTarget + kFieldSeparator + "kept=" + file.strRollback + kFieldSeparator +
                                     "existed=" + Flag(file.bExisted) + kFieldSeparator +
                                     "size=" + std::to_string(file.nNewSize) + kFieldSeparator +
                                     "sha256=" + file.strNewSha256);
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

std::vector<std::string> SplitFields(const std::string& strValue) {
    std::vector<std::string> vecFields;
    size_t nStart = 0;
    for (;;) {
        const size_t nEnd = strValue.find(kFieldSeparator, nStart);
        vecFields.push_back(strValue.substr(nStart, nEnd == std::string::npos ? std::string::npos : nEnd - nStart));
        if (nEnd == std::string::npos) return vecFields;
        nStart = nEnd + 1;
    }
}

bool ParseFlag(const std::string& strText, bool& b) {
    if (strText != "0" && strText != "1") return false;
    b = strText == "1";
    return true;
}

bool IsLowerHex(const std::string& str, size_t nLength) {
    if (str.size() != nLength) return false;
    for (char c : str) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

// "<target>|<kept>|<existed>" (format 1) or "<target>|kept=..|existed=..|size=..|sha256=.." (format 2).
bool ParseFile(const std::string& strValue, bool bV1, S_JournalFile& file) {
    const std::vector<std::string> vecFields = SplitFields(strValue);
    if (bV1) {
        if (vecFields.size() != 3 || !ParseFlag(vecFields[2], file.bExisted)) return false;
        file.strTarget = vecFields[0];
        file.strRollback = vecFields[1];
        return !file.strTarget.empty();
    }
    if (vecFields.size() != 5) return false;
    const char* const kNames[] = {"kept=", "existed=", "size=", "sha256="};
    for (size_t i = 0; i < 4; ++i) {
        if (vecFields[i + 1].compare(0, strlen(kNames[i]), kNames[i]) != 0) return false;
    }
    const std::string strSize = vecFields[3].substr(5);
    if (strSize.empty() || strSize.size() > 19 || strSize.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    file.strTarget = vecFields[0];
    file.strRollback = vecFields[1].substr(5);
    file.nNewSize = std::stoull(strSize);
    file.strNewSha256 = vecFields[4].substr(7);
    file.bKnownContents = true;
    return !file.strTarget.empty() && ParseFlag(vecFields[2].substr(8), file.bExisted) &&
           IsLowerHex(file.strNewSha256, 64);
}

// False for anything but a whole journal of a known format, of at most kMaxJournalFiles files.
bool Parse(const std::string& strText, bool& bCommitted, std::vector<S_JournalFile>& vecFiles,
           S_InstallTraces& traces) {
    const std::vector<std::string> vecLines = SplitLines(strText);
    if (vecLines.size() < 3 || vecLines.back() != kEnd) return false;
    if (vecLines.front() != kHeader && vecLines.front() != kHeaderV1) return false;
    const bool bV1 = vecLines.front() == kHeaderV1;
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
            if (vecFiles.size() >= kMaxJournalFiles || !ParseFile(strValue, bV1, file)) return false;
            vecFiles.push_back(file);
        } else {
            ParseTraceField(strKey, strValue, traces);
        }
    }
    return bState;
}

bool EndsWith(const std::string& str, const std::string& strEnd) {
    return str.size() >= strEnd.size() && str.compare(str.size() - strEnd.size(), strEnd.size(), strEnd) == 0;
}

// The road's kept-copy name for this target: its own name, ".~", a process id, the ending.
bool IsKeptCopyNameOf(const std::string& strKept, const std::string& strTarget, bool bExisted) {
    const std::string strEnd = bExisted ? ".old.bak" : ".none.bak";
    const std::string strStart = strTarget + ".~";
    if (strKept.size() <= strStart.size() + strEnd.size() || strKept.compare(0, strStart.size(), strStart) != 0 ||
        !EndsWith(strKept, strEnd)) {
        return false;
    }
    const std::string strPid = strKept.substr(strStart.size(), strKept.size() - strStart.size() - strEnd.size());
    return strPid.size() <= 10 && strPid.find_first_not_of("0123456789") == std::string::npos;
}

// Where the installation's files may be, by final path: below the application
// directory, outside UPDATE\ (the one place others may write) and outside the
// road's own state.
struct S_Bounds {
    std::wstring strApp;
    std::wstring strUpdate;   // empty when there is none
    std::wstring strState;    // empty when there is none
};

bool MakeBounds(const std::string& strAppPath, S_Bounds& bounds, DWORD& dwError) {
    if (!FinalDirectoryPath(strAppPath, bounds.strApp, &dwError)) return false;
    if (!FinalDirectoryPath(strAppPath + kUpdateDir, bounds.strUpdate)) bounds.strUpdate.clear();
    if (!FinalDirectoryPath(strAppPath + kStateDir, bounds.strState)) bounds.strState.clear();
    return true;
}

// A file the road may touch: its directory, by final path, inside the
// installation and outside UPDATE\ and the state, and nothing but a file name after it.
bool IsInstallationFile(const S_Bounds& bounds, const std::string& strFull) {
    std::string strDir;
    if (strFull.empty() || strFull.back() == '\\' || CDirectoryEx::GetFilePath(strFull, strDir) != 0) return false;
    std::wstring strFinal;
    DWORD dwError = ERROR_SUCCESS;
    if (!FinalDirectoryPath(strDir, strFinal, &dwError)) return false;
    return IsAtOrBelow(strFinal, bounds.strApp) && (bounds.strUpdate.empty() || !IsAtOrBelow(strFinal, bounds.strUpdate)) &&
           (bounds.strState.empty() || !IsAtOrBelow(strFinal, bounds.strState));
}

// Entries that may be acted on, their names made full; the others each get a line.
std::vector<S_JournalFile> CheckedEntries(const CUpdateLog& log, const S_Bounds& bounds,
                                          const std::vector<S_JournalFile>& vecFiles, size_t& nLeft) {
    std::vector<S_JournalFile> vecChecked;
    for (const S_JournalFile& file : vecFiles) {
        S_JournalFile checked = file;
        // Format 1 made no empty files for new targets: such an entry can only be left.
        const bool bV1New = !file.bKnownContents && !file.bExisted;
        const bool bNameOk = IsKeptCopyNameOf(file.strRollback, file.strTarget, file.bExisted || bV1New);
        const bool bPlaceOk = FullPath(file.strTarget, checked.strTarget) && IsInstallationFile(bounds, checked.strTarget);
        if (!bNameOk || !bPlaceOk) {
            ++nLeft;
            log.Write("recover", "refused" + LogField("file", file.strTarget) + LogField("kept", file.strRollback) +
                                     LogField("reason", bNameOk ? "outside the installation" : "not the road's kept-copy name"));
            continue;
        }
        checked.strRollback = checked.strTarget + file.strRollback.substr(file.strTarget.size());
        if (bV1New) checked.strRollback.clear();
        vecChecked.push_back(checked);
    }
    return vecChecked;
}

bool Exists(const std::string& strPath) { return GetFileAttributesW(LongPathW(strPath).c_str()) != INVALID_FILE_ATTRIBUTES; }

// The target holds the new contents its entry names.
bool HoldsNewContents(const S_JournalFile& file) {
    if (!file.bKnownContents) return true;   // format 1 does not say; its kept copies are still only this installation's
    UniqueFile hFile(CreateFileW(LongPathW(file.strTarget).c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER liSize = {};
    if (!hFile || !GetFileSizeEx(hFile.get(), &liSize) || static_cast<unsigned long long>(liSize.QuadPart) != file.nNewSize) {
        return false;
    }
    CFileDigest digest(BCRYPT_SHA256_ALGORITHM);
    std::string strDigest;
    return digest.GetOpenFileDigest(hFile.get(), strDigest) == 0 && strDigest == file.strNewSha256;
}

enum class EPutBack { Nothing, Restored, Left, Failed };

// One entry undone: the kept contents back, or the file this run made new
// removed, each only while the target still holds what the run put there.
EPutBack PutBackOne(const CUpdateLog& log, const S_JournalFile& file, S_PlaceResult& result) {
    if (file.strRollback.empty() || !Exists(file.strRollback)) return EPutBack::Nothing;
    const bool bTargetThere = Exists(file.strTarget);
    if (!file.bExisted && !bTargetThere) return EPutBack::Nothing;
    if (bTargetThere && !HoldsNewContents(file)) {
        log.Write("recover", "left" + LogField("file", file.strTarget) + " reason=\"it holds other contents than the entry put there\"");
        return EPutBack::Left;
    }
    result = file.bExisted ? PutBackFile(file.strRollback, file.strTarget, S_LockWait(), &log)
                           : RemoveTargetFile(file.strTarget);
    return result.bOk ? EPutBack::Restored : EPutBack::Failed;
}

// A committed journal's traces as far as this run can vouch for them: its own
// installation, a version only forward, the accepted Signed only forward and
// never past now plus a margin, the manifest copy only along the road's names.
S_InstallTraces SafeTraces(const CUpdateLog& log, const std::string& strAppPath, const S_Bounds& bounds,
                           S_InstallTraces traces) {
    traces.strAppPath = strAppPath;
    auto refuse = [&](const char* pszTrace, const std::string& strValue) {
        log.Write("recover", "trace-refused" + LogField("trace", pszTrace) + LogField("value", strValue));
    };
    auto plain = [](const std::string& str) {
        for (unsigned char c : str) {
            if (c < 0x20 || c == 0x7F) return false;
        }
        return true;
    };
    std::string strInstalled;
    CCryptConfigFile config(strAppPath + "Config.dat", "");
    config.ReadString("Update", "Version", "", strInstalled);
    if ((traces.bWriteConfigVersion || traces.bWriteRegistry) &&
        (!plain(traces.strNewVersion) || !IsVersionGreater(traces.strNewVersion, strInstalled))) {
        refuse("version", traces.strNewVersion);
        traces.bWriteConfigVersion = traces.bWriteRegistry = false;
    }
    if (traces.bWriteRecord && (traces.strRecordSection.empty() || traces.strRecordSection.size() > 19 ||
                                traces.strRecordSection.find_first_not_of("0123456789-: ") != std::string::npos ||
                                !plain(traces.strNewVersion) || !plain(traces.strOldVersion))) {
        refuse("record", traces.strRecordSection);
        traces.bWriteRecord = false;
    }
    if (!traces.strManifestCopyFrom.empty()) {
        std::string strFrom, strTo;
        std::wstring strFromDir;
        std::string strFromParent;
        const bool bNames = FullPath(traces.strManifestCopyFrom, strFrom) && FullPath(traces.strManifestCopyTo, strTo) &&
                            (EndsWith(strTo, std::string("\\") + kDataManifestName) ||
                             EndsWith(strTo, std::string("\\") + kProgramManifestName));
        const bool bFromStaged = bNames && CDirectoryEx::GetFilePath(strFrom, strFromParent) == 0 &&
                                 FinalDirectoryPath(strFromParent, strFromDir) && !bounds.strUpdate.empty() &&
                                 IsAtOrBelow(strFromDir, bounds.strUpdate);
        if (!bFromStaged || !IsInstallationFile(bounds, strTo)) {
            refuse("manifest-copy", traces.strManifestCopyTo);
            traces.strManifestCopyFrom.clear();
            traces.strManifestCopyTo.clear();
        }
    }
    if (!traces.strSignatureRecord.empty()) {
        long long nSigned = 0, nAccepted = 0;
        const std::string strAccepted = ReadAcceptedSigned(strAppPath, traces.strSignatureRecord);
        const std::string& strName = traces.strSignatureRecord;
        const bool bName = plain(strName) && strName.find('=') == std::string::npos && strName[0] != ';' && strName[0] != '[';
        if (!bName || !ParseUtcTime(traces.strSigned, nSigned) || nSigned > CurrentUtcTime() + kMaxSignedAheadSeconds ||
            (ParseUtcTime(strAccepted, nAccepted) && nSigned <= nAccepted)) {
            refuse("signed", strName + " " + traces.strSigned);
            traces.strSignatureRecord.clear();
            traces.strSigned.clear();
        }
    }
    return traces;
}

// Best effort: a copy left is a "*.bak" the next run deletes.
void DropRollbackCopies(const CUpdateLog& log, const std::vector<S_JournalFile>& vecFiles) {
    for (const S_JournalFile& file : vecFiles) {
        if (!file.strRollback.empty()) DeleteFileLogged(log, file.strRollback);
    }
}

// The journal's name may be longer than the plain form allows (a deep installation).
void DeleteJournal(const CUpdateLog& log, const std::string& strPath) {
    if (DeleteFileW(LongPathW(strPath).c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND) return;
    LogIfError(log, "DeleteFileW", strPath, GetLastError());
}

}  // namespace

std::string InstallJournalPath(const std::string& strAppPath) { return strAppPath + kInstallJournalName; }

std::string KeptCopyName(const std::string& strTarget, unsigned long dwPid, bool bExisted) {
    return strTarget + ".~" + std::to_string(dwPid) + (bExisted ? ".old.bak" : ".none.bak");
}

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
    DeleteJournal(CUpdateLog(m_strAppPath), m_strPath);
}

void DropRollbackCopies(const std::string& strAppPath, const std::vector<S_JournalFile>& vecFiles) {
    DropRollbackCopies(CUpdateLog(strAppPath), vecFiles);
}

bool RollBackFiles(const CUpdateLog& log, const std::vector<S_JournalFile>& vecFiles, std::string& strFailedFile,
                   unsigned long& dwError, size_t& nRestored, size_t* pnLeft) {
    nRestored = 0;
    bool bAllBack = true;
    for (auto it = vecFiles.rbegin(); it != vecFiles.rend(); ++it) {
        S_PlaceResult placed;
        switch (PutBackOne(log, *it, placed)) {
        case EPutBack::Nothing: break;
        case EPutBack::Restored: ++nRestored; break;
        case EPutBack::Left:
            if (pnLeft) ++*pnLeft;
            break;
        case EPutBack::Failed:
            // Go on with the others: the fewer files left new, the better.
            if (bAllBack) {
                strFailedFile = it->strTarget;
                dwError = placed.dwError;
            }
            bAllBack = false;
            break;
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
    if (read == FileReadResult::Failed) {
        // Held (a scanner) or denied: it and its kept copies wait for a run that can read it.
        const DWORD dwError = GetLastError();
        result.eRecovery = ERecovery::Unreadable;
        result.strFile = strPath;
        result.dwError = dwError != ERROR_SUCCESS ? dwError : ERROR_READ_FAULT;
        return result;
    }

    bool bCommitted = false;
    std::vector<S_JournalFile> vecFiles;
    S_InstallTraces traces;
    S_Bounds bounds;
    DWORD dwBoundsError = ERROR_SUCCESS;
    if (!MakeBounds(strAppPath, bounds, dwBoundsError)) {
        // Without the installation's own final path nothing can be checked: not now.
        result.eRecovery = ERecovery::Unreadable;
        result.strFile = strAppPath;
        result.dwError = dwBoundsError;
        return result;
    }
    if (!Parse(strText, bCommitted, vecFiles, traces)) {
        DeleteJournal(log, strPath);
        result.eRecovery = ERecovery::Damaged;
        return result;
    }
    const std::vector<S_JournalFile> vecChecked = CheckedEntries(log, bounds, vecFiles, result.nLeft);
    if (bCommitted) {
        bool bAllInPlace = true;
        for (const S_JournalFile& file : vecChecked) {
            if (HoldsNewContents(file)) continue;
            // A later installation (or a reinstall) came since: its traces are its own.
            log.Write("recover", "left" + LogField("file", file.strTarget) + " reason=\"it holds other contents than the entry put there\"");
            ++result.nLeft;
            bAllInPlace = false;
        }
        if (bAllInPlace && vecChecked.size() == vecFiles.size()) WriteInstallTraces(SafeTraces(log, strAppPath, bounds, traces));
        DropRollbackCopies(log, vecChecked);
        DeleteJournal(log, strPath);
        result.eRecovery = ERecovery::Finished;
        result.nFiles = vecChecked.size();
        return result;
    }
    if (!RollBackFiles(log, vecChecked, result.strFile, result.dwError, result.nFiles, &result.nLeft)) {
        result.eRecovery = ERecovery::Stuck;
        return result;
    }
    DropRollbackCopies(log, vecChecked);
    DeleteJournal(log, strPath);
    result.eRecovery = ERecovery::RolledBack;
    return result;
}
