// The transport against the local update servers (started by scripts/test).
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/fs/DirectoryEx.h"
#include "platform/http/BodyClock.h"
#include "platform/http/UpdateIntf.h"
#include "support/ReportWindow.h"
#include "support/TempDir.h"
#include "support/TestServer.h"

namespace {

// The body's rules on a clock the test drives: 4 KiB in every 20 s, and at
// least 1 KiB/s on average over any 60 s. Bytes arrive every dwEveryMs; when
// does the transfer stall (0: not within 200 s)?
TEST(BodyClock, ATrickleBelowTheFloorStallsWithinItsWindow) {
    const struct {
        uint64_t nFirst, nEach;
        DWORD dwEveryMs, dwStallsAtMs;
    } cases[] = {
        {4096, 4096, 20000, 60000},        // passes the short rule, not the floor
        {1024, 1024, 1000, 0},             // the floor exactly
        {104 * 1024, 4096, 19000, 79000},  // a burst counts for 60 s, no more
    };
    for (const auto& c : cases) {
        const DWORD dwStart = 0xFFFF0000u;   // across the tick count's wrap
        CBodyClock clock(dwStart);
        uint64_t nBytes = c.nFirst - c.nEach;
        DWORD dwAt = 0, dwStalled = 0;
        while (dwStalled == 0 && dwAt < 200000) {
            // The transport waits for the next bytes no longer than WindowLeft.
            const DWORD dwLeft = clock.WindowLeft(dwStart + dwAt);
            dwAt += c.dwEveryMs;
            nBytes += c.nEach;
            if (dwLeft < c.dwEveryMs) dwStalled = dwAt - c.dwEveryMs + dwLeft;
            else if (!clock.Received(nBytes, dwStart + dwAt)) dwStalled = dwAt;
        }
        EXPECT_EQ(c.dwStallsAtMs, dwStalled) << c.nEach << " every " << c.dwEveryMs;
    }
}

const UINT kNotifyMsg = 0x65A;
const char kFaultPath[] = "/1/f.bin";

// Deterministic bytes, different per seed.
std::string Bytes(size_t n, unsigned nSeed) {
    std::string str(n, '\0');
    unsigned x = nSeed * 2654435761u + 1;
    for (char& c : str) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    return str;
}

// Equal bytes; on a difference, sizes and the first differing offset rather
// than megabytes of binary in the log.
::testing::AssertionResult SameBytes(const std::string& strExpected, const std::string& strActual) {
    if (strExpected == strActual) return ::testing::AssertionSuccess();
    size_t nAt = 0;
    while (nAt < strExpected.size() && nAt < strActual.size() && strExpected[nAt] == strActual[nAt]) ++nAt;
    return ::testing::AssertionFailure() << "expected " << strExpected.size() << " bytes, got " << strActual.size()
                                         << ", first difference at " << nAt;
}

// Names of the files directly in strDir (which ends in '\').
std::vector<std::string> FilesIn(const std::string& strDir) {
    std::vector<std::string> vecNames;
    WIN32_FIND_DATAA data;
    HANDLE hFind = FindFirstFileA((strDir + "*").c_str(), &data);
    if (hFind == INVALID_HANDLE_VALUE) return vecNames;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) vecNames.push_back(data.cFileName);
    } while (FindNextFileA(hFind, &data));
    FindClose(hFind);
    std::sort(vecNames.begin(), vecNames.end());
    return vecNames;
}

// A port on 127.0.0.1 that nothing listens on.
unsigned short ClosedPort() {
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int cb = sizeof(addr);
    bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    getsockname(s, reinterpret_cast<sockaddr*>(&addr), &cb);
    closesocket(s);
    return ntohs(addr.sin_port);
}

DWORD ElapsedSince(DWORD dwStart) { return GetTickCount() - dwStart; }

class Transport : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(0, m_first.Port()) << "the test servers run under scripts/test";
        ASSERT_NE(0, m_second.Port());
        ASSERT_TRUE(m_first.Serve(m_firstRoot.Path()));
        ASSERT_TRUE(m_second.Serve(m_secondRoot.Path()));
    }

    static void Publish(const TempDir& root, unsigned nKind, const std::string& strName, const std::string& strBytes) {
        ASSERT_TRUE(WriteFileBytes(root / (std::to_string(nKind) + "\\" + strName), strBytes));
    }
    static S_UpdateSerivceAddr Addr(const TestServer& server) { return {"127.0.0.1", server.Port()}; }
    std::vector<S_UpdateSerivceAddr> Both() const { return {Addr(m_first), Addr(m_second)}; }
    std::string Local(const std::string& strName) const {
        std::string strPath = m_local / strName;
        std::string strDir;
        CDirectoryEx::GetFilePath(strPath, strDir);
        CDirectoryEx::CreateMultipleDirectory(strDir);
        return strPath;
    }

    TempDir m_firstRoot, m_secondRoot, m_local;
    TestServer m_first = TestServer::First();
    TestServer m_second = TestServer::Second();
};

TEST_F(Transport, FetchesNamesWithSubdirectoriesAndGbkText) {
    const char* names[] = {
        "UpdateConfig.ini",
        "bin\\sub\\a.dll",
        "maps\\城市.dat",
        "誠\\x.dat",          // GBK D5 5C, whose trail byte is '\'; UTF-8 inside
        "診斷.txt",
        "with space&plus+%.txt",
    };
    CQOVAUpdateIntf transport({Addr(m_first)}, false);
    std::vector<std::string> vecExpectedLog;
    unsigned nSeed = 0;
    for (const char* pszName : names) {
        std::string strBytes = Bytes(1000 + nSeed, nSeed);
        Publish(m_firstRoot, 7, pszName, strBytes);
        std::string strLocal = Local(pszName);
        EXPECT_NE(-1, transport.GetRemoteFile(7, pszName, strLocal.c_str(), nullptr, 0)) << pszName;
        EXPECT_TRUE(SameBytes(strBytes, ReadFileBytes(strLocal))) << pszName;

        std::string strLogged = "/7/" + std::string(pszName);   // the server logs UTF-8
        std::replace(strLogged.begin(), strLogged.end(), '\\', '/');
        vecExpectedLog.push_back(strLogged);
        ++nSeed;
    }
    EXPECT_EQ(vecExpectedLog, m_first.RequestLog());
}

