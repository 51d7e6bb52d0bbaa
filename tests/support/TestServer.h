#pragma once
// Client side of the local update servers that scripts/test starts
// (tests/server/update_server.py). Ports come from the environment:
// QOVA_TEST_SERVER1, QOVA_TEST_SERVER2 and QOVA_TEST_PROXY.
//
// A server serves GET /<path> from the directory given to Serve(); faults
// are injected per URL path; every request path is logged.
#include <string>
#include <vector>

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
    // the path's fault).
    bool SetFault(const std::string& strUrlPath, const std::string& strKind);
    // Paths requested since Serve(), in order, percent-decoded to UTF-8.
    std::vector<std::string> RequestLog();
    // TCP connections that carried the requests since Serve(); -1 on error.
    int ConnectionCount();

    // URLs the test proxy forwarded ("http://127.0.0.1:<port>/<path>" as
    // sent, not decoded), oldest first; and a way to empty that log.
    static std::vector<std::string> ProxyLog();
    static bool ClearProxyLog();

private:
    explicit TestServer(unsigned short nPort) : m_nPort(nPort) {}
    unsigned short m_nPort;
};
