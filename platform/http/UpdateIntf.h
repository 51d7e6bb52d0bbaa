#pragma once
// The transport to the update servers (WinHTTP).
//
// Wire protocol: GET http://<strServerIP>:<nServerPort>/<nUpdateType>/<name>, the
// name's '\' separators turned into '/', each segment (UTF-8, as every name inside
// the program) percent-encoded. Port 0 means 80. Servers are tried in list order,
// per file. A secure server is asked https://<strHost>:<port>/... (port 0: 443):
// TLS 1.2 or later, the certificate checked by the system for that name; a
// certificate error fails that server like a dead one (Certificate). Redirects
// are followed by WinHTTP, at most 5 in a row, never from https to http
// (Redirect); a bound may refuse an answer that is a web page (WebPage).
//
// A body comes with a Content-Length or chunked; without either its end cannot
// be told from a dropped connection, so it is refused, except for a file whose
// exact size is known (S_FileBound), read up to that size.
//
// A body that breaks off after some bytes (or right after the headers) is continued: the next attempt asks for
// "Range: bytes=<have>-" with "If-Range: <the first answer's ETag, or else its
// Last-Modified>"; a 206 with the matching Content-Range is appended, a 200 starts
// over. Up to 3 attempts per server whose connection broke (a server that stalls
// or trickles is not asked again), then the next server. Until it is complete a
// body lies in "<local file>.part"; a transfer that ends early leaves it there with
// its validator in "<local file>.part.tag", and the next fetch of that file (in this
// process or a later one) continues it.
//
// With bUseProxy, the proxy of each server follows the user's Internet Options
// (platform/http/ProxyChoice.h), chosen at the first request; a proxy's 407 gets
// the logged-on user's credentials through Negotiate or NTLM, never Basic.
#include <windows.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct S_UpdateSerivceAddr {
    std::string strServerIP;          // dotted IPv4 text; empty when unresolved
    unsigned short nServerPort = 0;
    bool bSecure = false;             // https://
    std::string strHost;              // the name configured; with bSecure the request goes to it (SNI, certificate)
};

// Why the last FetchFiles/GetRemoteFile did not store every file.
enum class ETransferFailure {
    None,             // every file stored
    NoServer,         // no usable (resolved) server
    Unreachable,      // could not connect or send the request
    HttpStatus,       // answered with a status that is not a usable 200/206 (dwStatus)
    NoAnswer,         // accepted the request and said nothing in time
    Stalled,          // the body stalled, trickled, or ran past its time bound
    BrokenBody,       // the connection ended within the body, attempts exhausted
    ContentMismatch,  // no server had a body of the expected length
    TooLarge,         // above a fixed bound (manifest, .sig)
    LocalWrite,       // the staged file could not be written (full disk, ...): dwError
    Aborted,          // Abort() or a stop request
    Certificate,      // TLS refused: the server's certificate (dwError, dwCertificate) or the protocol
    Redirect,         // a redirect not followed: https to http, or more than 5 in a row (dwStatus, dwError)
    WebPage,          // answered a web page (a portal's login page) where a bound forbids one
    NotWhatWasAsked,  // the caller found the answer is not the file (a manifest that is none)
};

struct S_TransferFailure {
    ETransferFailure eReason = ETransferFailure::None;
    std::string strRemoteFile;   // the file that was not stored
    std::string strServer;       // "ip:port" of the last server asked for it
    DWORD dwStatus = 0;          // with HttpStatus
    DWORD dwError = 0;           // a Win32 / WinHTTP error, when one is known
    // ContentMismatch: the length asked for and the length served: announced
    // (bAnnounced, nothing read), or counted (with bReceivedMore at least that
    // much: the body ran on).
    static constexpr unsigned long long kNoLength = ~0ULL;
    unsigned long long nExpected = kNoLength;
    unsigned long long nReceived = kNoLength;
    bool bAnnounced = false;
    bool bReceivedMore = false;
    DWORD dwCertificate = 0;     // with Certificate: WINHTTP_CALLBACK_STATUS_FLAG_CERT_* of the refusal
};

// A short English name of the reason ("content mismatch"), for logs.
const char* TransferFailureText(ETransferFailure eReason);
// The certificate problems of a TLS refusal, for logs ("name mismatch,
// expired"), from the secure-failure flags or else the WinHTTP error.
std::string CertificateProblemText(DWORD dwCertificateFlags, DWORD dwError);

// Bytes and files per server since construction (servers in list order).
struct S_ServerTally {
    std::string strServer;       // "ip:port"
    unsigned int nFiles = 0;     // files stored from it
    unsigned long long nBytes = 0;         // body bytes received from it
    unsigned long long nResumedBytes = 0;  // of those, bytes that continued a part (206)
    std::string strRedirectedTo;           // where the last redirected answer from it came from ("https://host:port")
    unsigned int nTlsRefusals = 0;         // attempts TLS refused (ETransferFailure::Certificate)
    S_TransferFailure lastTlsRefusal;      // the last of them: dwError, dwCertificate
};

