#include "install/StagedFileCheck.h"
#include "platform/base/Text.h"

#include <windows.h>
#include <bcrypt.h>

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// dwError: why the file could not be looked at; 0 when it is simply not there.
bool GetFileSize64(const std::string& strPath, unsigned long long& nBytes, DWORD* pdwError = nullptr) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExW(Utf8ToWide(strPath).c_str(), GetFileExInfoStandard, &data)) {
        const DWORD dwError = GetLastError();
        const bool bMissing = dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND;
        if (pdwError) *pdwError = bMissing ? ERROR_SUCCESS : dwError;
        return false;
    }
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
    nBytes = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

}  // namespace

bool IsSameDigestText(const std::string& strA, const std::string& strB) {
    if (strA.size() != strB.size()) return false;
    for (size_t i = 0; i < strA.size(); ++i) {
        if (LowerAscii(strA[i]) != LowerAscii(strB[i])) return false;
    }
    return true;
}

bool IsSizeText(const std::string& strSize, unsigned long long nBytes) {
    unsigned long long nValue = 0;
    return ParseManifestSize(strSize, nValue) && nValue == nBytes;
}

CStagedFileCheck::CStagedFileCheck(EStagedDigest digest)
    : m_eDigest(digest), m_digest(digest == EStagedDigest::Sha256 ? BCRYPT_SHA256_ALGORITHM : BCRYPT_MD5_ALGORITHM) {}

std::string CStagedFileCheck::DigestOf(const std::string& strStagedPath) {
    std::string strDigest;
    if (m_digest.GetFileDigest(strStagedPath.c_str(), strDigest) != 0) {
        m_dwReadError = GetLastError();
        if (m_dwReadError == ERROR_SUCCESS) m_dwReadError = ERROR_READ_FAULT;
    }
    return strDigest;
}

bool CStagedFileCheck::IsReusable(const std::string& strStagedPath, const S_UpdateFileInfo& info) {
    std::string strDigest;
    if (m_eDigest == EStagedDigest::Sha256) {
        if (!PassesGate(strStagedPath, info, strDigest)) return false;
    } else {
        unsigned long long nBytes = 0;
        if (!GetFileSize64(strStagedPath, nBytes)) return false;
        strDigest = DigestOf(strStagedPath);
        if (strDigest.empty() || strDigest != info.strMD5) return false;
    }
    return true;
}

bool CStagedFileCheck::IsIntact(const std::string& strStagedPath, const S_UpdateFileInfo& info) {
    std::string strDigest;
    return PassesGate(strStagedPath, info, strDigest);
}

bool CStagedFileCheck::PassesGate(const std::string& strStagedPath, const S_UpdateFileInfo& info,
                                  std::string& strDigest) {
    m_dwReadError = ERROR_SUCCESS;
    unsigned long long nBytes = 0;
    if (!GetFileSize64(strStagedPath, nBytes, &m_dwReadError)) return false;
    if (!info.strSize.empty() && !IsSizeText(info.strSize, nBytes)) return false;
    const std::string& strExpected = m_eDigest == EStagedDigest::Sha256 ? info.strSHA256 : info.strMD5;
    if (strExpected.empty()) return m_eDigest == EStagedDigest::Md5;
    strDigest = DigestOf(strStagedPath);
    return !strDigest.empty() && IsSameDigestText(strDigest, strExpected);
}

EStagedState CStagedFileCheck::Judge(const std::string& strStagedPath, const S_UpdateFileInfo& info, DWORD& dwError) {
    std::string strDigest;
    const bool bIntact = PassesGate(strStagedPath, info, strDigest);
    dwError = bIntact ? ERROR_SUCCESS : m_dwReadError;
    if (bIntact) return EStagedState::Intact;
    return dwError == ERROR_SUCCESS ? EStagedState::Mismatch : EStagedState::Unreadable;
}

std::vector<S_UpdateFileInfo> SelectFilesToFetch(CStagedFileCheck& check, const std::string& strDownloadPath,
                                                 const std::vector<S_UpdateFileInfo>& vecChanged) {
    std::vector<S_UpdateFileInfo> vecToFetch;
    for (const S_UpdateFileInfo& info : vecChanged) {
        if (!check.IsReusable(strDownloadPath + info.strFileName, info)) vecToFetch.push_back(info);
    }
    return vecToFetch;
}