TEST_F(Transport, ReplacesAnExistingFileAndLeavesNothingElse) {
    std::string strNew = Bytes(300000, 1);
    Publish(m_firstRoot, 1, "a.dll", strNew);
    std::string strLocal = Local("a.dll");
    ASSERT_TRUE(WriteFileBytes(strLocal, "old contents"));

    CQOVAUpdateIntf transport({Addr(m_first)}, false);
    EXPECT_NE(-1, transport.GetRemoteFile(1, "a.dll", strLocal.c_str(), nullptr, 0));
    EXPECT_TRUE(SameBytes(strNew, ReadFileBytes(strLocal)));
    EXPECT_EQ(std::vector<std::string>{"a.dll"}, FilesIn(m_local.Path()));
}

TEST_F(Transport, EmptyFileIsStored) {
    Publish(m_firstRoot, 1, "empty.txt", "");
    std::string strLocal = Local("empty.txt");
    ASSERT_TRUE(WriteFileBytes(strLocal, "old"));
    CQOVAUpdateIntf transport({Addr(m_first)}, false);
    EXPECT_NE(-1, transport.GetRemoteFile(1, "empty.txt", strLocal.c_str(), nullptr, 0));
    EXPECT_TRUE(FileExists(strLocal));
    EXPECT_TRUE(SameBytes("", ReadFileBytes(strLocal)));
}

TEST_F(Transport, FaultsLeaveTheLocalFileAsItWas) {
    // A body that broke off stays as a part to continue, with its validator.
    const std::vector<std::string> vecNoPart{"f.bin"}, vecPart{"f.bin", "f.bin.part", "f.bin.part.tag"};
    const struct {
        const char* pszKind;
        const std::vector<std::string>& vecFiles;
    } cases[] = {{"404", vecNoPart}, {"500", vecNoPart}, {"drop", vecPart}, {"short", vecPart}};
    Publish(m_firstRoot, 1, "f.bin", Bytes(200000, 2));
    std::string strLocal = Local("f.bin");
    for (const auto& c : cases) {
        ASSERT_TRUE(WriteFileBytes(strLocal, "previous"));
        DeleteFileA((strLocal + ".part").c_str());
        DeleteFileA((strLocal + ".part.tag").c_str());
        ASSERT_TRUE(m_first.SetFault(kFaultPath, c.pszKind));
        CQOVAUpdateIntf transport({Addr(m_first)}, false);
        EXPECT_EQ(-1, transport.GetRemoteFile(1, "f.bin", strLocal.c_str(), nullptr, 0)) << c.pszKind;
        EXPECT_TRUE(SameBytes("previous", ReadFileBytes(strLocal))) << c.pszKind;
        EXPECT_EQ(c.vecFiles, FilesIn(m_local.Path())) << c.pszKind;
    }
    DeleteFileA((strLocal + ".part").c_str());
    DeleteFileA((strLocal + ".part.tag").c_str());
    // A missing file and a missing local directory fail alike.
    ASSERT_TRUE(m_first.SetFault(kFaultPath, "none"));
    CQOVAUpdateIntf transport({Addr(m_first)}, false);
    EXPECT_EQ(-1, transport.GetRemoteFile(1, "missing.bin", Local("missing.bin").c_str(), nullptr, 0));
    EXPECT_EQ(-1, transport.GetRemoteFile(1, "f.bin", (m_local / "no-such-dir\\f.bin").c_str(), nullptr, 0));
    EXPECT_EQ(std::vector<std::string>{"f.bin"}, FilesIn(m_local.Path()));
    // The request given up on must not disturb the next one.
    EXPECT_NE(-1, transport.GetRemoteFile(1, "f.bin", strLocal.c_str(), nullptr, 0));
    EXPECT_TRUE(SameBytes(Bytes(200000, 2), ReadFileBytes(strLocal)));
}

TEST_F(Transport, TargetThatCannotBeReplacedFailsCleanly) {
    Publish(m_firstRoot, 1, "held.bin", Bytes(10000, 11));
    std::string strHeld = Local("held.bin");
    ASSERT_TRUE(WriteFileBytes(strHeld, "held"));
    // Open without FILE_SHARE_DELETE, as a program holds a file it is using.
    HANDLE hHeld = CreateFileA(strHeld.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hHeld);

    CQOVAUpdateIntf transport({Addr(m_first)}, false);
    EXPECT_EQ(-1, transport.GetRemoteFile(1, "held.bin", strHeld.c_str(), nullptr, 0));
    CloseHandle(hHeld);
    EXPECT_TRUE(SameBytes("held", ReadFileBytes(strHeld)));
    EXPECT_EQ(std::vector<std::string>{"held.bin"}, FilesIn(m_local.Path()));
    // Once released it is replaced.
    EXPECT_NE(-1, transport.GetRemoteFile(1, "held.bin", strHeld.c_str(), nullptr, 0));
    EXPECT_TRUE(SameBytes(Bytes(10000, 11), ReadFileBytes(strHeld)));
}

TEST_F(Transport, BodyLongerThanItsLengthFails) {
    Publish(m_firstRoot, 1, "f.bin", Bytes(5000, 3));
    ASSERT_TRUE(m_first.SetFault(kFaultPath, "long"));
    std::string strLocal = Local("f.bin");
    ASSERT_TRUE(WriteFileBytes(strLocal, "previous"));
    CQOVAUpdateIntf transport({Addr(m_first)}, false);
    EXPECT_EQ(-1, transport.GetRemoteFile(1, "f.bin", strLocal.c_str(), nullptr, 0));
    EXPECT_TRUE(SameBytes("previous", ReadFileBytes(strLocal)));
    EXPECT_EQ(std::vector<std::string>{"f.bin"}, FilesIn(m_local.Path()));
}

