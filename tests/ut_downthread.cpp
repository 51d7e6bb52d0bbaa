// The worker-thread library and the download thread, against the local update
// server, with a real report window on the test thread.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "download/DownFileThread.h"
#include "download/UpdateNotify.h"
#include "platform/base/ThreadBase.h"
#include "platform/base/Win32Handles.h"
#include "support/ReportWindow.h"
#include "support/TempDir.h"
#include "support/TestServer.h"

namespace {

const DWORD kRunTimeoutMs = 15000;
const LPARAM kFailed = UPDATE_NOTIFY_FAILED;

bool Contains(const std::vector<std::string>& vec, const std::string& str) {
    return std::find(vec.begin(), vec.end(), str) != vec.end();
}

std::string Pattern(size_t nSize) {
    std::string str(nSize, '\0');
    for (size_t i = 0; i < nSize; ++i) str[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return str;
}

// A deadlock on the test thread would otherwise hang until ctest's timeout:
// end the program with a message instead.
class Watchdog {
public:
    explicit Watchdog(const char* pszWhat, DWORD dwLimitMs = 10000)
        : m_pszWhat(pszWhat), m_dwLimitMs(dwLimitMs), m_hDone(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
        m_hThread.reset(CreateThread(nullptr, 0, &Watchdog::Watch, this, 0, nullptr));
    }
    ~Watchdog() {
        SetEvent(m_hDone.get());
        WaitForSingleObject(m_hThread.get(), INFINITE);
    }

private:
    static DWORD WINAPI Watch(void* pParam) {
        auto* pThis = static_cast<Watchdog*>(pParam);
        if (WaitForSingleObject(pThis->m_hDone.get(), pThis->m_dwLimitMs) == WAIT_TIMEOUT) {
            std::fprintf(stderr, "hung: %s\n", pThis->m_pszWhat);
            std::fflush(stderr);
            ExitProcess(3);
        }
        return 0;
    }

    const char* m_pszWhat;
    DWORD m_dwLimitMs;
    UniqueHandle m_hDone;
    UniqueHandle m_hThread;
};

UniqueHandle OpenWorker(const CThreadBase& thread) {
    return UniqueHandle(OpenThread(SYNCHRONIZE, FALSE, thread.GetWorkerThreadId()));
}

// ---------------------------------------------------------------------------
// The thread library on its own.

// Sends a message to the owner's window until told to stop: the worker spends
// its time blocked in SendMessageA, as the download does while reporting.
class CSendingThread : public CThreadBase {
public:
    explicit CSendingThread(HWND hWnd) : m_hWnd(hWnd) {}
    ~CSendingThread() override { StopAndWait(); }

    std::atomic<int> m_nRuns{0};

protected:
    void Run() override {
        ++m_nRuns;
        while (!IsStopRequested()) SendMessageA(m_hWnd, WM_UPDATE_NOTIFY, 1, 1);
    }

private:
    HWND m_hWnd;
};

TEST(ThreadBase, StartRunsOnceAndRefusesASecondStartWhileRunning) {
    ReportWindow reports(WM_UPDATE_NOTIFY);
    CSendingThread thread(reports.Hwnd());
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_FALSE(thread.Resume()) << "no worker yet";
    EXPECT_FALSE(thread.Suspend()) << "no worker yet";

    ASSERT_TRUE(thread.Start());
    EXPECT_FALSE(thread.Start());
    ASSERT_TRUE(PumpUntil([&] { return reports.Reports().size() >= 3; }, kRunTimeoutMs));
    EXPECT_TRUE(thread.IsRunning());
    EXPECT_NE(thread.GetWorkerThreadId(), GetCurrentThreadId());

    EXPECT_TRUE(thread.Terminate());
    ASSERT_TRUE(PumpUntil([&] { return !thread.IsRunning(); }, kRunTimeoutMs));
    EXPECT_EQ(thread.m_nRuns.load(), 1);
    EXPECT_TRUE(thread.Terminate()) << "again, after the run";
}

TEST(ThreadBase, DeletingWhileTheWorkerIsBlockedSendingToTheDeletersWindowEnds) {
    ReportWindow reports(WM_UPDATE_NOTIFY);
    auto pThread = std::make_unique<CSendingThread>(reports.Hwnd());
    ASSERT_TRUE(pThread->Start());
    // Not pumping: the worker is now stuck in SendMessageA to our window.
    Sleep(200);
    EXPECT_TRUE(reports.Reports().empty());
    UniqueHandle hWorker = OpenWorker(*pThread);
    ASSERT_TRUE(hWorker);

    Watchdog watchdog("deleting a thread blocked in SendMessageA");
    ULONGLONG nStart = GetTickCount64();
    pThread.reset();
    EXPECT_LT(GetTickCount64() - nStart, 2000u);
    EXPECT_EQ(WaitForSingleObject(hWorker.get(), 0), WAIT_OBJECT_0);
    EXPECT_FALSE(reports.Reports().empty()) << "the blocked report was delivered while waiting";
}

// ---------------------------------------------------------------------------
// The download thread.

TEST(DownFileThread, ConstructionSetsDefaultsAndDoesNotStart) {
    std::vector<S_UpdateSerivceAddr> vecServers(2);
    vecServers[0].strServerIP = "10.0.0.1";
    vecServers[0].nServerPort = 8080;
    vecServers[1].strServerIP = "10.0.0.2";
    HWND hWnd = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x1234));
    CQOVAUpdateIntf transport(vecServers, true);
    CDownFileThread thread(transport, hWnd, WM_UPDATE_NOTIFY);
    EXPECT_EQ(thread.m_hNotifyWnd, hWnd);
    EXPECT_EQ(thread.m_nNotifyMsg, 0x65Au);
    EXPECT_EQ(thread.m_nUpdateType, 1u);
    EXPECT_TRUE(thread.m_strLocalPath.empty());
    EXPECT_TRUE(thread.m_vecFileList.empty());
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_EQ(thread.GetWorkerThreadId(), 0u);
}

