#pragma once
// One asynchronous WinHTTP GET whose steps the caller starts one at a time and
// waits for on the request's event, next to other requests' events.
//
// WinHTTP runs asynchronously and the caller waits on events of its own: under
// Wine 8 closing a request handle does not cut short a blocked synchronous call,
// so only a wait that also watches an abort event gives up promptly. The same
// waits enforce the time limits, whatever WinHTTP's own timeouts do.
#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/base/Win32Handles.h"
#include "platform/base/WinHttpHandle.h"

// Redirects followed in a row; a longer chain (a loop) fails the request.
constexpr DWORD kMaxRedirects = 5;

// The read buffer's size: the most one read can bring.
constexpr DWORD kReadBufferBytes = 1024 * 1024;

// What the requests of one transfer slot reuse: the completion event and the
// read buffer. An abandoned operation may still signal the one or fill the
// other, so after an abandonment the next request gets new ones.
struct RequestMemory {
    UniqueHandle hDone{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    std::unique_ptr<char[]> pData{new char[kReadBufferBytes]};
};

struct RequestContext;

class CAsyncRequest {
public:
    // pMemory is the slot's, created on first use and dropped (for a new one)
    // when this request is abandoned with an operation under way.
    explicit CAsyncRequest(std::shared_ptr<RequestMemory>& pMemory) : m_pMemory(pMemory) {}
    ~CAsyncRequest();
    CAsyncRequest(const CAsyncRequest&) = delete;
    CAsyncRequest& operator=(const CAsyncRequest&) = delete;

    // bSecure: over TLS, the certificate checked by the system (no check is ever turned off).
    // The request keeps hConnect, its own connection handle.
    bool Open(UniqueInternet hConnect, const std::wstring& wstrPath, bool bSecure);
    // Extra request lines, "Name: value\r\n" each; before the first send.
    bool AddHeaders(const std::wstring& wstrHeaders);

    // Each step starts an operation and returns at once; false when it could not
    // be started. Its end signals Event(); Finished() then says how it went.
    bool BeginSend();
    bool BeginReceive();
    bool BeginQueryAvailable();
    bool BeginRead(DWORD cbWant);
    HANDLE Event() const { return m_pMemory->hDone.get(); }
    // The step just started has completed within its Begin call: Finished()
    // may be asked at once, and Event() was not signalled for it.
    bool CompletedInline() const;
    // Signals Event() for a step that completed inline but is taken later.
    void SignalCompletion();
    // After Event(): false when the operation failed; cbBytes is what
    // QueryAvailable found or Read brought.
    bool Finished(DWORD& cbBytes);
    // The WinHTTP error of the last operation that failed; 0 when none.
    DWORD Error() const;
    // WINHTTP_CALLBACK_STATUS_FLAG_CERT_* (and others) of a TLS refusal; 0 when none was reported.
    DWORD SecureFailureFlags() const;

    const char* Data() const { return m_pMemory->pData.get(); }

    // The URL the answer came from: the one asked for, or where redirects led.
    std::string Url() const;
    // The HTTP status code; 0 when there is none.
    DWORD Status() const;
    // As text: the numeric query is 32 bits wide.
    bool ContentLength(uint64_t& nLength) const;
    // A response header's value; empty when absent.
    std::string Header(const wchar_t* pszName) const;
    // For a 407: offers the logged-on user's credentials for Negotiate or NTLM
    // when the proxy accepts one of them (WinHTTP sends them on the next send).
    // False when it offers only other schemes: Basic is never answered.
    bool UseLogonCredentialsForProxy();

private:
    void Starting();
    bool Started(BOOL bStarted);

    std::shared_ptr<RequestMemory>& m_pMemory;  // the slot's, kept alive by the context too
    RequestContext* m_pContext = nullptr;
    bool m_bPending = false;  // an operation started and not yet seen to complete
    UniqueInternet m_hConnect;
    UniqueInternet m_hRequest;  // last member: closed first
};
