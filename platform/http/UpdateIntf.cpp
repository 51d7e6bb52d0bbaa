#include "platform/http/UpdateIntf.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>

#include "platform/base/Text.h"
#include "platform/base/Win32Handles.h"
#include "platform/base/WinHttpHandle.h"
#include "platform/http/AsyncRequest.h"
#include "platform/http/FileTransfer.h"
#include "platform/http/ProgressReporter.h"
#include "platform/http/ProxyChoice.h"
#include "platform/http/UrlPath.h"

// Several transfers run on the caller's thread at once: each step of each one
// is started here and completes on its own event, and one wait watches them
// all together with the abort event.

namespace {

const unsigned int kMaxConnections = 8;
// Attempts at one file on one server when its body keeps breaking off.
const int kAttemptsPerServer = 3;
// After a stop request, the transfers in flight get this long to finish.
const DWORD kStopGraceMs = 1500;
// How often a stop request is looked for.
const DWORD kStopPollMs = 50;

std::string ServerText(const S_UpdateSerivceAddr& server) {
    return server.strServerIP + ":" + std::to_string(EffectiveServerPort(server.nServerPort));
}

// Milliseconds until dwDeadline, 0 when it has passed.
DWORD MsUntil(DWORD dwDeadline, DWORD dwNow) {
    const LONG nLeft = static_cast<LONG>(dwDeadline - dwNow);
    return nLeft > 0 ? static_cast<DWORD>(nLeft) : 0;
}

}  // namespace

// Members go in reverse order: connections close before their sessions.
struct CQOVAUpdateIntf::Impl {
    std::vector<S_UpdateSerivceAddr> vecServers;
    bool bUseProxy = false;
    unsigned int nConnections = 1;
    UniqueHandle hAbort{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::atomic<bool> bAborted{false};
    bool bProxiesChosen = false;
    std::vector<S_ProxyChoice> vecProxies;            // per server, chosen at the first request
    std::map<S_ProxyChoice, UniqueInternet> mapSessions;  // one session per way out
    std::vector<UniqueInternet> vecConnects;          // one per server, opened on first use and kept (keep-alive)
    std::vector<std::shared_ptr<RequestMemory>> vecMemory{kMaxConnections};  // one per transfer slot
    S_TransferFailure lastFailure;
    std::vector<S_ServerTally> vecTally;  // per server

    // The server's connection, opened on first use; nullptr when it cannot be.
    HINTERNET Connection(size_t nServer);
    size_t Fetch(unsigned int nUpdateType, const std::vector<std::string>& vecRemote,
                 const std::vector<std::string>& vecLocal, HWND hNotifyWnd, unsigned int nNotifyMsg,
                 const S_FetchHooks& hooks, const std::vector<S_FileBound>& vecBounds);
};

std::vector<S_FileBound> SizeBounds(const std::vector<unsigned long long>& vecSizes) {
    std::vector<S_FileBound> vecBounds(vecSizes.size());
    for (size_t i = 0; i < vecSizes.size(); ++i) vecBounds[i].nSize = vecSizes[i];
    return vecBounds;
}

CQOVAUpdateIntf::CQOVAUpdateIntf(const std::vector<S_UpdateSerivceAddr>& vecServers, bool bUseProxy)
    : m_pImpl(std::make_unique<Impl>()) {
    m_pImpl->vecServers = vecServers;
    m_pImpl->bUseProxy = bUseProxy;
    m_pImpl->vecConnects.resize(vecServers.size());
    for (const S_UpdateSerivceAddr& server : vecServers) {
        S_ServerTally tally;
        tally.strServer = ServerText(server);
        m_pImpl->vecTally.push_back(tally);
    }
}

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
    }
    return "unknown";
}

S_TransferFailure CQOVAUpdateIntf::LastFailure() const { return m_pImpl->lastFailure; }

std::vector<S_ServerTally> CQOVAUpdateIntf::Tally() const { return m_pImpl->vecTally; }

CQOVAUpdateIntf::~CQOVAUpdateIntf() = default;

void CQOVAUpdateIntf::Abort() {
    m_pImpl->bAborted.store(true);
    SetEvent(m_pImpl->hAbort.get());
}

void CQOVAUpdateIntf::SetConnections(unsigned int nConnections) {
    m_pImpl->nConnections = std::min(std::max(nConnections, 1u), kMaxConnections);
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
    return m_pImpl->Fetch(nUpdateType, {pszRemoteFile}, {pszLocalFile}, hNotifyWnd, nNotifyMsg, S_FetchHooks(),
                          {bound}) == 1
               ? 0
               : -1;
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
    return m_pImpl->Fetch(nUpdateType, vecRemote, vecLocal, hNotifyWnd, nNotifyMsg, hooks, vecBounds);
}