TEST(DownFileThread, SetLocalPathEndsInOneBackslashCharacter) {
    // 誠 is D5 5C in GBK, whose trail byte is the byte of '\'; paths are UTF-8 inside.
    struct {
        const char* pszIn;
        const char* pszOut;
    } cases[] = {
        {"C:\\stage", "C:\\stage\\"},
        {"C:\\stage\\", "C:\\stage\\"},
        {"C:\\stage\\\\", "C:\\stage\\\\"},
        {"C:\\", "C:\\"},
        {"C:\\誠", "C:\\誠\\"},
        {"C:\\誠\\", "C:\\誠\\"},
        {"誠", "誠\\"},
        {"C:\\数据\\診", "C:\\数据\\診\\"},
        {"", "\\"},
    };
    CQOVAUpdateIntf transport({}, false);
    CDownFileThread thread(transport, nullptr, WM_UPDATE_NOTIFY);
    for (const auto& c : cases) {
        thread.SetLocalPath(c.pszIn);
        EXPECT_EQ(thread.m_strLocalPath, c.pszOut) << "input: " << c.pszIn;
    }
}

class DownThreadTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_server.Serve(m_root.Path())); }

    // kind\name under the served root.
    void Publish(UINT nKind, const std::string& strName, const std::string& strBytes) {
        ASSERT_TRUE(WriteFileBytes(m_root / (std::to_string(nKind) + "\\" + strName), strBytes));
    }

    std::unique_ptr<CDownFileThread> MakeThread(const std::vector<std::string>& vecNames, UINT nKind = 1) {
        std::vector<S_UpdateSerivceAddr> vecServers(1);
        vecServers[0].strServerIP = "127.0.0.1";
        vecServers[0].nServerPort = m_server.Port();
        m_vecTransports.push_back(std::make_unique<CQOVAUpdateIntf>(vecServers, false));
        auto pThread = std::make_unique<CDownFileThread>(*m_vecTransports.back(), m_reports.Hwnd(), WM_UPDATE_NOTIFY);
        pThread->SetLocalPath(m_stage.Path());
        pThread->m_csFileList.Enter();
        pThread->m_vecFileList.clear();
        pThread->m_vecFileList = vecNames;
        pThread->m_csFileList.Leave();
        pThread->m_nUpdateType = nKind;
        return pThread;
    }

    bool RunToEnd(CDownFileThread& thread) {
        return thread.Start() && PumpUntil([&] { return !thread.IsRunning(); }, kRunTimeoutMs);
    }

    bool WaitForRequest(const std::string& strPath) {
        return PumpUntil([&] { return Contains(m_server.RequestLog(), strPath); }, kRunTimeoutMs);
    }

    // Count of completion reports, (n, n).
    size_t Completions() const {
        const auto& v = m_reports.Reports();
        return static_cast<size_t>(
            std::count_if(v.begin(), v.end(), [](const S_Report& r) { return static_cast<LPARAM>(r.wParam) == r.lParam; }));
    }

    TempDir m_root;
    TempDir m_stage;
    TestServer m_server = TestServer::First();
    ReportWindow m_reports{WM_UPDATE_NOTIFY};
    std::vector<std::unique_ptr<CQOVAUpdateIntf>> m_vecTransports;   // one per thread of a test
};

