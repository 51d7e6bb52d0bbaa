// The transport against the local update servers (started by scripts/test).
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/fs/DirectoryEx.h"
#include "platform/http/UpdateIntf.h"
#include "support/ReportWindow.h"
#include "support/TempDir.h"
#include "support/TestServer.h"

namespace {

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

std::string GbkToUtf8(const std::string& strGbk) {
    std::wstring wstr(strGbk.size(), L'\0');
    wstr.resize(MultiByteToWideChar(936, 0, strGbk.data(), static_cast<int>(strGbk.size()), &wstr[0],
                                    static_cast<int>(wstr.size())));
    std::string str(wstr.size() * 3, '\0');
    str.resize(WideCharToMultiByte(CP_UTF8, 0, wstr.data(), static_cast<int>(wstr.size()), &str[0],
                                   static_cast<int>(str.size()), nullptr, nullptr));
    return str;
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
        "誠\\x.dat",          // GBK D5 5C: the trail byte is no separator
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

        std::string strLogged = "/7/" + GbkToUtf8(pszName);
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
    const char* kinds[] = {"404", "500", "drop", "short"};
    Publish(m_firstRoot, 1, "f.bin", Bytes(200000, 2));
    std::string strLocal = Local("f.bin");
    ASSERT_TRUE(WriteFileBytes(strLocal, "previous"));
    for (const char* pszKind : kinds) {
        ASSERT_TRUE(m_first.SetFault(kFaultPath, pszKind));
        CQOVAUpdateIntf transport({Addr(m_first)}, false);
        EXPECT_EQ(-1, transport.GetRemoteFile(1, "f.bin", strLocal.c_str(), nullptr, 0)) << pszKind;
        EXPECT_TRUE(SameBytes("previous", ReadFileBytes(strLocal))) << pszKind;
        EXPECT_EQ(std::vector<std::string>{"f.bin"}, FilesIn(m_local.Path())) << pszKind;
    }
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
    EXPECT_EQ((std::vector<std::string>{"hang.bin", "pause.bin", "stall.bin", "trickle.bin"}), FilesIn(m_local.Path()));
}

TEST_F(Transport, FallsBackToTheNextServer) {
    struct FirstServer {
        const char* pszWhat;
        S_UpdateSerivceAddr addr;
        const char* pszFault;  // on the first server, or null
    };
    const FirstServer cases[] = {
        {"500 on the first", Addr(m_first), "500"},
        {"404 on the first", Addr(m_first), "404"},
        {"connection reset", Addr(m_first), "drop"},
        {"nothing listening", {"127.0.0.1", ClosedPort()}, nullptr},
        {"unresolved address", {"", m_first.Port()}, nullptr},
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
        size_t nFirstRequests = c.pszFault ? 1 : 0;
        EXPECT_EQ(nFirstRequests, m_first.RequestLog().size()) << c.pszWhat;
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
    EXPECT_EQ(std::vector<std::string>{"f.bin"}, FilesIn(m_local.Path()));
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
        EXPECT_EQ(std::vector<std::string>{"f.bin"}, FilesIn(m_local.Path())) << pszKind;

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
    for (bool bUseProxy : {true, false}) {
        ASSERT_TRUE(TestServer::ClearProxyLog());
        std::string strLocal = Local("viaproxy.bin");
        DeleteFileA(strLocal.c_str());
        CQOVAUpdateIntf transport({Addr(m_first)}, bUseProxy);
        EXPECT_NE(-1, transport.GetRemoteFile(1, "viaproxy.bin", strLocal.c_str(), nullptr, 0)) << bUseProxy;
        EXPECT_TRUE(SameBytes(Bytes(2000, 10), ReadFileBytes(strLocal))) << bUseProxy;
        std::vector<std::string> vecExpected;
        if (bUseProxy) vecExpected.push_back(strUrl);
        EXPECT_EQ(vecExpected, TestServer::ProxyLog()) << bUseProxy;
    }
}

}  // namespace
