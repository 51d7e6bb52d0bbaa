#pragma once
// A worker thread that runs a subclass's Run() once, and the critical section
// that guards data shared with it.
#include <windows.h>

#include <atomic>

#include "platform/base/Win32Handles.h"

// Owns a CRITICAL_SECTION; Enter/Leave pair up as with the raw API.
class CCriticalSection {
public:
    CCriticalSection() { InitializeCriticalSection(&m_cs); }
    ~CCriticalSection() { DeleteCriticalSection(&m_cs); }
    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;

    void Enter() { EnterCriticalSection(&m_cs); }
    void Leave() { LeaveCriticalSection(&m_cs); }

private:
    CRITICAL_SECTION m_cs;
};

// Holds a CCriticalSection for one scope.
class CCriticalSectionLock {
public:
    explicit CCriticalSectionLock(CCriticalSection& cs) : m_cs(cs) { m_cs.Enter(); }
    ~CCriticalSectionLock() { m_cs.Leave(); }
    CCriticalSectionLock(const CCriticalSectionLock&) = delete;
    CCriticalSectionLock& operator=(const CCriticalSectionLock&) = delete;

private:
    CCriticalSection& m_cs;
};

class CThreadBase {
public:
    CThreadBase() = default;
    // Safety net only: by the time it runs the subclass is gone, so a subclass
    // whose Run uses its own members must call StopAndWait() in its destructor.
    virtual ~CThreadBase();
    CThreadBase(const CThreadBase&) = delete;
    CThreadBase& operator=(const CThreadBase&) = delete;

    // Creates the worker, which calls Run() once; does not wait for it.
    // False while an earlier worker still runs or when the thread cannot be created.
    virtual bool Start();
    virtual bool Resume();
    virtual bool Suspend();
    // Asks Run() to stop at its next check and returns at once: the caller may be
    // handling a message the worker is blocked sending. A stop request is final.
    virtual bool Terminate();

    // True from Start() until Run() has returned.
    bool IsRunning() const;
    // 0 before the first Start().
    DWORD GetWorkerThreadId() const { return m_dwThreadId; }

protected:
    virtual void Run() = 0;
    // Called by StopAndWait() on the caller's thread after the stop flag is set:
    // a subclass cuts short whatever blocking work Run() is doing. Thread-safe.
    virtual void AbandonWork() {}
    // Called on the worker when Run() let an exception out (it goes no
    // further): a subclass ends its work as a failure, so that whoever waits
    // for its reports is not left waiting. Must not throw.
    virtual void RunThrew() noexcept {}

    bool IsStopRequested() const { return m_bStop.load(); }

    // Sets the stop flag, calls AbandonWork() and waits until the worker has
    // ended. Messages sent to the caller's windows are handled meanwhile, since
    // the worker may be blocked in SendMessage to one of them.
    void StopAndWait();

public:
    // Waits until the worker has ended, without asking it to stop; messages
    // sent to the caller's windows are handled meanwhile. From the handler of
    // the worker's own report, the report is answered first.
    void WaitUntilEnded();

private:
    static unsigned __stdcall ThreadEntry(void* pParam);

    UniqueHandle m_hThread;
    DWORD m_dwThreadId = 0;
    std::atomic<bool> m_bStop{false};
};
