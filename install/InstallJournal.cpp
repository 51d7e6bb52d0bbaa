#include "install/InstallJournal.h"

#include <windows.h>

#include "config/ReleaseTrust.h"
#include "install/FileInstaller.h"
#include "install/UpdateRecord.h"
#include "platform/fs/DirectoryEx.h"
#include "platform/fs/FileContents.h"
#include "platform/ini/CryptConfigFile.h"

namespace {

const char kJournalName[] = "UPDATE\\Install.journal";
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

std::string Serialise(bool bCommitted, const std::vector<S_JournalFile>& vecFiles, const S_InstallTraces& traces) {
    std::string strText = std::string(kHeader) + "\n";
    AddLine(strText, "state", bCommitted ? "commit" : "install");
    for (const S_JournalFile& file : vecFiles) {
        AddLine(strText, "file", file.strTarget + kFieldSeparator + file.strRollback + kFieldSeparator + Flag(file.bExisted));
    }
    if (bCommitted) {
        AddLine(strText, "app", traces.strAppPath);
        AddLine(strText, "configversion", Flag(traces.bWriteConfigVersion));
        AddLine(strText, "registry", Flag(traces.bWriteRegistry));
        AddLine(strText, "newversion", traces.strNewVersion);
        AddLine(strText, "record", Flag(traces.bWriteRecord));
        AddLine(strText, "recordsection", traces.strRecordSection);
        AddLine(strText, "oldversion", traces.strOldVersion);
        AddLine(strText, "manifestfrom", traces.strManifestCopyFrom);
        AddLine(strText, "manifestto", traces.strManifestCopyTo);
        AddLine(strText, "signaturerecord", traces.strSignatureRecord);
        AddLine(strText, "signed", traces.strSigned);
    }
    return strText + kEnd + "\n";
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
    std::vector<std::string> vecLines;
    size_t nStart = 0;
    while (nStart < strText.size()) {
        size_t nEnd = strText.find('\n', nStart);
        if (nEnd == std::string::npos) nEnd = strText.size();
        vecLines.push_back(strText.substr(nStart, nEnd - nStart));
        nStart = nEnd + 1;
    }
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
        } else if (strKey == "app") {
            traces.strAppPath = strValue;
        } else if (strKey == "configversion") {
            traces.bWriteConfigVersion = strValue == "1";
        } else if (strKey == "registry") {
            traces.bWriteRegistry = strValue == "1";
        } else if (strKey == "newversion") {
            traces.strNewVersion = strValue;
        } else if (strKey == "record") {
            traces.bWriteRecord = strValue == "1";
        } else if (strKey == "recordsection") {
            traces.strRecordSection = strValue;
        } else if (strKey == "oldversion") {
            traces.strOldVersion = strValue;
        } else if (strKey == "manifestfrom") {
            traces.strManifestCopyFrom = strValue;
        } else if (strKey == "manifestto") {
            traces.strManifestCopyTo = strValue;
        } else if (strKey == "signaturerecord") {
            traces.strSignatureRecord = strValue;
        } else if (strKey == "signed") {
            traces.strSigned = strValue;
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

void DropRollbackCopies(const std::vector<S_JournalFile>& vecFiles) {
    for (const S_JournalFile& file : vecFiles) DeleteFileA(file.strRollback.c_str());   // best effort: "*.bak", next run
}

}  // namespace

void WriteInstallTraces(const S_InstallTraces& traces) {
    if (traces.bWriteConfigVersion) {
        CCryptConfigFile config(traces.strAppPath + "Config.dat", "");
        config.WriteString("Update", "Version", traces.strNewVersion);
    }
    if (traces.bWriteRegistry) WriteProductRegistry(traces.strAppPath, traces.strNewVersion);
    if (!traces.strManifestCopyFrom.empty()) InstallFile(traces.strManifestCopyFrom, traces.strManifestCopyTo);
    if (!traces.strSignatureRecord.empty())
        WriteAcceptedSigned(traces.strAppPath, traces.strSignatureRecord, traces.strSigned);
    if (traces.bWriteRecord) {
        WriteUpdateRecordSection(traces.strAppPath, traces.strRecordSection, traces.strNewVersion,
                                 traces.strOldVersion, 1);
    }
}

std::string InstallJournalPath(const std::string& strAppPath) { return strAppPath + kJournalName; }

CInstallJournal::CInstallJournal(const std::string& strAppPath) : m_strPath(InstallJournalPath(strAppPath)) {}

bool CInstallJournal::Begin(const std::vector<S_JournalFile>& vecFiles) {
    m_vecFiles = vecFiles;
    CDirectoryEx::CreateParentDirectory(m_strPath);
    return ReplaceFileContents(m_strPath, Serialise(false, vecFiles, S_InstallTraces()));
}

bool CInstallJournal::Commit(const S_InstallTraces& traces) {
    return ReplaceFileContents(m_strPath, Serialise(true, m_vecFiles, traces));
}

void CInstallJournal::End() { DeleteFileA(m_strPath.c_str()); }

bool RollBackFiles(const std::vector<S_JournalFile>& vecFiles, std::string& strFailedFile, unsigned long& dwError,
                   size_t& nRestored) {
    nRestored = 0;
    bool bAllBack = true;
    for (auto it = vecFiles.rbegin(); it != vecFiles.rend(); ++it) {
        const bool bHadCopy = GetFileAttributesA(it->strRollback.c_str()) != INVALID_FILE_ATTRIBUTES;
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
    const std::string strPath = InstallJournalPath(strAppPath);
    std::string strText;
    const FileReadResult read = ReadWholeFile(strPath, strText);
    if (read == FileReadResult::Missing) return result;

    bool bCommitted = false;
    std::vector<S_JournalFile> vecFiles;
    S_InstallTraces traces;
    if (read != FileReadResult::Read || !Parse(strText, bCommitted, vecFiles, traces) ||
        !StaysInside(strAppPath, bCommitted, vecFiles, traces)) {
        DeleteFileA(strPath.c_str());
        result.eRecovery = ERecovery::Damaged;
        return result;
    }
    if (bCommitted) {
        WriteInstallTraces(traces);
        DropRollbackCopies(vecFiles);
        DeleteFileA(strPath.c_str());
        result.eRecovery = ERecovery::Finished;
        result.nFiles = vecFiles.size();
        return result;
    }
    if (!RollBackFiles(vecFiles, result.strFile, result.dwError, result.nFiles)) {
        result.eRecovery = ERecovery::Stuck;
        return result;
    }
    DeleteFileA(strPath.c_str());
    result.eRecovery = ERecovery::RolledBack;
    return result;
}
