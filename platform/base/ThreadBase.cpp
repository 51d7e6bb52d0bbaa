#include "platform/base/ThreadBase.h"

#include <process.h>

CThreadBase::~CThreadBase() { StopAndWait(); }

bool CThreadBase::Start() {
    if (IsRunning()) return false;
    unsigned nThreadId = 0;
    // _beginthreadex rather than CreateThread: Run uses the C runtime.
    HANDLE hThread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &CThreadBase::ThreadEntry, this, 0, &nThreadId));
    if (!hThread) return false;
    m_hThread.reset(hThread);
    m_dwThreadId = nThreadId;
    return true;
}

bool CThreadBase::Resume() { return m_hThread && ResumeThread(m_hThread.get()) != static_cast<DWORD>(-1); }

bool CThreadBase::Suspend() { return m_hThread && SuspendThread(m_hThread.get()) != static_cast<DWORD>(-1); }

bool CThreadBase::Terminate() {
    m_bStop.store(true);
    return true;
}

bool CThreadBase::IsRunning() const { return m_hThread && WaitForSingleObject(m_hThread.get(), 0) == WAIT_TIMEOUT; }

void CThreadBase::StopAndWait() {
    m_bStop.store(true);
    if (!m_hThread) return;
    // Run() deleting its own object cannot wait for itself.
    if (GetCurrentThreadId() == m_dwThreadId) return;
    if (WaitForSingleObject(m_hThread.get(), 0) == WAIT_OBJECT_0) {
        m_hThread.reset();
        return;
    }

    AbandonWork();
    WaitUntilEnded();
}

void CThreadBase::WaitUntilEnded() {
    if (!m_hThread || GetCurrentThreadId() == m_dwThreadId) return;
    // Called from the handler of a message another thread sent (the worker's own
    // report, typically): answer it now, or the worker would wait for this very
    // handler while we wait for the worker.
    if (InSendMessage()) ReplyMessage(0);

    HANDLE hThread = m_hThread.get();
    for (;;) {
        DWORD dwWait = MsgWaitForMultipleObjects(1, &hThread, FALSE, INFINITE, QS_SENDMESSAGE);
        if (dwWait == WAIT_OBJECT_0) break;
        // PeekMessage delivers the messages sent to this thread's windows; posted
        // messages stay queued for the owner's own loop.
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
        if (dwWait == WAIT_FAILED) Sleep(1);  // should not happen; poll rather than spin
    }
    m_hThread.reset();
}

unsigned __stdcall CThreadBase::ThreadEntry(void* pParam) {
    // No exception leaves the thread; the subclass ends its work as a failure.
    CThreadBase* pThread = static_cast<CThreadBase*>(pParam);
    try {
        pThread->Run();
    } catch (...) {
        pThread->RunThrew();
        return 1;
    }
    return 0;
}