TEST_F(DownThreadTest, SecondOfThreeFailsFirstStaysStagedThirdNeverRequested) {
    const std::string strA = Pattern(300 * 1024);
    Publish(1, "a.dll", strA);
    Publish(1, "b.dll", "bbb");
    Publish(1, "c.dll", "ccc");
    ASSERT_TRUE(m_server.SetFault("/1/b.dll", "404"));

    auto pThread = MakeThread({"a.dll", "b.dll", "c.dll"});
    ASSERT_TRUE(RunToEnd(*pThread));

    EXPECT_EQ(ReadFileBytes(m_stage / "a.dll"), strA);
    EXPECT_FALSE(FileExists(m_stage / "c.dll"));
    std::vector<std::string> vecLog = m_server.RequestLog();
    EXPECT_TRUE(Contains(vecLog, "/1/a.dll"));
    EXPECT_TRUE(Contains(vecLog, "/1/b.dll"));
    EXPECT_FALSE(Contains(vecLog, "/1/c.dll"));
    EXPECT_EQ(pThread->m_nCurFile, 2u);
    EXPECT_EQ(pThread->m_strCurFile, "b.dll");

    const std::vector<S_Report>& v = m_reports.Reports();
    const WPARAM nSize = strA.size();
    ASSERT_GE(v.size(), 2u);
    EXPECT_EQ(v.back(), (S_Report{0, kFailed}));
    EXPECT_EQ(m_reports.Count(0, kFailed), 1u);
    EXPECT_EQ(v[v.size() - 2], (S_Report{nSize, static_cast<LPARAM>(nSize)}));
    EXPECT_EQ(m_reports.Count(nSize, static_cast<LPARAM>(nSize)), 1u);
    // Everything before the completion is progress of a.dll, never going back.
    for (size_t i = 0; i + 2 < v.size(); ++i) {
        EXPECT_EQ(v[i].lParam, static_cast<LPARAM>(nSize)) << "report " << i;
        EXPECT_LT(v[i].wParam, nSize) << "report " << i;
        if (i > 0) EXPECT_GE(v[i].wParam, v[i - 1].wParam) << "report " << i;
    }
}

// A fetch that ends in an exception (say, out of memory) after its first file.
class CThrowingDownThread : public CDownFileThread {
public:
    using CDownFileThread::CDownFileThread;
    ~CThrowingDownThread() override { StopAndWait(); }

protected:
    void Run() override {
        m_strCurFile = "b.dll";
        throw std::bad_alloc();
    }
};

TEST_F(DownThreadTest, AnExceptionInTheWorkerEndsTheDownloadAsAFailure) {
    CQOVAUpdateIntf transport(std::vector<S_UpdateSerivceAddr>(), false);
    CThrowingDownThread thread(transport, m_reports.Hwnd(), WM_UPDATE_NOTIFY);
    ASSERT_TRUE(thread.Start() && PumpUntil([&] { return !thread.IsRunning(); }, kRunTimeoutMs));
    EXPECT_EQ(m_reports.Reports(), (std::vector<S_Report>{{0, kFailed}}));
    EXPECT_EQ(thread.m_failure.eReason, ETransferFailure::LocalWrite);
    EXPECT_EQ(thread.m_failure.dwError, static_cast<DWORD>(ERROR_INTERNAL_ERROR));
    EXPECT_EQ(thread.m_failure.strRemoteFile, "b.dll");
}

