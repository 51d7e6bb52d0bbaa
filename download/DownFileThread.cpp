#include "download/DownFileThread.h"

#include <shlwapi.h>

#include <utility>

#include "download/UpdateNotify.h"
#include "platform/base/Win32Handles.h"
#include "platform/fs/DirectoryEx.h"

namespace {

// By character: a GBK trail byte can be 0x5C without being a '\'.
bool EndsWithBackslash(const std::string& strPath) {
    if (strPath.empty()) return false;
    const char* pBegin = strPath.c_str();
    const char* pLast = CharPrevA(pBegin, pBegin + strPath.size());
    return *pLast == '\\';  // a lead byte is never 0x5C
}

}  // namespace

CDownFileThread::CDownFileThread(std::vector<S_UpdateSerivceAddr> vecServerAddr, bool bUseProxy, HWND hNotifyWnd,
                                 UINT nNotifyMsg)
    : m_hNotifyWnd(hNotifyWnd),
      m_nNotifyMsg(nNotifyMsg),
      m_vecServerAddr(std::move(vecServerAddr)),
      m_bUseProxy(bUseProxy) {}

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
    CQOVAUpdateIntf transport(m_vecServerAddr, m_bUseProxy);
    {
        CCriticalSectionLock lock(m_csTransport);
        m_pRunTransport = &transport;
    }
    ScopeExit forgetTransport([this] {
        CCriticalSectionLock lock(m_csTransport);
        m_pRunTransport = nullptr;
    });
    FetchFiles(transport);
}

void CDownFileThread::FetchFiles(CQOVAUpdateIntf& transport) {
    // The transport is published before this check, so a stop that
    // AbandonWork() could not abort is seen here.
    m_failure = S_TransferFailure();
    if (m_vecFileList.empty() || IsStopRequested()) return;
    transport.SetConnections(m_nConnections);
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
    if (!IsStopRequested()) SendMessageA(m_hNotifyWnd, m_nNotifyMsg, 0, UPDATE_NOTIFY_FAILED);
}

void CDownFileThread::AbandonWork() {
    CCriticalSectionLock lock(m_csTransport);
    if (m_pRunTransport) m_pRunTransport->Abort();
}