// Each of these would hang a transfer without its own time limit; they run side
// by side so that the test takes one limit, not three.
TEST_F(Transport, SilentAndTricklingServersAreGivenUpWithinLimits) {
    const char* kinds[] = {"stall", "pause", "hang", "trickle"};
    for (const char* pszKind : kinds) {
        Publish(m_firstRoot, 1, std::string(pszKind) + ".bin", Bytes(3 * 1024 * 1024, 4));
        ASSERT_TRUE(m_first.SetFault(std::string("/1/") + pszKind + ".bin", pszKind));
        ASSERT_TRUE(WriteFileBytes(Local(std::string(pszKind) + ".bin"), "previous"));
    }
    struct Outcome {
        int nResult;
        DWORD dwMs;
    };
    std::vector<std::future<Outcome>> vecRuns;
    for (const char* pszKind : kinds) {
        std::string strName = std::string(pszKind) + ".bin";
        std::string strLocal = Local(strName);
        vecRuns.push_back(std::async(std::launch::async, [=] {
            CQOVAUpdateIntf transport({Addr(m_first)}, false);
            DWORD dwStart = GetTickCount();
            int nResult = transport.GetRemoteFile(1, strName.c_str(), strLocal.c_str(), nullptr, 0);
            return Outcome{nResult, ElapsedSince(dwStart)};
        }));
    }
    for (size_t i = 0; i < vecRuns.size(); ++i) {
        Outcome outcome = vecRuns[i].get();
        EXPECT_EQ(-1, outcome.nResult) << kinds[i];
        EXPECT_LT(outcome.dwMs, 30000u) << kinds[i];
        EXPECT_GT(outcome.dwMs, 5000u) << kinds[i] << ": gave up before the server had a fair chance";
        EXPECT_TRUE(SameBytes("previous", ReadFileBytes(Local(std::string(kinds[i]) + ".bin")))) << kinds[i];
    }
    // What came before the silence stays as a part (the next run continues it).
    EXPECT_EQ((std::vector<std::string>{"hang.bin", "pause.bin", "pause.bin.part", "pause.bin.part.tag", "stall.bin",
                                        "trickle.bin", "trickle.bin.part", "trickle.bin.part.tag"}),
              FilesIn(m_local.Path()));
}

TEST_F(Transport, FallsBackToTheNextServer) {
    struct FirstServer {
        const char* pszWhat;
        S_UpdateSerivceAddr addr;
        const char* pszFault;  // on the first server, or null
        size_t nFirstRequests;
    };
    const FirstServer cases[] = {
        {"500 on the first", Addr(m_first), "500", 1},
        {"404 on the first", Addr(m_first), "404", 1},
        {"connection reset mid-body, three times", Addr(m_first), "drop", 3},
        {"nothing listening", {"127.0.0.1", ClosedPort()}, nullptr, 0},
        {"unresolved address", {"", m_first.Port()}, nullptr, 0},
    };
    std::string strBytes = Bytes(70000, 5);
    Publish(m_firstRoot, 1, "f.bin", Bytes(70000, 6));  // never the one stored
    Publish(m_secondRoot, 1, "f.bin", strBytes);
    for (const FirstServer& c : cases) {
        ASSERT_TRUE(m_first.Serve(m_firstRoot.Path()));
        ASSERT_TRUE(m_second.Serve(m_secondRoot.Path()));
        if (c.pszFault) ASSERT_TRUE(m_first.SetFault(kFaultPath, c.pszFault));
        std::string strLocal = Local("f.bin");
        DeleteFileA(strLocal.c_str());
        CQOVAUpdateIntf transport({c.addr, Addr(m_second)}, false);
        EXPECT_NE(-1, transport.GetRemoteFile(1, "f.bin", strLocal.c_str(), nullptr, 0)) << c.pszWhat;
        EXPECT_TRUE(SameBytes(strBytes, ReadFileBytes(strLocal))) << c.pszWhat;
        EXPECT_EQ(std::vector<std::string>{"/1/f.bin"}, m_second.RequestLog()) << c.pszWhat;
        EXPECT_EQ(c.nFirstRequests, m_first.RequestLog().size()) << c.pszWhat;
    }
}

TEST_F(Transport, FailsWhenNoServerDelivers) {
    Publish(m_firstRoot, 1, "f.bin", "x");
    ASSERT_TRUE(m_first.SetFault(kFaultPath, "500"));
    std::string strLocal = Local("f.bin");
    const std::vector<S_UpdateSerivceAddr> lists[] = {
        {},
        {{"", 80}, {"", 0}},
        {Addr(m_first), {"127.0.0.1", ClosedPort()}},
    };
    for (const auto& vecServers : lists) {
        CQOVAUpdateIntf transport(vecServers, false);
        EXPECT_EQ(-1, transport.GetRemoteFile(1, "f.bin", strLocal.c_str(), nullptr, 0)) << vecServers.size();
        EXPECT_FALSE(FileExists(strLocal));
    }
    EXPECT_EQ(std::vector<std::string>{}, FilesIn(m_local.Path()));
}

TEST_F(Transport, KeepsOneConnectionAcrossFiles) {
    CQOVAUpdateIntf transport({Addr(m_first)}, false);
    for (int i = 0; i < 5; ++i) {
        std::string strName = "k" + std::to_string(i) + ".bin";
        Publish(m_firstRoot, 1, strName, Bytes(3000 * i, i));
        EXPECT_NE(-1, transport.GetRemoteFile(1, strName.c_str(), Local(strName).c_str(), nullptr, 0));
    }
    EXPECT_EQ(5u, m_first.RequestLog().size());
    EXPECT_EQ(1, m_first.ConnectionCount());
}

TEST_F(Transport, ReportsProgressThenOneCompletion) {
    const size_t sizes[] = {0, 1, 65535, 65536, 65537, 3 * 1024 * 1024 + 3};
    for (size_t nSize : sizes) {
        std::string strName = "p" + std::to_string(nSize) + ".bin";
        Publish(m_firstRoot, 1, strName, Bytes(nSize, 7));
        ReportWindow window(kNotifyMsg);
        std::string strLocal = Local(strName);
        bool bInPlaceAtCompletion = false;
        window.SetHandler([&](WPARAM wParam, LPARAM lParam) {
            if (static_cast<LPARAM>(wParam) == lParam) bInPlaceAtCompletion = ReadFileBytes(strLocal).size() == nSize;
        });
        CQOVAUpdateIntf transport({Addr(m_first)}, false);
        DWORD dwStart = GetTickCount();
        ASSERT_NE(-1, transport.GetRemoteFile(1, strName.c_str(), strLocal.c_str(), window.Hwnd(), kNotifyMsg));
        DWORD dwMs = ElapsedSince(dwStart);

        const std::vector<S_Report>& reports = window.Reports();
        ASSERT_FALSE(reports.empty()) << nSize;
        EXPECT_EQ((S_Report{nSize, static_cast<LPARAM>(nSize)}), reports.back()) << nSize;
        EXPECT_TRUE(bInPlaceAtCompletion) << nSize;
        WPARAM nLast = 0;
        for (size_t i = 0; i + 1 < reports.size(); ++i) {
            EXPECT_EQ(static_cast<LPARAM>(nSize), reports[i].lParam) << nSize;
            EXPECT_LT(reports[i].wParam, nSize) << nSize << ": only the last report shows a full count";
            EXPECT_GT(reports[i].wParam, nLast) << nSize << ": counts only grow";
            nLast = reports[i].wParam;
        }
        // Throttled: a report per 64 KiB, or per 100 ms when slower.
        size_t nMaxProgress = nSize / 65536 + dwMs / 100 + 1;
        EXPECT_LE(reports.size() - 1, nMaxProgress) << nSize;
    }
}