TEST_F(DownThreadTest, EmptyListEndsWithoutRequestOrReport) {
    auto pThread = MakeThread({});
    ASSERT_TRUE(RunToEnd(*pThread));
    EXPECT_TRUE(m_reports.Reports().empty());
    EXPECT_TRUE(m_server.RequestLog().empty());
    EXPECT_EQ(pThread->m_nCurFile, 0u);
}

TEST_F(DownThreadTest, FetchesInOrderIntoSubdirectoriesOfTheKindAndReplacesStagedFiles) {
    Publish(7, "sub\\deep\\c.txt", "deep file");
    Publish(7, "top.txt", "new top");
    Publish(7, "empty.txt", "");
    ASSERT_TRUE(WriteFileBytes(m_stage / "top.txt", "stale staged copy"));

    auto pThread = MakeThread({"sub\\deep\\c.txt", "top.txt", "empty.txt"}, 7);
    ASSERT_TRUE(RunToEnd(*pThread));

    EXPECT_EQ(ReadFileBytes(m_stage / "sub\\deep\\c.txt"), "deep file");
    EXPECT_EQ(ReadFileBytes(m_stage / "top.txt"), "new top");
    EXPECT_TRUE(FileExists(m_stage / "empty.txt"));
    EXPECT_EQ(m_server.RequestLog(), (std::vector<std::string>{"/7/sub/deep/c.txt", "/7/top.txt", "/7/empty.txt"}));
    EXPECT_EQ(m_reports.Count(0, kFailed), 0u);
    EXPECT_EQ(Completions(), 3u);
    EXPECT_EQ(m_reports.Count(9, 9), 1u);
    EXPECT_EQ(m_reports.Count(7, 7), 1u);
    EXPECT_EQ(m_reports.Count(0, 0), 1u);
    EXPECT_EQ(pThread->m_nCurFile, 3u);
}

TEST_F(DownThreadTest, StagingDirectoryWhoseLastByteIsABackslashTrailByte) {
    Publish(1, "a.txt", "contents");
    // SetLocalPath gets "...\誠" without a separator, ending in byte 0x5C.
    const std::string strStage = m_stage.Path() + "誠";
    auto pThread = MakeThread({"a.txt"});
    pThread->SetLocalPath(strStage);
    ASSERT_TRUE(RunToEnd(*pThread));

    EXPECT_EQ(ReadFileBytes(strStage + "\\a.txt"), "contents");
    EXPECT_FALSE(FileExists(strStage + "a.txt"));
    EXPECT_EQ(m_reports.Count(8, 8), 1u);
}

TEST_F(DownThreadTest, TerminateLetsTheCurrentFileFinishAndRequestsNoMore) {
    const std::string strSlow = "twenty bytes, slowly";  // five trickles of 4 bytes: about 1.3 s
    Publish(1, "slow.dll", strSlow);
    Publish(1, "next.dll", "next");
    ASSERT_TRUE(m_server.SetFault("/1/slow.dll", "trickle"));

    auto pThread = MakeThread({"slow.dll", "next.dll"});
    ASSERT_TRUE(pThread->Start());
    ASSERT_TRUE(WaitForRequest("/1/slow.dll"));
    ULONGLONG nStart = GetTickCount64();
    EXPECT_TRUE(pThread->Terminate());
    EXPECT_LT(GetTickCount64() - nStart, 100u);
    EXPECT_TRUE(pThread->IsRunning()) << "the trickling file is still in flight";
    ASSERT_TRUE(PumpUntil([&] { return !pThread->IsRunning(); }, kRunTimeoutMs));

    EXPECT_EQ(ReadFileBytes(m_stage / "slow.dll"), strSlow);
    EXPECT_EQ(m_reports.Count(strSlow.size(), static_cast<LPARAM>(strSlow.size())), 1u);
    EXPECT_EQ(m_reports.Count(0, kFailed), 0u);
    EXPECT_FALSE(Contains(m_server.RequestLog(), "/1/next.dll"));
    EXPECT_FALSE(FileExists(m_stage / "next.dll"));
}

