#include "platform/http/ProxyChoice.h"

#include <winhttp.h>

#include <map>
#include <memory>
#include <mutex>

#include "platform/base/Text.h"
#include "platform/base/Win32Handles.h"
#include "platform/base/WinHttpHandle.h"

namespace {

// Detection and PAC evaluation of a whole process: after this, direct.
const DWORD kAutomaticBudgetMs = 3000;

wchar_t Lower(wchar_t ch) { return ch >= L'A' && ch <= L'Z' ? static_cast<wchar_t>(ch - L'A' + L'a') : ch; }

// "*" matches any run of characters; everything else itself, case-insensitively.
bool GlobMatch(const wchar_t* pPattern, const wchar_t* pText) {
    if (*pPattern == L'\0') return *pText == L'\0';
    if (*pPattern == L'*') {
        for (const wchar_t* p = pText;; ++p) {
            if (GlobMatch(pPattern + 1, p)) return true;
            if (*p == L'\0') return false;
        }
    }
    return *pText != L'\0' && Lower(*pPattern) == Lower(*pText) && GlobMatch(pPattern + 1, pText + 1);
}

std::vector<std::wstring> SplitList(const std::wstring& wstrList) {
    std::vector<std::wstring> vecItems;
    std::wstring wstrItem;
    for (wchar_t ch : wstrList + L";") {
        if (ch == L';' || ch == L',' || ch == L' ' || ch == L'\t' || ch == L'\r' || ch == L'\n') {
            if (!wstrItem.empty()) vecItems.push_back(wstrItem);
            wstrItem.clear();
        } else {
            wstrItem += ch;
        }
    }
    return vecItems;
}

// The user's settings; strings freed on destruction.
struct IEConfig {
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config = {};
    bool bRead = WinHttpGetIEProxyConfigForCurrentUser(&config) != FALSE;
    ~IEConfig() {
        for (LPWSTR psz : {config.lpszAutoConfigUrl, config.lpszProxy, config.lpszProxyBypass})
            if (psz) GlobalFree(psz);
    }
    bool Automatic() const { return bRead && (config.fAutoDetect || (config.lpszAutoConfigUrl && *config.lpszAutoConfigUrl)); }
    std::wstring PacUrl() const { return bRead && config.lpszAutoConfigUrl ? config.lpszAutoConfigUrl : L""; }
    std::wstring Proxy() const { return bRead && config.lpszProxy ? config.lpszProxy : L""; }
    std::wstring Bypass() const { return bRead && config.lpszProxyBypass ? config.lpszProxyBypass : L""; }
};

// What automatic configuration said for one server; not decided when neither
// detection nor the script gave an answer (then the fixed proxy rules).
struct Automatic {
    bool bDecided = false;
    S_ProxyChoice choice;
};

// The work of one evaluation, shared with its thread, which may outlive the wait.
struct Evaluation {
    bool bDetect = false;
    std::wstring wstrPacUrl;
    std::vector<std::wstring> vecUrls;
    std::vector<Automatic> vecResults;  // written by the thread before hDone is set
    UniqueHandle hDone{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

bool AskWinHttp(HINTERNET hSession, const std::wstring& wstrUrl, WINHTTP_AUTOPROXY_OPTIONS& options, Automatic& result) {
    WINHTTP_PROXY_INFO info = {};
    if (!WinHttpGetProxyForUrl(hSession, wstrUrl.c_str(), &options, &info)) return false;
    result.bDecided = true;
    if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && info.lpszProxy && *info.lpszProxy) {
        result.choice.eKind = S_ProxyChoice::EKind::Named;
        result.choice.wstrProxy = info.lpszProxy;
    }
    if (info.lpszProxy) GlobalFree(info.lpszProxy);
    if (info.lpszProxyBypass) GlobalFree(info.lpszProxyBypass);
    return true;
}

DWORD WINAPI EvaluationThread(void* pParam) {
    std::unique_ptr<std::shared_ptr<Evaluation>> pHolder(static_cast<std::shared_ptr<Evaluation>*>(pParam));
    Evaluation& work = **pHolder;
    std::vector<Automatic> vecResults(work.vecUrls.size());
    UniqueInternet hSession(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                        WINHTTP_NO_PROXY_BYPASS, 0));
    for (size_t i = 0; hSession && i < work.vecUrls.size(); ++i) {
        WINHTTP_AUTOPROXY_OPTIONS options = {};
        options.fAutoLogonIfChallenged = TRUE;
        if (work.bDetect) {
            options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
            options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
            if (AskWinHttp(hSession.get(), work.vecUrls[i], options, vecResults[i])) continue;
        }
        if (!work.wstrPacUrl.empty()) {
            options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
            options.dwAutoDetectFlags = 0;
            options.lpszAutoConfigUrl = work.wstrPacUrl.c_str();
            AskWinHttp(hSession.get(), work.vecUrls[i], options, vecResults[i]);
        }
    }
    work.vecResults = std::move(vecResults);
    SetEvent(work.hDone.get());
    return 0;
}

// The process's memory of automatic configuration.
struct AutomaticCache {
    std::mutex mutex;
    std::map<std::wstring, Automatic> mapResults;  // settings + server -> result
    DWORD dwBudgetLeftMs = kAutomaticBudgetMs;
};

AutomaticCache& Cache() {
    static AutomaticCache s_cache;
    return s_cache;
}

// Detection and the PAC script for the servers not known yet; bounded by the
// process's budget.
void EvaluateAutomatic(const IEConfig& ie, const std::vector<std::wstring>& vecUrls, HANDLE hAbort,
                       std::vector<Automatic>& vecResults) {
    const std::wstring wstrSettings = (ie.config.fAutoDetect ? L"detect|" : L"|") + ie.PacUrl() + L"|";
    AutomaticCache& cache = Cache();
    std::lock_guard<std::mutex> lock(cache.mutex);  // one evaluation at a time: the budget is shared

    auto pWork = std::make_shared<Evaluation>();
    pWork->bDetect = ie.config.fAutoDetect != FALSE;
    pWork->wstrPacUrl = ie.PacUrl();
    std::vector<size_t> vecAsked;
    for (size_t i = 0; i < vecUrls.size(); ++i) {
        auto it = cache.mapResults.find(wstrSettings + vecUrls[i]);
        if (it != cache.mapResults.end()) {
            vecResults[i] = it->second;
        } else {
            vecAsked.push_back(i);
            pWork->vecUrls.push_back(vecUrls[i]);
        }
    }
    if (vecAsked.empty()) return;

    bool bAnswered = false, bAborted = false;
    if (cache.dwBudgetLeftMs > 0 && pWork->hDone) {
        auto* pHolder = new std::shared_ptr<Evaluation>(pWork);
        UniqueHandle hThread(CreateThread(nullptr, 0, EvaluationThread, pHolder, 0, nullptr));
        if (!hThread) {
            delete pHolder;
        } else {
            const DWORD dwStart = GetTickCount();
            HANDLE ahWait[2] = {pWork->hDone.get(), hAbort};
            const DWORD dwWait = WaitForMultipleObjects(hAbort ? 2 : 1, ahWait, FALSE, cache.dwBudgetLeftMs);
            const DWORD dwSpent = GetTickCount() - dwStart;
            cache.dwBudgetLeftMs = dwSpent < cache.dwBudgetLeftMs ? cache.dwBudgetLeftMs - dwSpent : 0;
            bAnswered = dwWait == WAIT_OBJECT_0;
            bAborted = dwWait == WAIT_OBJECT_0 + 1;
            if (dwWait == WAIT_TIMEOUT) cache.dwBudgetLeftMs = 0;
            // A thread still evaluating is left to finish on its own: it holds its work.
        }
    }
    for (size_t k = 0; k < vecAsked.size(); ++k) {
        Automatic result;
        if (bAnswered) {
            result = pWork->vecResults[k];
        } else {
            result.bDecided = true;  // out of time: direct
        }
        vecResults[vecAsked[k]] = result;
        if (!bAborted) cache.mapResults[wstrSettings + vecUrls[vecAsked[k]]] = result;
    }
}

}  // namespace