// What one file's answer may be, known before it is asked for. The default
// bounds nothing beyond the stall rules. An answer outside its bound is
// refused before any of it is written (a length announced) or at the first
// byte beyond it (none announced), and the next server is asked.
struct S_FileBound {
    static constexpr unsigned long long kUnknown = ~0ULL;
    // The exact length (the manifest's SIZE): another one is a content
    // mismatch. With it, a body whose end only the closing connection marks is
    // read up to this length.
    unsigned long long nSize = kUnknown;
    // The most it may be (a manifest, a .sig): above it, too large. Nothing of
    // such a file is kept to be continued later.
    unsigned long long nMaxSize = kUnknown;
    // The whole answer from one server within this; 0: only the stall rules.
    DWORD dwWholeMs = 0;
    // A web page is no answer (Content-Type text/html, or a body that starts
    // like HTML): a captive portal's login page in place of the file.
    bool bNoWebPage = false;
};

// A bound per file from the sizes a manifest gives (S_FileBound::kUnknown: none).
std::vector<S_FileBound> SizeBounds(const std::vector<unsigned long long>& vecSizes);

// What a fetch of several files lets its caller do while it runs.
struct S_FetchHooks {
    // Called on the fetching thread just before file i is first requested.
    std::function<void(size_t)> fnBeforeFile;
    // Polled while transfers are in flight; once true, no further request is
    // made and the transfers in flight get at most 1.5 s to finish before they
    // are abandoned.
    std::function<bool()> fnStopRequested;
    // Servers before this one in the list are not asked (they served something the caller refused).
    size_t nFirstServer = 0;
    // Called on the fetching thread once file i is stored, with the index of the server it came from.
    std::function<void(size_t, size_t)> fnStored;
    // Per file, for copies the caller keeps (a shorter list leaves the rest
    // unconditional): the kept copy's ETag, sent as If-None-Match (anything
    // else is not sent). A 304 counts as file i delivered with its local file
    // untouched, and calls fnNotModified instead of fnStored.
    std::vector<std::string> vecConditions;
    std::function<void(size_t, size_t)> fnNotModified;
    // Called with fnStored: the answer's ETag (empty when it had none).
    std::function<void(size_t, const std::string&)> fnValidator;
};

// The most files FetchFiles keeps in flight.
constexpr unsigned int kMaxFetchConnections = 8;

class CQOVAUpdateIntf {
public:
    CQOVAUpdateIntf(const std::vector<S_UpdateSerivceAddr>& vecServers, bool bUseProxy);
    ~CQOVAUpdateIntf();
    CQOVAUpdateIntf(const CQOVAUpdateIntf&) = delete;
    CQOVAUpdateIntf& operator=(const CQOVAUpdateIntf&) = delete;

    // Fetches one file into pszLocalFile (replaced only when complete). -1 on failure.
    // With a window, sends nNotifyMsg (bytes so far, total) at most every 64 KiB or
    // 100 ms, and exactly one (size, size) once the file is in place.
    int GetRemoteFile(unsigned int nUpdateType, const char* pszRemoteFile, const char* pszLocalFile,
                      HWND hNotifyWnd, unsigned int nNotifyMsg, const S_FileBound& bound = S_FileBound());

    // How many files FetchFiles keeps in flight, clamped to 1..8; 1 after construction.
    void SetConnections(unsigned int nConnections);
    unsigned int GetConnections() const;

    // Fetches vecRemote[i] into vecLocal[i], up to GetConnections() files at a time,
    // each on a kept-alive connection of its own, each with its own fail-over.
    // Progress reports as GetRemoteFile's, from any file in flight; a file's (size,
    // size) report only after those of every file before it in the list. The first
    // file that no server delivers ends the fetch: no further request, the others in
    // flight are abandoned (their parts kept). Returns the index of the first file
    // not stored, vecRemote.size() when every file is. Files stored after that index
    // stay stored, without their reports. vecBounds: empty, or one per file.
    size_t FetchFiles(unsigned int nUpdateType, const std::vector<std::string>& vecRemote,
                      const std::vector<std::string>& vecLocal, HWND hNotifyWnd, unsigned int nNotifyMsg,
                      const S_FetchHooks& hooks = S_FetchHooks(),
                      const std::vector<S_FileBound>& vecBounds = std::vector<S_FileBound>());

    // Of the last fetch; None after a complete one.
    S_TransferFailure LastFailure() const;
    std::vector<S_ServerTally> Tally() const;

    // Makes transfers in flight on another thread give up promptly (-1); later
    // calls fail at once. Safe to call from any thread.
    void Abort();

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};
