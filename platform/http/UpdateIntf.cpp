#include "platform/http/UpdateIntf.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <memory>

#include "platform/base/Win32Handles.h"
#include "platform/http/FetchScheduler.h"
#include "platform/http/ServerConnections.h"

struct CQOVAUpdateIntf::Impl {
    Impl(const std::vector<S_UpdateSerivceAddr>& vecServerList, bool bUseProxy)
        : servers(vecServerList, bUseProxy, hAbort.get()) {
        for (const S_UpdateSerivceAddr& server : vecServerList) {
            S_ServerTally tally;
            tally.strServer = ServerText(server);
            vecTally.push_back(tally);
        }
    }
    size_t Fetch(const S_FetchJob& job);

    unsigned int nConnections = 1;
    UniqueHandle hAbort{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::atomic<bool> bAborted{false};
    CServerConnections servers;
    std::vector<std::shared_ptr<RequestMemory>> vecMemory{kMaxFetchConnections};  // one per transfer slot
    S_TransferFailure lastFailure;
    std::vector<S_ServerTally> vecTally;  // per server
};

std::vector<S_FileBound> SizeBounds(const std::vector<unsigned long long>& vecSizes) {
    std::vector<S_FileBound> vecBounds(vecSizes.size());
    for (size_t i = 0; i < vecSizes.size(); ++i) vecBounds[i].nSize = vecSizes[i];
    return vecBounds;
}

CQOVAUpdateIntf::CQOVAUpdateIntf(const std::vector<S_UpdateSerivceAddr>& vecServers, bool bUseProxy)
    : m_pImpl(std::make_unique<Impl>(vecServers, bUseProxy)) {}

const char* TransferFailureText(ETransferFailure eReason) {
    switch (eReason) {
    case ETransferFailure::None: return "none";
    case ETransferFailure::NoServer: return "no usable server";
    case ETransferFailure::Unreachable: return "unreachable";
    case ETransferFailure::HttpStatus: return "HTTP status";
    case ETransferFailure::NoAnswer: return "no answer";
    case ETransferFailure::Stalled: return "stalled";
    case ETransferFailure::BrokenBody: return "broken body";
    case ETransferFailure::ContentMismatch: return "content mismatch";
    case ETransferFailure::TooLarge: return "too large";
    case ETransferFailure::LocalWrite: return "local write";
    case ETransferFailure::Aborted: return "aborted";
    case ETransferFailure::Certificate: return "certificate refused";
    case ETransferFailure::Redirect: return "redirect refused";
    case ETransferFailure::WebPage: return "answered a web page";
    case ETransferFailure::NotWhatWasAsked: return "not a manifest";
    }
    return "unknown";
}

std::string CertificateProblemText(DWORD dwFlags, DWORD dwError) {
    static const struct {
        DWORD dwFlag;
        DWORD dwError;
        const char* pszText;
    } kProblems[] = {
        {WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID, ERROR_WINHTTP_SECURE_CERT_CN_INVALID, "name mismatch"},
        {WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID, ERROR_WINHTTP_SECURE_CERT_DATE_INVALID, "expired or not yet valid"},
        {WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA, ERROR_WINHTTP_SECURE_INVALID_CA, "untrusted issuer"},
        {WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED, ERROR_WINHTTP_SECURE_CERT_REVOKED, "revoked"},
        {WINHTTP_CALLBACK_STATUS_FLAG_CERT_REV_FAILED, ERROR_WINHTTP_SECURE_CERT_REV_FAILED, "revocation unknown"},
        {WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CERT, ERROR_WINHTTP_SECURE_INVALID_CERT, "invalid certificate"},
        {WINHTTP_CALLBACK_STATUS_FLAG_CERT_WRONG_USAGE, ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE, "wrong usage"},
        {WINHTTP_CALLBACK_STATUS_FLAG_SECURITY_CHANNEL_ERROR, ERROR_WINHTTP_SECURE_CHANNEL_ERROR, "TLS channel error"},
    };
    std::string strText;
    for (const auto& problem : kProblems) {
        if ((dwFlags & problem.dwFlag) != 0 || (dwFlags == 0 && dwError == problem.dwError))
            strText += (strText.empty() ? "" : ", ") + std::string(problem.pszText);
    }
    return strText.empty() ? "TLS refused" : strText;
}

S_TransferFailure CQOVAUpdateIntf::LastFailure() const { return m_pImpl->lastFailure; }

std::vector<S_ServerTally> CQOVAUpdateIntf::Tally() const { return m_pImpl->vecTally; }

CQOVAUpdateIntf::~CQOVAUpdateIntf() = default;

void CQOVAUpdateIntf::Abort() {
    m_pImpl->bAborted.store(true);
    SetEvent(m_pImpl->hAbort.get());
}

void CQOVAUpdateIntf::SetConnections(unsigned int nConnections) {
    m_pImpl->nConnections = std::min(std::max(nConnections, 1u), kMaxFetchConnections);
}

unsigned int CQOVAUpdateIntf::GetConnections() const { return m_pImpl->nConnections; }

int CQOVAUpdateIntf::GetRemoteFile(unsigned int nUpdateType, const char* pszRemoteFile, const char* pszLocalFile,
                                   HWND hNotifyWnd, unsigned int nNotifyMsg, const S_FileBound& bound) {
    if (!pszRemoteFile || !pszLocalFile || !*pszLocalFile) {
        m_pImpl->lastFailure = S_TransferFailure();
        m_pImpl->lastFailure.eReason = ETransferFailure::LocalWrite;
        m_pImpl->lastFailure.dwError = ERROR_INVALID_PARAMETER;
        if (pszRemoteFile) m_pImpl->lastFailure.strRemoteFile = pszRemoteFile;
        return -1;
    }
    const std::vector<std::string> vecRemote{pszRemoteFile}, vecLocal{pszLocalFile};
    const std::vector<S_FileBound> vecBounds{bound};
    const S_FetchHooks hooks;
    return m_pImpl->Fetch({nUpdateType, vecRemote, vecLocal, vecBounds, hooks, hNotifyWnd, nNotifyMsg}) == 1 ? 0 : -1;
}

size_t CQOVAUpdateIntf::FetchFiles(unsigned int nUpdateType, const std::vector<std::string>& vecRemote,
                                   const std::vector<std::string>& vecLocal, HWND hNotifyWnd,
                                   unsigned int nNotifyMsg, const S_FetchHooks& hooks,
                                   const std::vector<S_FileBound>& vecBounds) {
    if (vecLocal.size() != vecRemote.size() || (!vecBounds.empty() && vecBounds.size() != vecRemote.size())) {
        m_pImpl->lastFailure = S_TransferFailure();
        m_pImpl->lastFailure.eReason = ETransferFailure::LocalWrite;
        m_pImpl->lastFailure.dwError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    return m_pImpl->Fetch({nUpdateType, vecRemote, vecLocal, vecBounds, hooks, hNotifyWnd, nNotifyMsg});
}

size_t CQOVAUpdateIntf::Impl::Fetch(const S_FetchJob& job) {
    lastFailure = S_TransferFailure();
    if (job.vecRemote.empty()) return 0;
    if (bAborted.load() || !hAbort || (job.hNotifyWnd && !IsWindow(job.hNotifyWnd))) {
        lastFailure.eReason = ETransferFailure::Aborted;
        lastFailure.strRemoteFile = job.vecRemote[0];
        return 0;
    }
    const S_FetchLinks links{servers, vecMemory, vecTally, hAbort.get(), bAborted};
    CFetchScheduler scheduler(job, links, nConnections);
    return scheduler.Run(lastFailure);
}