TEST_F(Transport, GoneReportWindowAbandonsTheTransfer) {
    Publish(m_firstRoot, 1, "f.bin", Bytes(4 * 1024 * 1024, 8));
    std::string strLocal = Local("f.bin");
    ASSERT_TRUE(WriteFileBytes(strLocal, "previous"));
    CQOVAUpdateIntf transport({Addr(m_first)}, false);

    // Destroyed before the call: nothing is requested.
    HWND hGone;
    {
        ReportWindow window(kNotifyMsg);
        hGone = window.Hwnd();
    }
    EXPECT_EQ(-1, transport.GetRemoteFile(1, "f.bin", strLocal.c_str(), hGone, kNotifyMsg));
    EXPECT_TRUE(m_first.RequestLog().empty());

    // Destroyed by its first report: the transfer stops there.
    ReportWindow window(kNotifyMsg);
    window.SetHandler([&](WPARAM, LPARAM) { DestroyWindow(window.Hwnd()); });
    EXPECT_EQ(-1, transport.GetRemoteFile(1, "f.bin", strLocal.c_str(), window.Hwnd(), kNotifyMsg));
    EXPECT_EQ(1u, window.Reports().size());
    EXPECT_TRUE(SameBytes("previous", ReadFileBytes(strLocal)));
    EXPECT_EQ((std::vector<std::string>{"f.bin", "f.bin.part", "f.bin.part.tag"}), FilesIn(m_local.Path()));
}

TEST_F(Transport, AbortFromAnotherThreadEndsTheTransferPromptly) {
    const char* kinds[] = {"stall", "pause", "hang", "trickle"};
    for (const char* pszKind : kinds) {
        ASSERT_TRUE(m_first.Serve(m_firstRoot.Path()));
        Publish(m_firstRoot, 1, "f.bin", Bytes(3 * 1024 * 1024, 9));
        Publish(m_firstRoot, 1, "ok.bin", "fine");
        ASSERT_TRUE(m_first.SetFault(kFaultPath, pszKind));
        std::string strLocal = Local("f.bin");
        ASSERT_TRUE(WriteFileBytes(strLocal, "previous"));

        CQOVAUpdateIntf transport({Addr(m_first)}, false);
        std::atomic<DWORD> dwReturned{0};
        auto run = std::async(std::launch::async, [&] {
            int nResult = transport.GetRemoteFile(1, "f.bin", strLocal.c_str(), nullptr, 0);
            dwReturned = GetTickCount();
            return nResult;
        });
        ASSERT_TRUE(PumpUntil([&] { return !m_first.RequestLog().empty(); }, 5000)) << pszKind;
        Sleep(700);  // well inside the transfer
        ASSERT_EQ(0u, dwReturned.load()) << pszKind << ": returned before the abort";
        DWORD dwAbort = GetTickCount();
        transport.Abort();
        ASSERT_EQ(std::future_status::ready, run.wait_for(std::chrono::seconds(2))) << pszKind;
        EXPECT_EQ(-1, run.get()) << pszKind;
        EXPECT_LT(dwReturned.load() - dwAbort, 2000u) << pszKind;
        EXPECT_TRUE(SameBytes("previous", ReadFileBytes(strLocal))) << pszKind;
        // A part only where body bytes had come.
        std::vector<std::string> vecFiles{"f.bin"};
        if (pszKind == std::string("pause") || pszKind == std::string("trickle"))
            vecFiles = {"f.bin", "f.bin.part", "f.bin.part.tag"};
        EXPECT_EQ(vecFiles, FilesIn(m_local.Path())) << pszKind;
        DeleteFileA((strLocal + ".part").c_str());
        DeleteFileA((strLocal + ".part.tag").c_str());

        // Afterwards every call fails at once, without a request.
        EXPECT_EQ(-1, transport.GetRemoteFile(1, "ok.bin", Local("ok.bin").c_str(), nullptr, 0)) << pszKind;
        EXPECT_EQ(std::vector<std::string>{"/1/f.bin"}, m_first.RequestLog()) << pszKind;
    }
}

// Sets an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* pszName, const std::string& strValue) : m_pszName(pszName) {
        SetEnvironmentVariableA(pszName, strValue.c_str());
    }
    ~ScopedEnv() { SetEnvironmentVariableA(m_pszName, nullptr); }

private:
    const char* m_pszName;
};

TEST_F(Transport, ProxyFlagChoosesTheSystemProxyOrNone) {
    ASSERT_NE(0, TestServer::ProxyPort());
    Publish(m_firstRoot, 1, "viaproxy.bin", Bytes(2000, 10));
    ScopedEnv proxy("http_proxy", "http://127.0.0.1:" + std::to_string(TestServer::ProxyPort()));
    const std::string strUrl = "http://127.0.0.1:" + std::to_string(m_first.Port()) + "/1/viaproxy.bin";
    // HTTPS (nginx in front of the first server) goes through a CONNECT tunnel.
    const S_UpdateSerivceAddr tls{"127.0.0.1", TestServer::TlsPort("QOVA_TEST_TLS"), true, "localhost"};
    const std::string strTunnel = "CONNECT localhost:" + std::to_string(tls.nServerPort);
    for (bool bSecure : {false, true}) {
        for (bool bUseProxy : {true, false}) {
            ASSERT_TRUE(TestServer::ClearProxyLog());
            std::string strLocal = Local("viaproxy.bin");
            DeleteFileA(strLocal.c_str());
            CQOVAUpdateIntf transport({bSecure ? tls : Addr(m_first)}, bUseProxy);
            EXPECT_NE(-1, transport.GetRemoteFile(1, "viaproxy.bin", strLocal.c_str(), nullptr, 0)) << bUseProxy;
            EXPECT_TRUE(SameBytes(Bytes(2000, 10), ReadFileBytes(strLocal))) << bUseProxy;
            std::vector<std::string> vecExpected;
            if (bUseProxy) vecExpected.push_back(bSecure ? strTunnel : strUrl);
            EXPECT_EQ(vecExpected, TestServer::ProxyLog()) << bUseProxy << bSecure;
        }
    }
}

