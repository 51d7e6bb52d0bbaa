#pragma once
// One asynchronous WinHTTP GET, driven step by step from the calling thread.
//
// WinHTTP runs asynchronously and this thread waits on events of its own: under
// Wine 8 closing a request handle does not cut short a blocked synchronous call,
// so only a wait that also watches the abort event gives up promptly. The same
// waits enforce the time limits, whatever WinHTTP's own timeouts do.
#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/base/Win32Handles.h"
#include "platform/base/WinHttpHandle.h"

// The read buffer's size: the most one read can bring.
constexpr DWORD kReadBufferBytes = 1024 * 1024;

// What the requests of one transport reuse: the completion event and the read
// buffer. An abandoned operation may still signal the one or fill the other, so
// after an abandonment the next request gets new ones.
struct RequestMemory {
    UniqueHandle hDone{CreateEventA(nullptr, FALSE, FALSE, nullptr)};
    std::unique_ptr<char[]> pData{new char[kReadBufferBytes]};
};

enum class WaitResult { Done, Failed, Aborted, TimedOut };

struct RequestContext;

// Each step returns once WinHTTP has completed it, or the abort event or the
// time limit came first (then the operation is abandoned with the request, and
// so is the transport's request memory, which that operation may still use).
class CAsyncRequest {
public:
    CAsyncRequest(HANDLE hAbort, std::shared_ptr<RequestMemory>& pMemory) : m_hAbort(hAbort), m_pMemory(pMemory) {}
    ~CAsyncRequest();
    CAsyncRequest(const CAsyncRequest&) = delete;
    CAsyncRequest& operator=(const CAsyncRequest&) = delete;

    bool Open(HINTERNET hConnect, const std::wstring& wstrPath);

    // Sending is split so that the caller can work while the server answers.
    bool StartSend();
    WaitResult FinishSend();
    WaitResult ReceiveResponse();
    WaitResult QueryAvailable(DWORD dwLimitMs, DWORD& cbAvailable);
    WaitResult Read(DWORD cbWant, DWORD dwLimitMs, DWORD& cbRead);

    const char* Data() const { return m_pMemory->pData.get(); }
    char* Data() { return m_pMemory->pData.get(); }

    // The HTTP status code; 0 when there is none.
    DWORD Status() const;
    // As text: the numeric query is 32 bits wide.
    bool ContentLength(uint64_t& nLength) const;

private:
    WaitResult Step(BOOL bStarted, DWORD dwLimitMs);
    WaitResult Wait(DWORD dwLimitMs);

    HANDLE m_hAbort;
    std::shared_ptr<RequestMemory>& m_pMemory;  // the transport's, kept alive by the context too
    RequestContext* m_pContext = nullptr;
    bool m_bPending = false;  // an operation started and not yet seen to complete
    UniqueInternet m_hRequest;  // last member: closed first
};
