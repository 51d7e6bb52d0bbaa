#include "download/DownFileThread.h"

#include <shlwapi.h>

#include <utility>

#include "download/UpdateNotify.h"
#include "platform/base/Win32Handles.h"
#include "platform/fs/DirectoryEx.h"

namespace {

// Paths are UTF-8: a byte '\' is always the separator.
bool EndsWithBackslash(const std::string& strPath) { return !strPath.empty() && strPath.back() == '\\'; }

}  // namespace

CDownFileThread::CDownFileThread(CQOVAUpdateIntf& transport, HWND hNotifyWnd, UINT nNotifyMsg)
    : m_hNotifyWnd(hNotifyWnd), m_nNotifyMsg(nNotifyMsg), m_transport(transport) {}

CDownFileThread::~CDownFileThread() {
    // Before any member goes away: the worker uses them until it has ended.
    StopAndWait();
}

void CDownFileThread::SetLocalPath(std::string strPath) {
    m_strLocalPath = std::move(strPath);
    if (!EndsWithBackslash(m_strLocalPath)) m_strLocalPath += '\\';
}

void CDownFileThread::Run() {
    CCriticalSectionLock listLock(m_csFileList);
    CQOVAUpdateIntf& transport = m_transport;
    // A stop before the fetch began fetches nothing (the abort would fail it at once anyway).
    m_failure = S_TransferFailure();
    if (m_vecFileList.empty() || IsStopRequested()) return;
    transport.SetConnections(m_nConnections);
    if (m_fnFetch) {
        if (m_fnFetch(m_hNotifyWnd, m_nNotifyMsg, [this] { return IsStopRequested(); }, m_failure)) {
            SendMessageW(m_hNotifyWnd, m_nNotifyMsg, 0, UPDATE_NOTIFY_DONE);
            return;
        }
        m_strCurFile = m_failure.strRemoteFile;
        if (!IsStopRequested()) SendMessageW(m_hNotifyWnd, m_nNotifyMsg, 0, UPDATE_NOTIFY_FAILED);
        return;
    }
    std::vector<std::string> vecLocal;
    for (const std::string& strName : m_vecFileList) vecLocal.push_back(m_strLocalPath + strName);

    S_FetchHooks hooks;
    hooks.fnBeforeFile = [&](size_t i) {
        m_strCurFile = m_vecFileList[i];
        m_nCurFile = static_cast<UINT>(i + 1);
        // Not checked: a directory that cannot be made fails the fetch into it.
        CDirectoryEx::CreateParentDirectory(vecLocal[i]);
    };
    hooks.fnStopRequested = [this] { return IsStopRequested(); };
    const size_t nStored =
        transport.FetchFiles(m_nUpdateType, m_vecFileList, vecLocal, m_hNotifyWnd, m_nNotifyMsg, hooks,
                             m_vecFileSizes.size() == m_vecFileList.size() ? SizeBounds(m_vecFileSizes)
                                                                            : std::vector<S_FileBound>());
    if (nStored == m_vecFileList.size()) return;
    m_failure = transport.LastFailure();
    m_strCurFile = m_vecFileList[nStored];
    m_nCurFile = static_cast<UINT>(nStored + 1);
    // A stopped or abandoned fetch is not a connection failure: no report.
    if (!IsStopRequested()) SendMessageW(m_hNotifyWnd, m_nNotifyMsg, 0, UPDATE_NOTIFY_FAILED);
}

void CDownFileThread::AbandonWork() { m_transport.Abort(); }

void CDownFileThread::RunThrew() noexcept {
    // Whatever was in flight is not coming: the window waiting for it hears so.
    m_failure.eReason = ETransferFailure::LocalWrite;
    m_failure.dwError = ERROR_INTERNAL_ERROR;
    m_failure.strRemoteFile = m_strCurFile;
    if (!IsStopRequested()) SendMessageW(m_hNotifyWnd, m_nNotifyMsg, 0, UPDATE_NOTIFY_FAILED);
}