// ---------------------------------------------------------------------------
// Resumed transfers.

// The request lines the server logged for one path: "Range\tIf-Range\tstatus".
std::vector<std::string> RequestsFor(TestServer& server, const std::string& strPath) {
    std::vector<std::string> vecOut;
    for (const std::string& strLine : server.RequestDetails())
        if (strLine.compare(0, strPath.size() + 1, strPath + "\t") == 0) vecOut.push_back(strLine.substr(strPath.size() + 1));
    return vecOut;
}

std::string Field(const std::string& strLine, size_t nIndex) {
    size_t nAt = 0;
    for (size_t i = 0; i < nIndex; ++i) nAt = strLine.find('\t', nAt) + 1;
    return strLine.substr(nAt, strLine.find('\t', nAt) - nAt);
}

TEST_F(Transport, ABodyThatBreaksOffIsContinuedOrStartedOver) {
    const size_t kSize = 300000;
    const struct {
        const char* pszWhat;
        const char* pszFault;
        size_t nCutAt;         // bytes of the first answer
        const char* pszStatus;  // of the second request
        bool bChanged;          // the file on the server changed in between
    } cases[] = {
        {"cut after 1 byte", "cut@1", 1, "206", false},
        {"cut at half", "cut@50%", kSize / 2, "206", false},
        {"cut 1 byte before the end", "cut@-1", kSize - 1, "206", false},
        {"file replaced in between (new ETag)", "cut@50%,swap", kSize / 2, "200", true},
        {"server without ranges", "cut@50%,norange", kSize / 2, "200", false},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(m_first.Serve(m_firstRoot.Path()));
        const std::string strOld = Bytes(kSize, 20), strNew = Bytes(kSize + 7, 21);
        Publish(m_firstRoot, 1, "r.bin", strOld);
        Publish(m_firstRoot, 1, "r.bin.next", strNew);
        ASSERT_TRUE(m_first.SetFault("/1/r.bin", c.pszFault));
        const std::string strLocal = Local("r.bin");
        DeleteFileA(strLocal.c_str());

        CQOVAUpdateIntf transport({Addr(m_first)}, false);
        EXPECT_NE(-1, transport.GetRemoteFile(1, "r.bin", strLocal.c_str(), nullptr, 0)) << c.pszWhat;
        EXPECT_TRUE(SameBytes(c.bChanged ? strNew : strOld, ReadFileBytes(strLocal))) << c.pszWhat;
        EXPECT_EQ(std::vector<std::string>{"r.bin"}, FilesIn(m_local.Path())) << c.pszWhat;

        const std::vector<std::string> vecRequests = RequestsFor(m_first, "/1/r.bin");
        ASSERT_EQ(2u, vecRequests.size()) << c.pszWhat;
        EXPECT_EQ("-\t-\t200", vecRequests[0]) << c.pszWhat;
        EXPECT_EQ("bytes=" + std::to_string(c.nCutAt) + "-", Field(vecRequests[1], 0)) << c.pszWhat;
        EXPECT_EQ('"', Field(vecRequests[1], 1)[0]) << c.pszWhat << ": If-Range carries the ETag";
        EXPECT_EQ(c.pszStatus, Field(vecRequests[1], 2)) << c.pszWhat;
        // Continued: every byte crossed the wire once.
        const long long nExpectedBytes =
            c.pszStatus == std::string("206") ? kSize : c.nCutAt + (c.bChanged ? strNew : strOld).size();
        EXPECT_EQ(nExpectedBytes, m_first.BodyBytes()) << c.pszWhat;
    }
}

