#include "install/FetchWays.h"

#include <windows.h>
#include <bcrypt.h>

#include "download/UpdateNotify.h"
#include "platform/base/FailureLog.h"
#include "install/StagedFileCheck.h"
#include "install/UpdateLog.h"
#include "platform/delta/DeltaApply.h"
#include "platform/delta/ZstdStream.h"
#include "platform/fs/DirectoryEx.h"
#include "platform/fs/FileDigest.h"

const char* FetchWayText(EFetchWay eWay) {
    switch (eWay) {
    case EFetchWay::Patch:
        return "patch";
    case EFetchWay::Copy:
        return "copy";
    case EFetchWay::File:
        break;
    }
    return "file";
}

CFetchWays::CFetchWays(const S_FetchWaysSetup& setup, CStagedFileCheck* pCheck, const CUpdateLog& log)
    : m_setup(setup), m_pCheck(pCheck), m_log(log) {}

std::string CFetchWays::InstalledDigest(size_t i) {
    CFileDigest digest(m_setup.bSigned ? BCRYPT_SHA256_ALGORITHM : BCRYPT_MD5_ALGORITHM);
    std::string strDigest;
    // A file that is missing or cannot be read is no base: empty.
    digest.GetFileDigest((m_setup.strTargetPath + m_vecFiles[i].strFileName).c_str(), strDigest);
    return strDigest;
}

void CFetchWays::Plan(const std::vector<S_UpdateFileInfo>& vecFiles) {
    m_vecFiles = vecFiles;
    m_vecWays.assign(vecFiles.size(), S_FileWay());
    m_vecBase.assign(vecFiles.size(), std::string());
    const EDeltaDigest eKind = m_setup.bSigned ? EDeltaDigest::Sha256 : EDeltaDigest::Md5;
    for (size_t i = 0; i < m_vecFiles.size(); ++i) {
        const S_UpdateFileInfo& info = m_vecFiles[i];
        S_FileWay& way = m_vecWays[i];
        if (!ParseManifestSize(info.strSize, way.nSize)) way.nSize = kUnknownSize;
        // A way is only as good as the digest that pins its result: none without SIZE,
        // and of a signed release only SHA-256 entries.
        if (info.delta.eDigest != eKind || way.nSize == kUnknownSize) continue;
        if (!info.delta.vecPatches.empty()) {
            // Unsigned, the comparison's MD5 is the base's kind already.
            m_vecBase[i] = m_setup.bSigned || info.strInstalledMD5.empty() ? InstalledDigest(i) : info.strInstalledMD5;
            for (size_t p = 0; p < info.delta.vecPatches.size() && !m_vecBase[i].empty(); ++p) {
                if (!IsSameDigestText(info.delta.vecPatches[p].strBase, m_vecBase[i])) continue;
                way.eWay = EFetchWay::Patch;
                way.iPatch = p;
                way.nSize = info.delta.vecPatches[p].nSize;
                break;
            }
            if (way.eWay == EFetchWay::File) {
                m_log.Write("fetch", "fallback" + LogField("file", info.strFileName) + LogField("from", "patch") +
                                         LogField("reason", "installed file is no base"));
            }
        }
        if (way.eWay == EFetchWay::File && info.delta.bHasCopy) {
            way.eWay = EFetchWay::Copy;
            way.nSize = info.delta.copy.nSize;
        }
    }
}

std::string CFetchWays::Remote(size_t i) const {
    const S_FileWay& way = m_vecWays[i];
    const S_FileDelta& delta = m_vecFiles[i].delta;
    if (way.eWay == EFetchWay::Patch) return delta.vecPatches[way.iPatch].strRemoteName;
    if (way.eWay == EFetchWay::Copy) return delta.copy.strRemoteName;
    return m_vecFiles[i].strFileName;
}

