#include "platform/http/ServerConnections.h"

#include <utility>

#include "platform/base/Text.h"
#include "platform/http/UrlPath.h"

std::string ServerText(const S_UpdateSerivceAddr& server) {
    const std::string strPort = ":" + std::to_string(EffectiveServerPort(server.nServerPort, server.bSecure));
    return server.bSecure ? "https://" + ConnectHost(server) + strPort : server.strServerIP + strPort;
}

std::string ConnectHost(const S_UpdateSerivceAddr& server) {
    return server.bSecure && !server.strHost.empty() ? server.strHost : server.strServerIP;
}

CServerConnections::CServerConnections(std::vector<S_UpdateSerivceAddr> vecServers, bool bUseProxy, HANDLE hAbort)
    : m_vecServers(std::move(vecServers)), m_bUseProxy(bUseProxy), m_hAbort(hAbort) {}

UniqueInternet CServerConnections::Open(size_t nServer) {
    if (!m_bProxiesChosen) {
        m_bProxiesChosen = true;
        m_vecProxies.assign(m_vecServers.size(), S_ProxyChoice());
        if (m_bUseProxy) {
            std::vector<S_ProxyTarget> vecHosts;
            for (const S_UpdateSerivceAddr& server : m_vecServers)
                vecHosts.push_back({ConnectHost(server), EffectiveServerPort(server.nServerPort, server.bSecure),
                                    server.bSecure});
            m_vecProxies = ChooseProxies(vecHosts, m_hAbort);
        }
    }
    const HINTERNET hSession = Session(m_vecProxies[nServer]);
    if (!hSession) return UniqueInternet();
    const S_UpdateSerivceAddr& server = m_vecServers[nServer];
    return UniqueInternet(WinHttpConnect(hSession, WidenAscii(ConnectHost(server)).c_str(),
                                         EffectiveServerPort(server.nServerPort, server.bSecure), 0));
}

HINTERNET CServerConnections::Session(const S_ProxyChoice& proxy) {
    UniqueInternet& hSession = m_mapSessions[proxy];
    if (hSession) return hSession.get();
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
    DWORD dwMaxConns = kMaxFetchConnections;  // each transfer in flight on a connection of its own
    WinHttpSetOption(hSession.get(), WINHTTP_OPTION_MAX_CONNS_PER_SERVER, &dwMaxConns, sizeof(dwMaxConns));
    // TLS 1.2 or later; a system without 1.3 refuses the whole set, then 1.2 alone.
    DWORD dwProtocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
    if (!WinHttpSetOption(hSession.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &dwProtocols, sizeof(dwProtocols))) {
        dwProtocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
        if (!WinHttpSetOption(hSession.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &dwProtocols, sizeof(dwProtocols))) {
            hSession.reset();  // never a session that might speak an older protocol
            return nullptr;
        }
    }
    return hSession.get();
}