// The dialog's next opening, or any later fetch, continues what an interrupted
// one left; against the test server and against nginx, the real static server.
TEST_F(Transport, APartLeftBehindIsContinuedByTheNextFetch) {
    ASSERT_NE(0, TestServer::NginxPort()) << "nginx runs under scripts/test";
    const size_t kSize = 6 * 1024 * 1024 + 5;
    struct Server {
        const char* pszWhat;
        S_UpdateSerivceAddr addr;
        std::string strRoot;  // where kind 1 lies
    };
    const Server servers[] = {
        {"test server", Addr(m_first), m_firstRoot / "1\\"},
        {"nginx", {"127.0.0.1", TestServer::NginxPort()}, TestServer::NginxRoot() + "1\\"},
        // As a CDN sends it: the range and its validator go to the final answer.
        {"302 to nginx", Addr(m_second), TestServer::NginxRoot() + "1\\"},
    };
    const std::string strToNginx = "302@http://127.0.0.1:" + std::to_string(TestServer::NginxPort()) + "/1/big.bin";
    for (const Server& server : servers) {
        for (bool bChanged : {false, true}) {
            ASSERT_TRUE(m_second.SetFault("/1/big.bin", server.addr.nServerPort == m_second.Port() ? strToNginx : "none"));
            SCOPED_TRACE(std::string(server.pszWhat) + (bChanged ? ", changed" : ", unchanged"));
            const std::string strOld = Bytes(kSize, 30), strNew = Bytes(kSize - 3, 31);
            ASSERT_TRUE(WriteFileBytes(server.strRoot + "big.bin", strOld));
            const std::string strLocal = Local("big.bin");
            DeleteFileA(strLocal.c_str());
            {
                // Interrupted as a closing dialog interrupts it: its window goes.
                CQOVAUpdateIntf transport({server.addr}, false);
                ReportWindow window(kNotifyMsg);
                window.SetHandler([&](WPARAM, LPARAM) { DestroyWindow(window.Hwnd()); });
                ASSERT_EQ(-1, transport.GetRemoteFile(1, "big.bin", strLocal.c_str(), window.Hwnd(), kNotifyMsg));
            }
            const size_t nHave = ReadFileBytes(strLocal + ".part").size();
            ASSERT_GT(nHave, 0u);
            ASSERT_LT(nHave, kSize);
            ASSERT_TRUE(FileExists(strLocal + ".part.tag"));
            if (bChanged) {
                Sleep(1100);  // a new Last-Modified second too
                ASSERT_TRUE(WriteFileBytes(server.strRoot + "big.bin", strNew));
            }
            ASSERT_TRUE(m_first.Serve(m_firstRoot.Path()));  // a fresh request log

            CQOVAUpdateIntf transport({server.addr}, false);
            ASSERT_NE(-1, transport.GetRemoteFile(1, "big.bin", strLocal.c_str(), nullptr, 0));
            EXPECT_TRUE(SameBytes(bChanged ? strNew : strOld, ReadFileBytes(strLocal)));
            EXPECT_EQ(std::vector<std::string>{"big.bin"}, FilesIn(m_local.Path()));
            // The request carried the range; the answer tells continued from started over.
            std::string strRange, strStatus;
            if (server.addr.nServerPort == m_first.Port()) {
                const std::vector<std::string> vecRequests = RequestsFor(m_first, "/1/big.bin");
                ASSERT_EQ(1u, vecRequests.size());
                strRange = Field(vecRequests[0], 0);
                strStatus = Field(vecRequests[0], 2);
            } else {
                const std::vector<std::string> vecLog = TestServer::NginxLog();
                ASSERT_FALSE(vecLog.empty());
                char szRange[64] = {}, szStatus[8] = {};
                std::sscanf(vecLog.back().c_str(), "GET /1/big.bin HTTP/1.1 %7s %*s \"%63[^\"]\"", szStatus, szRange);
                strRange = szRange;
                strStatus = szStatus;
            }
            EXPECT_EQ("bytes=" + std::to_string(nHave) + "-", strRange);
            EXPECT_EQ(bChanged ? "200" : "206", strStatus);
        }
    }
}

// ---------------------------------------------------------------------------
// Several files in flight.

struct ParallelRun {
    size_t nStored = 0;
    DWORD dwMs = 0;
    std::vector<S_Report> vecReports;
};

class ParallelTransport : public Transport {
protected:
    static constexpr size_t kFiles = 12;

    // Names and contents; sizes differ, so that completion reports tell files apart.
    void PublishSet(const std::string& strRoot) {
        m_vecNames.clear();
        m_vecBytes.clear();
        for (size_t i = 0; i < kFiles; ++i) {
            m_vecNames.push_back("set\\f" + std::to_string(i) + ".bin");
            m_vecBytes.push_back(Bytes(i == 3 ? 1500000 : 20000 + 1000 * i, 40 + static_cast<unsigned>(i)));
            ASSERT_TRUE(WriteFileBytes(strRoot + m_vecNames.back(), m_vecBytes.back()));
        }
    }
    ParallelRun Run(const std::vector<S_UpdateSerivceAddr>& vecServers, unsigned int nConnections) {
        ParallelRun run;
        std::vector<std::string> vecLocal;
        for (const std::string& strName : m_vecNames) {
            vecLocal.push_back(m_local / strName);
            DeleteFileA(vecLocal.back().c_str());
        }
        CDirectoryEx::CreateMultipleDirectory(m_local / "set\\");
        ReportWindow window(kNotifyMsg);
        CQOVAUpdateIntf transport(vecServers, false);
        transport.SetConnections(nConnections);
        DWORD dwStart = GetTickCount();
        run.nStored = transport.FetchFiles(1, m_vecNames, vecLocal, window.Hwnd(), kNotifyMsg);
        run.dwMs = ElapsedSince(dwStart);
        run.vecReports = window.Reports();
        return run;
    }
    std::vector<WPARAM> Completions(const ParallelRun& run) const {
        std::vector<WPARAM> vec;
        for (const S_Report& r : run.vecReports)
            if (static_cast<LPARAM>(r.wParam) == r.lParam) vec.push_back(r.wParam);
        return vec;
    }
    std::vector<WPARAM> Sizes(size_t nCount) const {
        std::vector<WPARAM> vec;
        for (size_t i = 0; i < nCount; ++i) vec.push_back(m_vecBytes[i].size());
        return vec;
    }
    std::vector<std::string> SortedPaths(std::vector<std::string> vec) const {
        std::sort(vec.begin(), vec.end());
        return vec;
    }
    std::vector<std::string> ExpectedPaths() const {
        std::vector<std::string> vec;
        for (size_t i = 0; i < kFiles; ++i) vec.push_back("/1/set/f" + std::to_string(i) + ".bin");
        return SortedPaths(vec);
    }

    std::vector<std::string> m_vecNames, m_vecBytes;
};

TEST_F(ParallelTransport, SameFilesSameRequestsReportsInListOrder) {
    ASSERT_NE(0, TestServer::NginxPort());
    struct Case {
        const char* pszWhat;
        bool bNginx;
        unsigned int nConnections;
    };
    const Case cases[] = {{"test server, 1", false, 1}, {"test server, 4", false, 4}, {"test server, 8", false, 8},
                          {"nginx, 1", true, 1},        {"nginx, 4", true, 4},        {"nginx, 8", true, 8}};
    PublishSet(m_firstRoot / "1\\");
    PublishSet(TestServer::NginxRoot() + "1\\");
    DWORD dwSequentialMs = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        ASSERT_TRUE(m_first.Serve(m_firstRoot.Path()));
        ASSERT_TRUE(m_first.SetDelay(100));  // a round trip of a real link
        const size_t nLogBefore = TestServer::NginxLog().size();
        S_UpdateSerivceAddr addr = c.bNginx ? S_UpdateSerivceAddr{"127.0.0.1", TestServer::NginxPort()} : Addr(m_first);
        const ParallelRun run = Run({addr}, c.nConnections);

        ASSERT_EQ(kFiles, run.nStored);
        for (size_t i = 0; i < kFiles; ++i) EXPECT_TRUE(SameBytes(m_vecBytes[i], ReadFileBytes(m_local / m_vecNames[i]))) << i;
        EXPECT_EQ(Sizes(kFiles), Completions(run));
        for (const S_Report& r : run.vecReports)
            EXPECT_LE(static_cast<LPARAM>(r.wParam), r.lParam) << "a progress report never shows more than the file";
        if (c.bNginx) {
            std::vector<std::string> vecPaths;
            const std::vector<std::string> vecLog = TestServer::NginxLog();
            for (size_t i = nLogBefore; i < vecLog.size(); ++i) {
                char szPath[256] = {};
                std::sscanf(vecLog[i].c_str(), "GET %255s", szPath);
                vecPaths.push_back(szPath);
            }
            EXPECT_EQ(ExpectedPaths(), SortedPaths(vecPaths));
        } else {
            EXPECT_EQ(ExpectedPaths(), SortedPaths(m_first.RequestLog()));
            const int nConnections = m_first.ConnectionCount();
            EXPECT_GE(static_cast<int>(c.nConnections), nConnections) << "one kept-alive connection per transfer";
            if (c.nConnections == 1) dwSequentialMs = run.dwMs;
            // 12 answers of 100 ms each: several in flight wait for them side by side.
            if (c.nConnections > 1) EXPECT_LT(run.dwMs * 2, dwSequentialMs) << run.dwMs << " ms";
        }
    }
}