void CFetchWays::FallBack(size_t i, const std::string& strReason) {
    S_FileWay& way = m_vecWays[i];
    const S_UpdateFileInfo& info = m_vecFiles[i];
    m_log.Write("fetch", "fallback" + LogField("file", info.strFileName) + LogField("from", FetchWayText(way.eWay)) +
                             LogField("reason", strReason));
    DeleteFileLogged(m_log, Local(i));
    if (way.eWay == EFetchWay::Patch && info.delta.bHasCopy) {
        way.eWay = EFetchWay::Copy;
        way.nSize = info.delta.copy.nSize;
        return;
    }
    way.eWay = EFetchWay::File;
    if (!ParseManifestSize(info.strSize, way.nSize)) way.nSize = kUnknownSize;
}

bool CFetchWays::Finish(size_t i, std::string& strReason) {
    const S_UpdateFileInfo& info = m_vecFiles[i];
    const S_FileWay& way = m_vecWays[i];
    const S_DeltaWay& delta = way.eWay == EFetchWay::Patch ? info.delta.vecPatches[way.iPatch] : info.delta.copy;
    const std::string strLocal = Local(i);
    const std::string strStaged = Staged(i);
    unsigned long long nFileSize = 0;
    ParseManifestSize(info.strSize, nFileSize);   // planned only with a SIZE

    CFileDigest digest(m_setup.bSigned ? BCRYPT_SHA256_ALGORITHM : BCRYPT_MD5_ALGORITHM);
    std::string strDigest;
    digest.GetFileDigest(strLocal.c_str(), strDigest);
    DeltaError eError = DeltaError::None;
    // Not checked: a directory that cannot be made fails the write into it.
    CDirectoryEx::CreateParentDirectory(strStaged);
    if (!IsSameDigestText(strDigest, delta.strDigest)) {
        strReason = std::string(FetchWayText(way.eWay)) + " digest";
    } else if (way.eWay == EFetchWay::Patch) {
        // The comparison's view of the installed file may be old by now (the dialog waits for the user).
        const std::string strReference = m_setup.strTargetPath + info.strFileName;
        if (!IsSameDigestText(InstalledDigest(i), m_vecBase[i])) {
            strReason = "installed file changed";
        } else {
            eError = ApplyDeltaPatch(strReference, strLocal, strStaged, nFileSize);
        }
    } else {
        eError = ZstdDecompressFile(strLocal, strStaged, nFileSize);
    }
    DeleteFileLogged(m_log, strLocal);   // used or useless: a way is never kept
    if (strReason.empty() && eError != DeltaError::None) strReason = DeltaErrorText(eError);
    if (strReason.empty() && (!m_pCheck || !m_pCheck->IsIntact(strStaged, info))) strReason = "result digest";
    if (strReason.empty()) return true;
    DeleteFileLogged(m_log, strStaged);
    return false;
}

void CFetchWays::MarkStaged(size_t i, HWND hNotifyWnd, UINT nNotifyMsg) {
    m_vecStaged[i] = 1;
    // In list order, as the transport reports its files: the count never runs ahead of a file still coming.
    const size_t nBefore = m_nReported;
    while (m_nReported < m_vecStaged.size() && m_vecStaged[m_nReported]) ++m_nReported;
    if (hNotifyWnd && m_nReported != nBefore)
        SendMessageW(hNotifyWnd, nNotifyMsg, static_cast<WPARAM>(m_nReported), UPDATE_NOTIFY_STAGED);
}

namespace {
// The file that failed is the one the failure names: the first one missing may only
// have been abandoned when another, fetched beside it, failed first.
size_t FailedIndex(const std::vector<std::string>& vecRemote, const std::vector<char>& vecStored, size_t nFirstMissing,
                   const S_TransferFailure& failure) {
    if (nFirstMissing >= vecRemote.size()) return nFirstMissing;
    for (size_t k = 0; k < vecRemote.size(); ++k) {
        if (!vecStored[k] && vecRemote[k] == failure.strRemoteFile) return k;
    }
    return nFirstMissing;
}
}  // namespace