bool ProxyBypassed(const std::wstring& wstrBypassList, const std::string& strHost, unsigned short nPort) {
    const std::wstring wstrHost = WidenAscii(strHost);
    const std::wstring wstrHostPort = wstrHost + L":" + std::to_wstring(nPort);
    for (std::wstring wstrItem : SplitList(wstrBypassList)) {
        if (GlobMatch(L"<local>", wstrItem.c_str())) {
            if (wstrHost.find(L'.') == std::wstring::npos) return true;
            continue;
        }
        if (wstrItem.compare(0, 7, L"http://") == 0) wstrItem.erase(0, 7);
        if (GlobMatch(wstrItem.c_str(), wstrHost.c_str()) || GlobMatch(wstrItem.c_str(), wstrHostPort.c_str()))
            return true;
    }
    return false;
}

std::wstring SchemeProxyOf(const std::wstring& wstrProxyValue, bool bSecure) {
    std::wstring wstrPlain;
    for (const std::wstring& wstrItem : SplitList(wstrProxyValue)) {
        const size_t nEquals = wstrItem.find(L'=');
        if (nEquals == std::wstring::npos) {
            if (wstrPlain.empty()) wstrPlain = wstrItem;
        } else if (GlobMatch(bSecure ? L"https" : L"http", wstrItem.substr(0, nEquals).c_str())) {
            return wstrItem.substr(nEquals + 1);
        }
    }
    std::wstring wstrProxy = wstrPlain;
    if (wstrProxy.compare(0, 7, L"http://") == 0) wstrProxy.erase(0, 7);
    return wstrProxy;
}

std::vector<S_ProxyChoice> ChooseProxies(const std::vector<S_ProxyTarget>& vecServers, HANDLE hAbort) {
    IEConfig ie;
    std::vector<Automatic> vecAutomatic(vecServers.size());
    if (ie.Automatic()) {
        std::vector<std::wstring> vecUrls;
        for (const auto& server : vecServers)
            vecUrls.push_back((server.bSecure ? L"https://" : L"http://") + WidenAscii(server.strHost) + L":" +
                              std::to_wstring(server.nPort) + L"/");
        EvaluateAutomatic(ie, vecUrls, hAbort, vecAutomatic);
    }
    std::vector<S_ProxyChoice> vecChoices(vecServers.size());
    for (size_t i = 0; i < vecServers.size(); ++i) {
        const std::wstring wstrFixed = SchemeProxyOf(ie.Proxy(), vecServers[i].bSecure);
        if (vecAutomatic[i].bDecided) {
            vecChoices[i] = vecAutomatic[i].choice;
        } else if (!wstrFixed.empty()) {
            if (!ProxyBypassed(ie.Bypass(), vecServers[i].strHost, vecServers[i].nPort)) {
                vecChoices[i].eKind = S_ProxyChoice::EKind::Named;
                vecChoices[i].wstrProxy = wstrFixed;
            }
        } else {
            vecChoices[i].eKind = S_ProxyChoice::EKind::Default;
        }
    }
    return vecChoices;
}
