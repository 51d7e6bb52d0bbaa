#pragma once
// The ways out to the update servers of one transport: a WinHTTP session per
// proxy choice, opened on first use, whose kept-alive connections carry the
// requests to each server.
#include <windows.h>
#include <winhttp.h>

#include <map>
#include <string>
#include <vector>

#include "platform/base/WinHttpHandle.h"
#include "platform/http/ProxyChoice.h"
#include "platform/http/UpdateIntf.h"

// "ip:port" of a server, as logs and tallies name it; "https://host:port" for a secure one.
std::string ServerText(const S_UpdateSerivceAddr& server);
// The name a request goes to: the configured host for HTTPS (its certificate
// names it), else the resolved address.
std::string ConnectHost(const S_UpdateSerivceAddr& server);

class CServerConnections {
public:
    // With bUseProxy the proxies are chosen at the first Open; hAbort cuts that choice short.
    CServerConnections(std::vector<S_UpdateSerivceAddr> vecServers, bool bUseProxy, HANDLE hAbort);
    CServerConnections(const CServerConnections&) = delete;
    CServerConnections& operator=(const CServerConnections&) = delete;

    size_t Count() const { return m_vecServers.size(); }
    // An unresolved server (no address) is never asked.
    bool Usable(size_t nServer) const { return !m_vecServers[nServer].strServerIP.empty(); }
    bool Secure(size_t nServer) const { return m_vecServers[nServer].bSecure; }
    // A connection handle for one request to the server; empty (GetLastError) when it cannot be had.
    // One per request: Wine 8 moves a handle to wherever a redirect led, for every later request on it.
    UniqueInternet Open(size_t nServer);

private:
    HINTERNET Session(const S_ProxyChoice& proxy);

    std::vector<S_UpdateSerivceAddr> m_vecServers;
    bool m_bUseProxy;
    HANDLE m_hAbort;
    bool m_bProxiesChosen = false;
    std::vector<S_ProxyChoice> m_vecProxies;              // per server
    std::map<S_ProxyChoice, UniqueInternet> m_mapSessions;  // one session per way out
};
