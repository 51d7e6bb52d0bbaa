#pragma once
// Client side of the local update servers that scripts/test starts
// (tests/server/update_server.py, proxy_server.py, and nginx). Ports come from
// the environment: QOVA_TEST_SERVER1, QOVA_TEST_SERVER2, QOVA_TEST_PROXY and
// QOVA_TEST_NGINX.
//
// A server serves GET /<path> from the directory given to Serve(); faults
// are injected per URL path; every request path is logged.
#include <string>
#include <vector>

// vec sorted within [0, nFirst) and within [nFirst, end).
std::vector<std::string> SortRuns(std::vector<std::string> vec, size_t nFirst);

class TestServer {
public:
    static TestServer First();
    static TestServer Second();
    static unsigned short ProxyPort();

    unsigned short Port() const { return m_nPort; }

    // Serves the Windows directory strRoot (a file <root>\1\a.dll answers
    // GET /1/a.dll). Clears the faults and the request log.
    bool Serve(const std::string& strRoot);
    // Fault kinds: "404", "500", "drop" (connection closed mid-body), "short"
    // (body shorter than its Content-Length), "long" (longer), "stall" (headers,
    // then silence), "trickle" (a few bytes a second). strUrlPath is as requested,
    // e.g. "/1/bin/a.dll" (percent-encoded as sent). Also "pause" (headers and
    // half the body, then silence), "hang" (no answer at all) and "none" (clears
    // the path's fault). Kinds combine with commas: "cut@N", "cut@P%", "cut@-1"
    // end the next answer after byte offset N, P percent, or one byte before the
    // end (once); "swap" then replaces the file with "<name>.next"; "norange"
    // answers every Range request with 200 and the whole file.
    bool SetFault(const std::string& strUrlPath, const std::string& strKind);
    // Every request waits this long before its answer; Serve() resets it to 0.
    bool SetDelay(unsigned int nMilliseconds);
    // Paths requested since Serve(), in order, percent-decoded to UTF-8.
    std::vector<std::string> RequestLog();
    // The same, sorted within its first nFirst requests and within the rest
    // (SortRuns): requests sent several at a time arrive in any order.
    std::vector<std::string> RequestLogInRuns(size_t nFirst);
    // The same requests with their headers: "path\tRange\tIf-Range\tstatus",
    // "-" for a header that was not sent.
    std::vector<std::string> RequestDetails();
    // TCP connections that carried the requests since Serve(); -1 on error.
    int ConnectionCount();
    // Body bytes sent since Serve(); -1 on error.
    long long BodyBytes();

    // URLs the test proxy forwarded ("http://127.0.0.1:<port>/<path>" as
    // sent, not decoded) and its tunnels ("CONNECT host:port"), oldest first;
    // and a way to empty that log, which also ends the open tunnels.
    static std::vector<std::string> ProxyLog();
    static bool ClearProxyLog();
    // The proxy's authentication mode: "none", "negotiate" (407 offering
    // Negotiate and NTLM) or "basic" (407 offering Basic).
    static bool SetProxyAuth(const std::string& strMode);
    // Per request the proxy received: the scheme of its Proxy-Authorization
    // ("-" for none; "NTLM/1", "Negotiate/3" for NTLM messages). ClearProxyLog
    // empties it too.
    static std::vector<std::string> ProxyAuthLog();

    // nginx serving QOVA_TEST_NGINX_ROOT (a Windows path ending in ''); its
    // access log has a line per request: request line, status, body bytes,
    // "Range", "If-Range".
    static unsigned short NginxPort();
    // nginx over TLS in front of the first server (scripts/lib/nginx.sh):
    // the port named by QOVA_TEST_TLS, QOVA_TEST_TLS_WRONGNAME, ..._EXPIRED, ..._UNTRUSTED.
    static unsigned short TlsPort(const char* pszVariable);
    static std::string NginxRoot();
    static std::vector<std::string> NginxLog();

private:
    explicit TestServer(unsigned short nPort) : m_nPort(nPort) {}
    unsigned short m_nPort;
};