TEST_F(ParallelTransport, TheFirstFailureEndsTheFetchAndKeepsWhatCameBefore) {
    const size_t kFailing = 2;
    const unsigned int kConnections = 4;
    PublishSet(m_firstRoot / "1\\");
    PublishSet(m_secondRoot / "1\\");
    // Every answer takes 100 ms: f0 and f1 are in before f2 has failed on both servers.
    ASSERT_TRUE(m_first.SetDelay(100));
    ASSERT_TRUE(m_second.SetDelay(100));
    ASSERT_TRUE(m_first.SetFault("/1/set/f2.bin", "404"));
    ASSERT_TRUE(m_second.SetFault("/1/set/f2.bin", "404"));
    const ParallelRun run = Run(Both(), kConnections);

    EXPECT_EQ(kFailing, run.nStored);
    EXPECT_EQ(Sizes(kFailing), Completions(run)) << "completions of the files before the failed one, in order";
    for (size_t i = 0; i < kFailing; ++i) EXPECT_TRUE(SameBytes(m_vecBytes[i], ReadFileBytes(m_local / m_vecNames[i]))) << i;
    EXPECT_FALSE(FileExists(m_local / m_vecNames[kFailing]));
    const std::vector<std::string> vecSecond = m_second.RequestLog();
    EXPECT_EQ(1, std::count(vecSecond.begin(), vecSecond.end(), std::string("/1/set/f2.bin"))) << "fail-over per file";
    // No request once the failure is known: while f2 went from one server to the
    // other, only the slots of files that finished were refilled.
    for (const std::string& strPath : m_first.RequestLog()) {
        const size_t nIndex = std::stoul(strPath.substr(std::string("/1/set/f").size()));
        EXPECT_LT(nIndex, kFailing + 2 * kConnections) << strPath;
    }
    // Whatever else lies there is a complete file or a part to continue: nothing temporary.
    for (const std::string& strName : FilesIn(m_local / "set\\")) {
        if (strName.find(".part") != std::string::npos) continue;
        const size_t nIndex = std::stoul(strName.substr(1));
        EXPECT_TRUE(SameBytes(m_vecBytes[nIndex], ReadFileBytes(m_local / ("set\\" + strName)))) << strName;
    }
}

TEST_F(ParallelTransport, AbortEndsEveryTransferInFlightPromptly) {
    PublishSet(m_firstRoot / "1\\");
    for (size_t i = 0; i < kFiles; ++i) ASSERT_TRUE(m_first.SetFault("/1/set/f" + std::to_string(i) + ".bin", "pause"));
    std::vector<std::string> vecLocal;
    for (const std::string& strName : m_vecNames) vecLocal.push_back(m_local / strName);
    CDirectoryEx::CreateMultipleDirectory(m_local / "set\\");
    CQOVAUpdateIntf transport({Addr(m_first)}, false);
    transport.SetConnections(8);
    auto run = std::async(std::launch::async, [&] { return transport.FetchFiles(1, m_vecNames, vecLocal, nullptr, 0); });
    ASSERT_TRUE(PumpUntil([&] { return m_first.RequestLog().size() >= 8; }, 5000));
    Sleep(300);
    DWORD dwAbort = GetTickCount();
    transport.Abort();
    ASSERT_EQ(std::future_status::ready, run.wait_for(std::chrono::seconds(2)));
    EXPECT_EQ(0u, run.get());
    EXPECT_LT(ElapsedSince(dwAbort), 2000u);
    EXPECT_EQ(8u, m_first.RequestLog().size()) << "no request after the abort";
}

// ---------------------------------------------------------------------------
// The user's proxy settings (Internet Options).

// Writes the current user's Internet Options proxy settings for one scope and
// puts back what was there.
class ScopedInternetOptions {
public:
    enum : DWORD { kDirect = 1, kProxy = 2, kPacUrl = 4, kDetect = 8 };
    ScopedInternetOptions(DWORD dwFlags, const std::string& strProxy, const std::string& strBypass,
                          const std::string& strPacUrl) {
        RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &m_hKey, nullptr);
        DWORD cb = 0;
        if (RegQueryValueExA(m_hKey, kValue, nullptr, nullptr, nullptr, &cb) == ERROR_SUCCESS) {
            m_strOld.resize(cb);
            m_bHadOld = RegQueryValueExA(m_hKey, kValue, nullptr, nullptr,
                                         reinterpret_cast<BYTE*>(&m_strOld[0]), &cb) == ERROR_SUCCESS;
        }
        std::string strValue;
        auto dword = [&](DWORD dw) { strValue.append(reinterpret_cast<const char*>(&dw), 4); };
        dword(0x46);
        dword(0);
        dword(dwFlags);
        for (const std::string* pstr : {&strProxy, &strBypass, &strPacUrl}) {
            dword(static_cast<DWORD>(pstr->size()));
            strValue += *pstr;
        }
        RegSetValueExA(m_hKey, kValue, 0, REG_BINARY, reinterpret_cast<const BYTE*>(strValue.data()),
                       static_cast<DWORD>(strValue.size()));
    }
    ~ScopedInternetOptions() {
        if (m_bHadOld)
            RegSetValueExA(m_hKey, kValue, 0, REG_BINARY, reinterpret_cast<const BYTE*>(m_strOld.data()),
                           static_cast<DWORD>(m_strOld.size()));
        else
            RegDeleteValueA(m_hKey, kValue);
        RegCloseKey(m_hKey);
    }