HINTERNET CQOVAUpdateIntf::Impl::Connection(size_t nServer) {
    UniqueInternet& hConnect = vecConnects[nServer];
    if (hConnect) return hConnect.get();
    if (!bProxiesChosen) {
        bProxiesChosen = true;
        vecProxies.assign(vecServers.size(), S_ProxyChoice());
        if (bUseProxy) {
            std::vector<std::pair<std::string, unsigned short>> vecHosts;
            for (const S_UpdateSerivceAddr& server : vecServers)
                vecHosts.emplace_back(server.strServerIP, EffectiveServerPort(server.nServerPort));
            vecProxies = ChooseProxies(vecHosts, hAbort.get());
        }
    }
    const S_ProxyChoice& proxy = vecProxies[nServer];
    UniqueInternet& hSession = mapSessions[proxy];
    if (!hSession) {
        // A proxy goes into the session: Wine ignores one set on a request.
        switch (proxy.eKind) {
        case S_ProxyChoice::EKind::Direct:
            hSession.reset(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                       WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC));
            break;
        case S_ProxyChoice::EKind::Default:
            hSession.reset(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                       WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC));
            break;
        case S_ProxyChoice::EKind::Named:
            hSession.reset(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, proxy.wstrProxy.c_str(),
                                       WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC));
            break;
        }
        if (!hSession) return nullptr;
        DWORD dwMaxConns = kMaxConnections;  // each transfer in flight on a connection of its own
        WinHttpSetOption(hSession.get(), WINHTTP_OPTION_MAX_CONNS_PER_SERVER, &dwMaxConns, sizeof(dwMaxConns));
    }
    const S_UpdateSerivceAddr& server = vecServers[nServer];
    hConnect.reset(WinHttpConnect(hSession.get(), WidenAscii(server.strServerIP).c_str(),
                                  EffectiveServerPort(server.nServerPort), 0));
    return hConnect.get();
}