TEST_F(DownThreadTest, TerminateFromTheReportHandlerReturnsAtOnce) {
    Publish(1, "gone.dll", "x");
    Publish(1, "after.dll", "y");
    ASSERT_TRUE(m_server.SetFault("/1/gone.dll", "404"));
    auto pThread = MakeThread({"gone.dll", "after.dll"});

    ULONGLONG nTerminateMs = ~0ull;
    bool bWorkerWaiting = false;
    m_reports.SetHandler([&](WPARAM, LPARAM lParam) {
        if (lParam != kFailed) return;
        bWorkerWaiting = pThread->IsRunning();  // the worker is inside SendMessageA now
        ULONGLONG nStart = GetTickCount64();
        pThread->Terminate();
        pThread->Terminate();
        nTerminateMs = GetTickCount64() - nStart;
    });
    Watchdog watchdog("Terminate inside the report handler");
    ASSERT_TRUE(RunToEnd(*pThread));

    EXPECT_TRUE(bWorkerWaiting);
    EXPECT_LT(nTerminateMs, 100u);
    EXPECT_EQ(m_reports.Reports(), (std::vector<S_Report>{{0, kFailed}}));
    EXPECT_FALSE(Contains(m_server.RequestLog(), "/1/after.dll"));
    EXPECT_TRUE(pThread->Terminate()) << "after the run has ended";
}

TEST_F(DownThreadTest, StopRequestBeforeStartFetchesNothing) {
    Publish(1, "a.dll", "a");
    auto pThread = MakeThread({"a.dll"});
    pThread->Terminate();
    ASSERT_TRUE(RunToEnd(*pThread));
    EXPECT_TRUE(m_server.RequestLog().empty());
    EXPECT_TRUE(m_reports.Reports().empty());
    EXPECT_FALSE(FileExists(m_stage / "a.dll"));
}

TEST_F(DownThreadTest, DeletingDuringAStalledTransferAbandonsItQuickly) {
    Publish(1, "stuck.dll", Pattern(4096));
    Publish(1, "later.dll", "later");
    ASSERT_TRUE(m_server.SetFault("/1/stuck.dll", "stall"));

    auto pThread = MakeThread({"stuck.dll", "later.dll"});
    ASSERT_TRUE(pThread->Start());
    ASSERT_TRUE(WaitForRequest("/1/stuck.dll"));
    PumpFor(300);  // well into the wait for a body that never comes
    UniqueHandle hWorker = OpenWorker(*pThread);
    ASSERT_TRUE(hWorker);
    ASSERT_EQ(WaitForSingleObject(hWorker.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));

    Watchdog watchdog("deleting the thread during a stalled transfer");
    ULONGLONG nStart = GetTickCount64();
    pThread.reset();
    EXPECT_LT(GetTickCount64() - nStart, 2000u);
    EXPECT_EQ(WaitForSingleObject(hWorker.get(), 0), WAIT_OBJECT_0);

    PumpFor(100);
    EXPECT_EQ(m_reports.Count(0, kFailed), 0u) << "an abandoned transfer is no connection failure";
    EXPECT_EQ(Completions(), 0u);
    EXPECT_FALSE(FileExists(m_stage / "stuck.dll"));
    EXPECT_FALSE(Contains(m_server.RequestLog(), "/1/later.dll"));
}

