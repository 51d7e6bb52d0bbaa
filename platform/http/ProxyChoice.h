#pragma once
// Which proxy the requests to a server go through, from the user's Internet
// Options (WinHttpGetIEProxyConfigForCurrentUser), in this order:
//   1. automatic detection, then the PAC script URL (WinHttpGetProxyForUrl);
//   2. the fixed proxy, unless its bypass list names the server;
//   3. WinHTTP's default proxy (netsh winhttp; under Wine, http_proxy);
//   4. direct, when the default names none.
// Detection and PAC scripts are evaluated once per process for given settings
// and server, within 3 s in all: what is not known by then goes direct for the
// rest of the process.
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

struct S_ProxyChoice {
    enum class EKind { Direct, Default, Named };
    EKind eKind = EKind::Direct;
    std::wstring wstrProxy;  // Named: "host:port", or a list of them

    bool operator<(const S_ProxyChoice& other) const {
        return eKind != other.eKind ? eKind < other.eKind : wstrProxy < other.wstrProxy;
    }
};

// A server as the proxy rules see it: an https one is looked up as https://
// (PAC) and takes the "https=" entry of a per-scheme proxy value; WinHTTP then
// tunnels through the proxy with CONNECT.
struct S_ProxyTarget {
    std::string strHost;
    unsigned short nPort = 0;
    bool bSecure = false;
};

// One choice per server, in order. A set hAbort ends any wait at
// once; the servers not decided by then go direct (not remembered).
std::vector<S_ProxyChoice> ChooseProxies(const std::vector<S_ProxyTarget>& vecServers, HANDLE hAbort);

// The fixed-proxy rule alone: does the Internet Options bypass list
// (";"-separated; "*" wildcards; "<local>" for names without a dot) name host
// or host:port? Case-insensitive.
bool ProxyBypassed(const std::wstring& wstrBypassList, const std::string& strHost, unsigned short nPort);
// The proxy for http:// (bSecure: https://) of an Internet Options proxy value:
// "host:port", or the "http=" ("https=") entry of "http=host:port;https=...";
// empty when it names none.
std::wstring SchemeProxyOf(const std::wstring& wstrProxyValue, bool bSecure);