private:
    static constexpr const char* kKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
    static constexpr const char* kValue = "DefaultConnectionSettings";
    HKEY m_hKey = nullptr;
    std::string m_strOld;
    bool m_bHadOld = false;
};

TEST_F(Transport, UseProxyFollowsTheUsersInternetOptions) {
    ASSERT_NE(0, TestServer::ProxyPort());
    const std::string strProxy = "127.0.0.1:" + std::to_string(TestServer::ProxyPort());
    const std::string strPacBase = "http://127.0.0.1:" + std::to_string(m_second.Port()) + "/pac/";
    ASSERT_TRUE(WriteFileBytes(m_secondRoot / "pac\\to-proxy.pac",
                               "function FindProxyForURL(url, host) { return \"PROXY " + strProxy + "\"; }\n"));
    ASSERT_TRUE(WriteFileBytes(m_secondRoot / "pac\\direct.pac",
                               "function FindProxyForURL(url, host) { return \"DIRECT\"; }\n"));
    ASSERT_TRUE(WriteFileBytes(m_secondRoot / "pac\\hangs.pac", "function FindProxyForURL(u, h) { return \"DIRECT\"; }\n"));
    ASSERT_TRUE(m_second.SetFault("/pac/hangs.pac", "hang"));
    Publish(m_firstRoot, 1, "p.bin", Bytes(5000, 50));
    const std::string strUrl = "http://127.0.0.1:" + std::to_string(m_first.Port()) + "/1/p.bin";
    const S_UpdateSerivceAddr tls{"127.0.0.1", TestServer::TlsPort("QOVA_TEST_TLS"), true, "localhost"};
    const std::string strTunnel = "CONNECT localhost:" + std::to_string(tls.nServerPort);
    using IE = ScopedInternetOptions;
    const struct {
        const char* pszWhat;
        DWORD dwFlags;
        std::string strProxy, strBypass, strPac;
        const char* pszAuth;  // the proxy's authentication mode
        bool bViaProxy;       // else direct
        bool bStored;
        DWORD dwMinMs, dwMaxMs;  // time of the first fetch
        bool bSecure = false;    // an https server (nginx in front of the first): through a CONNECT tunnel
    } cases[] = {
        {"fixed proxy", IE::kProxy, strProxy, "", "", "none", true, true, 0, 3000},
        {"fixed proxy, an https server", IE::kProxy, strProxy, "", "", "none", true, true, 0, 3000, true},
        {"fixed proxy per scheme", IE::kProxy, "http=" + strProxy + ";https=127.0.0.1:9", "", "", "none", true, true, 0, 3000},
        {"bypass list names the server", IE::kProxy, strProxy, "example.org;127.0.0.1", "", "none", false, true, 0, 3000},
        {"bypass list wildcard", IE::kProxy, strProxy, "<local>; 127.0.*", "", "none", false, true, 0, 3000},
        {"PAC script: proxy", IE::kPacUrl, "", "", strPacBase + "to-proxy.pac", "none", true, true, 0, 3000},
        {"PAC script: direct, before the fixed proxy", IE::kPacUrl | IE::kProxy, strProxy, "", strPacBase + "direct.pac",
         "none", false, true, 0, 3000},
        {"407 asking for Negotiate or NTLM", IE::kProxy, strProxy, "", "", "negotiate", true, false, 0, 5000},
        {"407 asking for Basic", IE::kProxy, strProxy, "", "", "basic", true, false, 0, 5000},
        // Last: it spends the run's time for automatic configuration.
        {"PAC server never answers: direct after 3 s", IE::kPacUrl | IE::kProxy, strProxy, "", strPacBase + "hangs.pac",
         "none", false, true, 2800, 5000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        IE options(c.dwFlags, c.strProxy, c.strBypass, c.strPac);
        ASSERT_TRUE(TestServer::SetProxyAuth(c.pszAuth));
        ASSERT_TRUE(TestServer::ClearProxyLog());
        for (int nRun = 0; nRun < 2; ++nRun) {
            const std::string strLocal = Local("p.bin");
            DeleteFileA(strLocal.c_str());
            CQOVAUpdateIntf transport({c.bSecure ? tls : Addr(m_first)}, true);
            DWORD dwStart = GetTickCount();
            const int nResult = transport.GetRemoteFile(1, "p.bin", strLocal.c_str(), nullptr, 0);
            DWORD dwMs = ElapsedSince(dwStart);
            EXPECT_EQ(c.bStored ? 0 : -1, nResult) << "run " << nRun;
            if (c.bStored) EXPECT_TRUE(SameBytes(Bytes(5000, 50), ReadFileBytes(strLocal)));
            // Automatic configuration is evaluated once per process: the second run does not wait.
            EXPECT_GE(dwMs, nRun == 0 ? c.dwMinMs : 0u) << "run " << nRun;
            EXPECT_LT(dwMs, nRun == 0 ? c.dwMaxMs : 1500u) << "run " << nRun;
        }
        const std::vector<std::string> vecProxied = TestServer::ProxyLog();
        if (c.bViaProxy && c.bStored && !c.bSecure) EXPECT_EQ((std::vector<std::string>{strUrl, strUrl}), vecProxied);
        if (c.bSecure) {
            // The first run opens the tunnel; the second may ride the one WinHTTP kept.
            EXPECT_FALSE(vecProxied.empty());
            for (const std::string& strProxied : vecProxied) EXPECT_EQ(strTunnel, strProxied);
        }
        if (!c.bViaProxy) EXPECT_TRUE(vecProxied.empty());
        const std::vector<std::string> vecAuth = TestServer::ProxyAuthLog();
        for (const std::string& strAuth : vecAuth) EXPECT_NE("Basic", strAuth) << "Basic credentials are never sent";
        // A 407 is answered with the logon credentials at most twice per request.
        if (!c.bStored) EXPECT_GE(6u, vecAuth.size());
    }
    ASSERT_TRUE(TestServer::SetProxyAuth("none"));
}

}  // namespace