TEST_F(DownThreadTest, DeletingFromTheFailureReportHandlerDoesNotDeadlock) {
    Publish(1, "gone.dll", "x");
    ASSERT_TRUE(m_server.SetFault("/1/gone.dll", "404"));
    auto pThread = MakeThread({"gone.dll"});
    UniqueHandle hWorker;
    ULONGLONG nDeleteMs = ~0ull;
    m_reports.SetHandler([&](WPARAM, LPARAM lParam) {
        if (lParam != kFailed || !pThread) return;
        hWorker = OpenWorker(*pThread);
        ULONGLONG nStart = GetTickCount64();
        pThread.reset();  // the worker is blocked sending this very report
        nDeleteMs = GetTickCount64() - nStart;
    });
    Watchdog watchdog("deleting the thread inside its failure report");
    ASSERT_TRUE(pThread->Start());
    ASSERT_TRUE(PumpUntil([&] { return !pThread; }, kRunTimeoutMs));

    EXPECT_LT(nDeleteMs, 2000u);
    ASSERT_TRUE(hWorker);
    EXPECT_EQ(WaitForSingleObject(hWorker.get(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(m_reports.Count(0, kFailed), 1u);
}

TEST_F(DownThreadTest, SeveralInFlightReportCompletionsInListOrder) {
    // The first file is the largest: later ones finish first, their reports wait.
    std::vector<std::string> vecNames, vecBytes;
    for (size_t i = 0; i < 8; ++i) {
        vecNames.push_back("d\\f" + std::to_string(i) + ".dll");
        vecBytes.push_back(Pattern(i == 0 ? 3 * 1024 * 1024 : 5000 + 100 * i));
        Publish(1, vecNames.back(), vecBytes.back());
    }
    for (UINT nConnections : {1u, 4u, 8u}) {
        SCOPED_TRACE(nConnections);
        ASSERT_TRUE(m_server.Serve(m_root.Path()));
        ASSERT_TRUE(m_server.SetDelay(50));
        const size_t nReportsBefore = m_reports.Reports().size();
        auto pThread = MakeThread(vecNames);
        pThread->m_nConnections = nConnections;
        ASSERT_TRUE(RunToEnd(*pThread));

        std::vector<WPARAM> vecCompleted;
        const std::vector<S_Report>& v = m_reports.Reports();
        for (size_t i = nReportsBefore; i < v.size(); ++i) {
            ASSERT_NE(v[i].lParam, kFailed);
            if (static_cast<LPARAM>(v[i].wParam) == v[i].lParam) vecCompleted.push_back(v[i].wParam);
        }
        std::vector<WPARAM> vecSizes;
        for (const std::string& strBytes : vecBytes) vecSizes.push_back(strBytes.size());
        EXPECT_EQ(vecSizes, vecCompleted);
        for (size_t i = 0; i < vecNames.size(); ++i) EXPECT_EQ(ReadFileBytes(m_stage / vecNames[i]), vecBytes[i]) << i;
        EXPECT_LE(m_server.ConnectionCount(), static_cast<int>(nConnections));
        for (size_t i = 0; i < vecNames.size(); ++i) DeleteFileA((m_stage / vecNames[i]).c_str());
    }
}

TEST_F(DownThreadTest, StopOrCloseDuringSeveralTransfersEndsWithinTwoSeconds) {
    std::vector<std::string> vecNames;
    for (size_t i = 0; i < 6; ++i) {
        vecNames.push_back("p" + std::to_string(i) + ".dll");
        Publish(1, vecNames.back(), Pattern(400000 + i));
    }
    for (bool bDelete : {false, true}) {
        SCOPED_TRACE(bDelete ? "deleted (dialog closed)" : "Terminate (stop flag)");
        ASSERT_TRUE(m_server.Serve(m_root.Path()));
        for (const std::string& strName : vecNames) ASSERT_TRUE(m_server.SetFault("/1/" + strName, "pause"));
        const size_t nReportsBefore = m_reports.Reports().size();
        auto pThread = MakeThread(vecNames);
        pThread->m_nConnections = 4;
        ASSERT_TRUE(pThread->Start());
        ASSERT_TRUE(PumpUntil([&] { return m_server.RequestLog().size() >= 4; }, kRunTimeoutMs));
        PumpFor(300);  // half of each body is in; the rest never comes
        Watchdog watchdog("stopping several stalled transfers");
        ULONGLONG nStart = GetTickCount64();
        if (bDelete) {
            pThread.reset();
        } else {
            pThread->Terminate();
            ASSERT_TRUE(PumpUntil([&] { return !pThread->IsRunning(); }, kRunTimeoutMs));
        }
        EXPECT_LT(GetTickCount64() - nStart, 2000u);
        PumpFor(100);
        EXPECT_EQ(m_reports.Count(0, kFailed), 0u) << "a stopped download is no connection failure";
        EXPECT_EQ(m_server.RequestLog().size(), 4u) << "nothing requested after the stop";
        // Each half body stays as a part, for the next opening of the dialog to continue.
        for (size_t i = 0; i < 4; ++i) {
            EXPECT_FALSE(FileExists(m_stage / vecNames[i])) << i;
            EXPECT_TRUE(FileExists(m_stage / (vecNames[i] + ".part"))) << i;
            EXPECT_TRUE(FileExists(m_stage / (vecNames[i] + ".part.tag"))) << i;
        }
        for (size_t i = nReportsBefore; i < m_reports.Reports().size(); ++i)
            EXPECT_NE(static_cast<LPARAM>(m_reports.Reports()[i].wParam), m_reports.Reports()[i].lParam);
    }
}

}  // namespace
