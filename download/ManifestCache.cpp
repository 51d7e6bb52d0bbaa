#include "download/ManifestCache.h"

#include <windows.h>

#include <cstdio>

#include "platform/base/FailureLog.h"
#include "platform/fs/DirectoryEx.h"
#include "platform/fs/FileContents.h"

namespace {

const char kHeader[] = "QOVA kept manifest 1\r\n";

// "<header><validator>\r\n<checksum>\r\n<body>"
std::string Serialize(const std::string& strValidator, const std::string& strBody) {
    char szSum[24];
    std::snprintf(szSum, sizeof(szSum), "%016llx", ContentChecksum(strValidator + "\n" + strBody));
    return std::string(kHeader) + strValidator + "\r\n" + szSum + "\r\n" + strBody;
}

// An entity tag, strong or weak: the only validator that says "this very
// file". A date says only "not modified since", and a publisher who restores
// an older manifest restores its older date too.
bool IsEntityTag(const std::string& strValidator) {
    const size_t nQuote = strValidator.compare(0, 2, "W/") == 0 ? 2 : 0;
    return strValidator.size() >= nQuote + 2 && strValidator[nQuote] == '"' && strValidator.back() == '"';
}

bool Parse(const std::string& strText, std::string& strValidator, std::string& strBody) {
    const size_t nHeader = sizeof(kHeader) - 1;
    if (strText.compare(0, nHeader, kHeader) != 0) return false;
    const size_t nValidatorEnd = strText.find("\r\n", nHeader);
    if (nValidatorEnd == std::string::npos) return false;
    const size_t nSumEnd = strText.find("\r\n", nValidatorEnd + 2);
    if (nSumEnd != nValidatorEnd + 2 + 16) return false;
    strValidator = strText.substr(nHeader, nValidatorEnd - nHeader);
    strBody = strText.substr(nSumEnd + 2);
    // A copy an earlier version kept by its Last-Modified date is no copy.
    return IsEntityTag(strValidator) && Serialize(strValidator, strBody) == strText;
}

}  // namespace

CKeptManifests::CKeptManifests(const std::string& strStateDir, int nUpdateType,
                               const std::vector<std::string>& vecNames, const IFailureSink* pLog)
    : m_vecNames(vecNames), m_pLog(pLog) {
    for (const std::string& strName : vecNames) {
        S_Kept kept;
        if (!strStateDir.empty()) kept.strPath = strStateDir + "Kept-" + std::to_string(nUpdateType) + "-" + strName;
        std::string strText;
        if (!kept.strPath.empty() && ReadWholeFile(kept.strPath, strText) == FileReadResult::Read &&
            !Parse(strText, kept.strValidator, kept.strBody)) {
            DeleteFileLogged(m_pLog, kept.strPath);   // damaged: the full fetch replaces it
            kept.strValidator.clear();
            kept.strBody.clear();
        }
        m_vecConditions.push_back(kept.strValidator);
        m_vecKept.push_back(std::move(kept));
    }
}

void CKeptManifests::Begin() {
    for (S_Kept& kept : m_vecKept) {
        kept.bRestored = false;
        kept.bFetched = false;
        kept.strAnswer.clear();
    }
}

bool CKeptManifests::Restore(size_t i, const std::string& strLocalPath) {
    if (i >= m_vecKept.size() || m_vecKept[i].strValidator.empty()) return false;
    m_vecKept[i].bRestored = ReplaceFileContents(strLocalPath, m_vecKept[i].strBody);
    return m_vecKept[i].bRestored;
}

void CKeptManifests::Fetched(size_t i, const std::string& strValidator) {
    if (i >= m_vecKept.size()) return;
    m_vecKept[i].bFetched = true;
    m_vecKept[i].strAnswer = strValidator;
}

bool CKeptManifests::UsedKept() const {
    for (const S_Kept& kept : m_vecKept) {
        if (kept.bRestored) return true;
    }
    return false;
}

void CKeptManifests::KeepAccepted(const std::string& strDownloadPath) {
    for (size_t i = 0; i < m_vecKept.size(); ++i) {
        S_Kept& kept = m_vecKept[i];
        if (!kept.bFetched || kept.strPath.empty()) continue;
        std::string strBody;
        // Best effort: without a kept copy the next fetch is made in full.
        if (!IsEntityTag(kept.strAnswer) ||
            ReadWholeFile(strDownloadPath + m_vecNames[i], strBody) != FileReadResult::Read) {
            DeleteFileLogged(m_pLog, kept.strPath);
            continue;
        }
        CDirectoryEx::CreateParentDirectory(kept.strPath);
        if (!ReplaceFileContents(kept.strPath, Serialize(kept.strAnswer, strBody))) DeleteFileLogged(m_pLog, kept.strPath);
    }
}

void CKeptManifests::Discard() {
    for (size_t i = 0; i < m_vecKept.size(); ++i) {
        if (!m_vecKept[i].strPath.empty()) DeleteFileLogged(m_pLog, m_vecKept[i].strPath);
        m_vecKept[i] = S_Kept{m_vecKept[i].strPath, "", "", false, false, ""};
        m_vecConditions[i].clear();
    }
}