bool CFetchWays::Run(S_FetchWaysResult& result, HWND hNotifyWnd, UINT nNotifyMsg,
                     const std::function<bool()>& fnStopRequested) {
    result = S_FetchWaysResult();
    std::vector<size_t> vecPending;
    for (size_t i = 0; i < m_vecFiles.size(); ++i) {
        vecPending.push_back(i);
        unsigned long long nSize = 0;
        if (ParseManifestSize(m_vecFiles[i].strSize, nSize)) result.nFull += nSize;
    }
    if (!m_setup.pTransport) {
        result.failure.eReason = ETransferFailure::NoServer;
        if (!m_vecFiles.empty()) result.failure.strRemoteFile = m_vecFiles[0].strFileName;
        return vecPending.empty();
    }
    m_vecStaged.assign(m_vecFiles.size(), 0);
    m_nReported = 0;
    // Each round asks for every pending file on its current way; a way that
    // failed moves its file to the next round on the next way.
    while (!vecPending.empty()) {
        if (!FetchRound(vecPending, result, hNotifyWnd, nNotifyMsg, fnStopRequested)) return false;
    }
    return true;
}

bool CFetchWays::FetchRound(std::vector<size_t>& vecPending, S_FetchWaysResult& result, HWND hNotifyWnd,
                            UINT nNotifyMsg, const std::function<bool()>& fnStopRequested) {
    std::vector<std::string> vecRemote, vecLocal;
    std::vector<unsigned long long> vecSizes;
    for (size_t i : vecPending) {
        vecRemote.push_back(Remote(i));
        vecLocal.push_back(Local(i));
        vecSizes.push_back(m_vecWays[i].nSize);
    }
    std::vector<char> vecStored(vecPending.size(), 0);
    S_FetchHooks hooks;
    // Not checked: a directory that cannot be made fails the fetch into it.
    hooks.fnBeforeFile = [&](size_t k) { CDirectoryEx::CreateParentDirectory(vecLocal[k]); };
    hooks.fnStopRequested = fnStopRequested;
    hooks.fnStored = [&](size_t k, size_t) {
        vecStored[k] = 1;
        if (m_vecWays[vecPending[k]].eWay == EFetchWay::File) MarkStaged(vecPending[k], hNotifyWnd, nNotifyMsg);
    };
    const size_t nFirstMissing = m_setup.pTransport->FetchFiles(m_setup.nUpdateType, vecRemote, vecLocal, hNotifyWnd,
                                                                nNotifyMsg, hooks, SizeBounds(vecSizes));
    const S_TransferFailure failure =
        nFirstMissing < vecPending.size() ? m_setup.pTransport->LastFailure() : S_TransferFailure();
    const size_t nFailed = FailedIndex(vecRemote, vecStored, nFirstMissing, failure);
    std::vector<size_t> vecNext;
    for (size_t k = 0; k < vecPending.size(); ++k) {
        const size_t i = vecPending[k];
        const EFetchWay eWay = m_vecWays[i].eWay;
        if (vecStored[k]) {
            if (!TakeStored(i, result, hNotifyWnd, nNotifyMsg)) vecNext.push_back(i);
            continue;
        }
        if (k == nFailed && eWay != EFetchWay::File && failure.eReason != ETransferFailure::Aborted) {
            FallBack(i, TransferFailureText(failure.eReason));
        } else if (k == nFailed) {
            result.failure = failure;
            result.failure.strRemoteFile = m_vecFiles[i].strFileName;
            return false;
        }
        vecNext.push_back(i);   // not asked for yet, or abandoned: the same way again
    }
    vecPending.swap(vecNext);
    return true;
}

bool CFetchWays::TakeStored(size_t i, S_FetchWaysResult& result, HWND hNotifyWnd, UINT nNotifyMsg) {
    const EFetchWay eWay = m_vecWays[i].eWay;
    result.nTaken += m_vecWays[i].nSize;
    m_log.Write("fetch", "way" + LogField("file", m_vecFiles[i].strFileName) + LogField("way", FetchWayText(eWay)) +
                             LogField("bytes", m_vecWays[i].nSize));
    if (eWay == EFetchWay::File) return true;   // staged when it was stored
    std::string strReason;
    if (Finish(i, strReason)) {
        MarkStaged(i, hNotifyWnd, nNotifyMsg);
        return true;
    }
    FallBack(i, strReason);
    return false;
}