size_t CQOVAUpdateIntf::Impl::Fetch(unsigned int nUpdateType, const std::vector<std::string>& vecRemote,
                                    const std::vector<std::string>& vecLocal, HWND hNotifyWnd,
                                    unsigned int nNotifyMsg, const S_FetchHooks& hooks,
                                    const std::vector<S_FileBound>& vecBounds) {
    lastFailure = S_TransferFailure();
    const size_t nFiles = vecRemote.size();
    if (nFiles == 0) return 0;
    if (bAborted.load() || !hAbort || (hNotifyWnd && !IsWindow(hNotifyWnd))) {
        lastFailure.eReason = ETransferFailure::Aborted;
        lastFailure.strRemoteFile = vecRemote[0];
        return 0;
    }

    struct FileState {
        std::unique_ptr<CFileTransfer> pTransfer;  // while in flight
        size_t nServer = 0;
        int nAttempts = 0;  // on nServer
        DWORD dwServerStart = 0;  // tick count of the first attempt on nServer
        size_t nSlot = 0;
        uint64_t nSize = 0;
        bool bStored = false;
        S_TransferFailure failure;  // why its last attempt ended without it
    };
    std::vector<FileState> vecFiles(nFiles);
    std::vector<bool> vecSlotBusy(nConnections, false);
    std::vector<size_t> vecActive;  // files in flight, in start order
    CProgressReporter reporter(hNotifyWnd, nNotifyMsg);
    size_t nNextStart = 0, nNextReport = 0;
    bool bFailed = false, bGiveUp = false, bStopping = false;
    size_t nEndedBy = nFiles;  // the file whose failure ended the fetch
    DWORD dwStopDeadline = 0;

    auto release = [&](size_t i) {
        FileState& file = vecFiles[i];
        file.pTransfer.reset();  // an unfinished part is kept with its validator
        vecSlotBusy[file.nSlot] = false;
        vecActive.erase(std::find(vecActive.begin(), vecActive.end(), i));
    };
    // Starts the file's first attempt (no outcome yet) or follows an attempt's
    // outcome: the next attempt, the next server, or the end of this file. Leaves
    // the file in flight only with a step pending.
    auto advance = [&](size_t i, std::optional<TransferStep> outcome) {
        FileState& file = vecFiles[i];
        bool bFromTransfer = true;  // the outcome is the transfer's, not a connection that could not be opened
        for (;;) {
            if (outcome && bFromTransfer) {
                bool bContinued = false;
                const uint64_t nReceived = file.pTransfer->TakeReceived(bContinued);
                S_ServerTally& tally = vecTally[file.nServer];
                tally.nBytes += nReceived;
                if (bContinued) tally.nResumedBytes += nReceived;
                if (*outcome == TransferStep::Stored) ++tally.nFiles;
                const S_TransferFailure& end = file.pTransfer->LastEnd();
                // A server with a body of the wrong length says more than a dead one after it.
                const bool bKeep = (file.failure.eReason == ETransferFailure::ContentMismatch ||
                                    file.failure.eReason == ETransferFailure::TooLarge) &&
                                   *outcome != TransferStep::GiveUp;
                if (*outcome != TransferStep::Pending && *outcome != TransferStep::Stored && !bKeep) {
                    file.failure = end;
                    file.failure.strServer = tally.strServer;
                }
            }
            bFromTransfer = true;
            if (outcome) {
                switch (*outcome) {
                case TransferStep::Pending:
                    return;
                case TransferStep::Stored:
                    if (file.pTransfer->NotModified()) {
                        if (hooks.fnNotModified) hooks.fnNotModified(i, file.nServer);
                    } else {
                        if (hooks.fnValidator) hooks.fnValidator(i, file.pTransfer->AnswerValidator());
                        if (hooks.fnStored) hooks.fnStored(i, file.nServer);
                    }
                    file.bStored = true;
                    file.nSize = file.pTransfer->Size();
                    release(i);
                    return;
                case TransferStep::GiveUp:
                    if (!bGiveUp && !bFailed) nEndedBy = i;
                    bGiveUp = true;
                    release(i);
                    return;
                case TransferStep::Broke:
                    if (++file.nAttempts < kAttemptsPerServer) break;
                    [[fallthrough]];
                case TransferStep::TryNext:
                    ++file.nServer;
                    file.nAttempts = 0;
                    break;
                }
                // Another attempt is a new request: none once the fetch is ending.
                if (bStopping || bFailed || bGiveUp) {
                    release(i);
                    return;
                }
            }
            while (file.nServer < vecServers.size() && vecServers[file.nServer].strServerIP.empty()) ++file.nServer;
            if (file.nServer >= vecServers.size()) {
                if (file.failure.eReason == ETransferFailure::None) file.failure.eReason = ETransferFailure::NoServer;
                if (!bFailed && !bGiveUp) nEndedBy = i;
                bFailed = true;
                release(i);
                return;
            }
            HINTERNET hConnect = Connection(file.nServer);
            if (bAborted.load()) {
                if (!bGiveUp) nEndedBy = i;
                file.failure.eReason = ETransferFailure::Aborted;
                bGiveUp = true;
                release(i);
                return;
            }
            if (!hConnect) {
                const DWORD dwError = GetLastError();
                if (file.failure.eReason != ETransferFailure::ContentMismatch &&
                    file.failure.eReason != ETransferFailure::TooLarge) {
                    file.failure = S_TransferFailure();
                    file.failure.eReason = ETransferFailure::Unreachable;
                    file.failure.dwError = dwError;
                    file.failure.strServer = vecTally[file.nServer].strServer;
                }
                bFromTransfer = false;
                outcome = TransferStep::TryNext;
                continue;
            }
            if (file.nAttempts == 0) file.dwServerStart = GetTickCount();
            outcome = file.pTransfer->Start(hConnect, vecMemory[file.nSlot], file.dwServerStart);
        }
    };
    auto abandonAll = [&] {
        while (!vecActive.empty()) {
            vecFiles[vecActive.back()].pTransfer->Abandon();
            release(vecActive.back());
        }
    };

    for (;;) {
        while (!bFailed && !bGiveUp && !bStopping && vecActive.size() < nConnections && nNextStart < nFiles) {
            if (hooks.fnStopRequested && hooks.fnStopRequested()) {
                bStopping = true;
                dwStopDeadline = GetTickCount() + kStopGraceMs;
                break;
            }
            const size_t i = nNextStart++;
            std::string strUrlPath;
            if (!BuildRemoteUrlPath(nUpdateType, vecRemote[i].c_str(), strUrlPath) || vecLocal[i].empty()) {
                // A name that cannot be asked for is a request that cannot be sent.
                vecFiles[i].failure.eReason = ETransferFailure::Unreachable;
                vecFiles[i].failure.dwError = ERROR_INVALID_NAME;
                nEndedBy = i;
                bFailed = true;
                break;
            }
            if (hooks.fnBeforeFile) hooks.fnBeforeFile(i);
            FileState& file = vecFiles[i];
            file.nServer = hooks.nFirstServer;
            file.pTransfer = std::make_unique<CFileTransfer>(WidenAscii(strUrlPath), vecLocal[i],
                                                             vecBounds.empty() ? S_FileBound() : vecBounds[i]);
            if (i < hooks.vecConditions.size()) file.pTransfer->SetCondition(hooks.vecConditions[i]);
            file.nSlot = static_cast<size_t>(std::find(vecSlotBusy.begin(), vecSlotBusy.end(), false) -
                                             vecSlotBusy.begin());
            vecSlotBusy[file.nSlot] = true;
            vecActive.push_back(i);
            advance(i, std::nullopt);
        }
        // Completion reports in list order: the report window counts them against its own list.
        while (nNextReport < nFiles && vecFiles[nNextReport].bStored && !bGiveUp) {
            reporter.Complete(vecFiles[nNextReport].nSize);
            ++nNextReport;
        }
        if (bFailed || bGiveUp) abandonAll();
        if (vecActive.empty() && (bFailed || bGiveUp || bStopping || nNextStart == nFiles)) break;

        // Wait for the abort, any transfer's step, the nearest deadline or the next stop poll.
        const DWORD dwNow = GetTickCount();
        DWORD dwWaitMs = INFINITE;
        std::vector<HANDLE> vecHandles{hAbort.get()};
        for (size_t i : vecActive) {
            vecHandles.push_back(vecFiles[i].pTransfer->Event());
            dwWaitMs = std::min(dwWaitMs, MsUntil(vecFiles[i].pTransfer->Deadline(), dwNow));
        }
        if (hooks.fnStopRequested && !bStopping) dwWaitMs = std::min(dwWaitMs, kStopPollMs);
        if (bStopping) dwWaitMs = std::min(dwWaitMs, MsUntil(dwStopDeadline, dwNow));
        const DWORD dwWait =
            WaitForMultipleObjects(static_cast<DWORD>(vecHandles.size()), vecHandles.data(), FALSE, dwWaitMs);
        if (dwWait == WAIT_OBJECT_0 || bAborted.load() || dwWait == WAIT_FAILED) {
            bGiveUp = true;
            nEndedBy = nFiles;  // aborted: no file's own failure
            continue;
        }
        // The signalled transfer first, then every other one whose step is done or late:
        // WaitForMultipleObjects always names the first, and no transfer may starve.
        const std::vector<size_t> vecWaited = vecActive;
        size_t nSignalled = nFiles;
        if (dwWait > WAIT_OBJECT_0 && dwWait < WAIT_OBJECT_0 + vecHandles.size()) {
            nSignalled = vecWaited[dwWait - WAIT_OBJECT_0 - 1];
            advance(nSignalled, vecFiles[nSignalled].pTransfer->OnEvent(reporter));
        }
        for (size_t i : vecWaited) {
            if (i == nSignalled || !vecFiles[i].pTransfer || bGiveUp) continue;
            CFileTransfer& transfer = *vecFiles[i].pTransfer;
            if (WaitForSingleObject(transfer.Event(), 0) == WAIT_OBJECT_0) {
                advance(i, transfer.OnEvent(reporter));
            } else if (MsUntil(transfer.Deadline(), GetTickCount()) == 0) {
                advance(i, transfer.OnTimeout());
            }
        }
        if (!bStopping && hooks.fnStopRequested && hooks.fnStopRequested()) {
            bStopping = true;
            dwStopDeadline = GetTickCount() + kStopGraceMs;
        }
        if (bStopping && MsUntil(dwStopDeadline, GetTickCount()) == 0) abandonAll();
    }

    size_t nFirstMissing = 0;
    while (nFirstMissing < nFiles && vecFiles[nFirstMissing].bStored) ++nFirstMissing;
    if (nFirstMissing < nFiles) {
        if (nEndedBy < nFiles) {
            lastFailure = vecFiles[nEndedBy].failure;
            lastFailure.strRemoteFile = vecRemote[nEndedBy];
        } else {
            // Stopped or aborted: the first file missing names the server it was on.
            lastFailure.eReason = ETransferFailure::Aborted;
            lastFailure.strRemoteFile = vecRemote[nFirstMissing];
            const size_t nServer = vecFiles[nFirstMissing].nServer;
            if (nServer < vecTally.size()) lastFailure.strServer = vecTally[nServer].strServer;
        }
    }
    return nFirstMissing;
}
