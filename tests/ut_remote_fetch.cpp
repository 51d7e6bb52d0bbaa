#include <gtest/gtest.h>
#include <windows.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "download/ManifestFetch.h"
#include "download/RemoteFetch.h"
#include "manifest/ManifestSignature.h"
#include "platform/base/Win32Handles.h"
#include "platform/crypto/EcdsaP256.h"
#include "platform/http/UpdateIntf.h"
#include "support/Installation.h"
#include "support/TempDir.h"
#include "support/TestServer.h"

namespace {

const int kProgram = 1;
const int kDataSet = 7;

class RemoteFetchTest : public ::testing::Test {
protected:
    RemoteFetchTest()
        : m_server(TestServer::First()),
          m_transport(std::vector<S_UpdateSerivceAddr>{{"127.0.0.1", m_server.Port()}}, false) {}

    void SetUp() override {
        ASSERT_NE(0, m_server.Port()) << "run through scripts/test: the update server is not started";
        ASSERT_TRUE(CreateDirectoryA((m_tmp / "server").c_str(), nullptr));
        ASSERT_TRUE(m_server.Serve(m_tmp / "server\\"));
    }

    void Publish(int nKind, const std::string& strName, const std::string& strBytes) {
        ASSERT_TRUE(WriteFileBytes(m_tmp / ("server\\" + std::to_string(nKind) + "\\" + strName), strBytes));
    }

    TempDir m_tmp;
    TestServer m_server;
    CQOVAUpdateIntf m_transport;
    std::string m_strStaging = m_tmp / "app\\UPDATE\\Program\\";
};

TEST_F(RemoteFetchTest, AnEmptyListSucceedsWithoutAskingTheServer) {
    EXPECT_TRUE(GetRemoteFiles(kProgram, &m_transport, m_strStaging, {}));
    EXPECT_TRUE(GetRemoteFiles(kProgram, nullptr, m_strStaging, {}));
    EXPECT_TRUE(m_server.RequestLog().empty());
    EXPECT_FALSE(PathIsDirectoryA(m_strStaging.c_str()));
}

TEST_F(RemoteFetchTest, WithoutATransportNothingIsFetched) {
    Publish(kProgram, "UpdateConfig.ini", "[Version]\r\n");
    EXPECT_FALSE(GetRemoteFiles(kProgram, nullptr, m_strStaging, {"UpdateConfig.ini"}));
    EXPECT_FALSE(FileExists(m_strStaging + "UpdateConfig.ini"));
    EXPECT_TRUE(m_server.RequestLog().empty());
}

TEST_F(RemoteFetchTest, FetchesIntoSubdirectoriesCreatedBelowStaging) {
    Publish(kProgram, "Update.exe", "exe");
    Publish(kProgram, "bin\\plugins\\p.dll", "plugin");
    Publish(kProgram, "誠\\診.dat", "gbk");
    ASSERT_TRUE(GetRemoteFiles(kProgram, &m_transport, m_strStaging,
                               {"Update.exe", "bin\\plugins\\p.dll", "誠\\診.dat"}));
    EXPECT_EQ("exe", ReadFileBytes(m_strStaging + "Update.exe"));
    EXPECT_EQ("plugin", ReadFileBytes(m_strStaging + "bin\\plugins\\p.dll"));
    EXPECT_EQ("gbk", ReadFileBytes(m_strStaging + "誠\\診.dat"));
    EXPECT_EQ((std::vector<std::string>{"/1/Update.exe", "/1/bin/plugins/p.dll", u8"/1/誠/診.dat"}),
              m_server.RequestLog());
}

TEST_F(RemoteFetchTest, TheUpdateKindSelectsTheServersTree) {
    Publish(kProgram, "config.ini", "program");
    Publish(kDataSet, "config.ini", "data set");
    const std::string strStaging = m_tmp / "app\\UPDATE\\maps\\";
    ASSERT_TRUE(GetRemoteFiles(kDataSet, &m_transport, strStaging, {"config.ini"}));
    EXPECT_EQ("data set", ReadFileBytes(strStaging + "config.ini"));
}

TEST_F(RemoteFetchTest, AnAlreadyStagedFileIsReplaced) {
    Publish(kProgram, "bin\\a.dll", "new contents");
    ASSERT_TRUE(WriteFileBytes(m_strStaging + "bin\\a.dll", "stale and longer than the new one"));
    ASSERT_TRUE(GetRemoteFiles(kProgram, &m_transport, m_strStaging, {"bin\\a.dll"}));
    EXPECT_EQ("new contents", ReadFileBytes(m_strStaging + "bin\\a.dll"));
}

TEST_F(RemoteFetchTest, StopsAtTheFirstFailedFetch) {
    struct Case {
        const char* pszFault;
    } cases[] = {{"404"}, {"500"}, {"drop"}, {"short"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszFault);
        ASSERT_TRUE(m_server.Serve(m_tmp / "server\\"));
        Publish(kProgram, "one.dll", "1");
        Publish(kProgram, "two.dll", "2");
        Publish(kProgram, "three.dll", "3");
        ASSERT_TRUE(m_server.SetFault("/1/two.dll", c.pszFault));
        const std::string strStaging = m_tmp / (std::string("staging-") + c.pszFault + "\\");

        EXPECT_FALSE(GetRemoteFiles(kProgram, &m_transport, strStaging, {"one.dll", "two.dll", "three.dll"}));
        EXPECT_EQ("1", ReadFileBytes(strStaging + "one.dll"));
        EXPECT_FALSE(FileExists(strStaging + "three.dll"));
        const std::vector<std::string> vecLog = m_server.RequestLog();
        ASSERT_FALSE(vecLog.empty());
        EXPECT_EQ("/1/one.dll", vecLog.front());
        for (const std::string& strPath : vecLog) EXPECT_NE("/1/three.dll", strPath);
    }
}

TEST_F(RemoteFetchTest, ANameThatWouldLeaveStagingIsRefusedBeforeAnyRequest) {
    Publish(kProgram, "ok.dll", "ok");
    const char* unsafe[] = {"..\\escape.dll", "../escape.dll", "\\escape.dll", "C:escape.dll", "a\\..\\..\\x"};
    for (const char* pszName : unsafe) {
        SCOPED_TRACE(pszName);
        EXPECT_FALSE(GetRemoteFiles(kProgram, &m_transport, m_strStaging, {"ok.dll", pszName, "ok.dll"}));
    }
    EXPECT_FALSE(FileExists(m_tmp / "app\\UPDATE\\escape.dll"));
    for (const std::string& strPath : m_server.RequestLog()) EXPECT_EQ("/1/ok.dll", strPath);
}

TEST_F(RemoteFetchTest, SeveralConnectionsFetchTheSameFilesWithTheSameRequests) {
    std::vector<std::string> vecNames;
    for (int i = 0; i < 10; ++i) {
        vecNames.push_back("bin\\m" + std::to_string(i) + ".dll");
        Publish(kProgram, vecNames.back(), std::string(1000 + i, static_cast<char>('a' + i)));
    }
    std::vector<std::string> vecExpected;
    for (const std::string& strName : vecNames) vecExpected.push_back("/1/bin/" + strName.substr(4));
    for (unsigned int nConnections : {1u, 4u, 8u}) {
        SCOPED_TRACE(nConnections);
        ASSERT_TRUE(m_server.Serve(m_tmp / "server\\"));
        const std::string strStaging = m_tmp / ("staging" + std::to_string(nConnections) + "\\");
        m_transport.SetConnections(nConnections);
        ASSERT_TRUE(GetRemoteFiles(kProgram, &m_transport, strStaging, vecNames));
        for (int i = 0; i < 10; ++i)
            EXPECT_EQ(std::string(1000 + i, static_cast<char>('a' + i)), ReadFileBytes(strStaging + vecNames[i]));
        std::vector<std::string> vecLog = m_server.RequestLog();
        if (nConnections > 1) std::sort(vecLog.begin(), vecLog.end());
        EXPECT_EQ(vecExpected, vecLog);
    }
}

// Hostile answers from ServerIP (ServerIP2 honest where the row says so):
// what the client took (the transport's tally), how long it took, what it
// staged (so would install) and what it left there. The manifest's time
// bound is shortened to 4 s through the test variable.
TEST(HostileAnswers, EveryAnswerIsBoundedAndAHostileFirstServerCannotStopTheFetch) {
    const DWORD kLimitMs = 4000;
    ASSERT_TRUE(SetEnvironmentVariableA("QOVA_TEST_MANIFEST_LIMIT_MS", std::to_string(kLimitMs).c_str()));
    CEcdsaP256PrivateKey key, other;
    ASSERT_TRUE(key.Generate() && other.Generate());
    const std::string strManifest = "[Version]\r\nVERSION=4.0.1008.0101\r\n[FILES]\r\n";
    const std::string strHuge = strManifest + std::string(17 << 20, ';'), strFile(300000, 'f');
    auto sigOf = [](const std::string& strBytes, const CEcdsaP256PrivateKey& by) {
        S_ManifestSignature sig;
        EXPECT_TRUE(SignManifest(strBytes, "/1/UpdateConfig.ini", by, CurrentUtcTime() - 60, -1, sig));
        return SignatureText(sig);
    };
    const std::string strSig = sigOf(strManifest, key), strBigSig(5000, 's'), strLonger = strFile + "tail";
    const size_t nPair = strManifest.size() + strSig.size();
    const char *kM = "/1/UpdateConfig.ini", *kS = "/1/UpdateConfig.ini.sig", *kF = "/1/f.bin";
    const ETransferFailure kOk = ETransferFailure::None, kBig = ETransferFailure::TooLarge;
    const struct {
        const char* pszName;
        std::string strManifest, strSig, strFile;  // as ServerIP serves them
        const char* pszFault;                      // on pszPath of ServerIP
        const char* pszPath;                       // kF: the row fetches f.bin (SIZE known), else the manifest
        bool bSecond, bStored;
        ETransferFailure eFailure;
        unsigned long long nMaxBytes;              // taken from ServerIP at most
        DWORD dwMaxMs;
    } rows[] = {
        {".sig of 5 KiB, declared", strManifest, strBigSig, "", nullptr, kM, false, false, kBig, nPair, 5000},
        {".sig of 5 KiB, chunked", strManifest, strBigSig, "", "chunked", kS, false, false, kBig, nPair + 4096, 5000},
        {"manifest of 17 MiB, declared", strHuge, strSig, "", nullptr, kM, false, false, kBig, 0, 5000},
        {"manifest of 17 MiB, chunked", strHuge, strSig, "", "chunked", kM, false, false, kBig, 16 << 20, 8000},
        {"manifest of 17 MiB, ended by the connection", strHuge, strSig, "", "nolength", kM, false, false,
         ETransferFailure::HttpStatus, 0, 5000},
        {"manifest at 1 KiB/s, 1 GiB declared", strManifest, strSig, "", "bigtrickle", kM, true, true, kOk, nPair,
         5000},
        {"manifest at 1 KiB/s, chunked, endless", strManifest, strSig, "", "slowchunks", kM, true, true, kOk,
         (kLimitMs / 1000 + 2) * 1024 + strSig.size(), kLimitMs + 4000},
        {"manifest chunked", strManifest, strSig, "", "chunked", kM, false, true, kOk, nPair, 5000},
        {".sig chunked", strManifest, strSig, "", "chunked", kS, false, true, kOk, nPair, 5000},
        {"manifest signed by another key", strManifest, sigOf(strManifest, other), "", nullptr, kM, true, true, kOk,
         nPair, 5000},
        {"file longer than SIZE, declared", "", "", strLonger, nullptr, kF, true, true, kOk, 0, 5000},
        {"file longer than SIZE, no length", "", "", strLonger, "nolength", kF, true, true, kOk, strFile.size(), 5000},
        {"file longer than SIZE, chunked", "", "", strLonger, "chunked", kF, true, true, kOk, strFile.size(), 5000},
        {"file longer than SIZE, one server", "", "", strLonger, nullptr, kF, false, false,
         ETransferFailure::ContentMismatch, 0, 5000},
        {"file of its SIZE, no length", "", "", strFile, "nolength", kF, false, true, kOk, strFile.size(), 5000},
        {"file chunked", "", "", strFile, "chunked", kF, false, true, kOk, strFile.size(), 5000},
        {"reset after the headers (three times)", "", "", strFile, "headreset", kF, true, true, kOk, 0, 5000},
    };
    TestServer first = TestServer::First(), second = TestServer::Second();
    for (const auto& r : rows) {
        SCOPED_TRACE(r.pszName);
        TestInstallation inst("4.0.1007.0715", "CN", false);
        ASSERT_TRUE(inst.SetConfig("Update", "PublicKey", PublicKeyText(key.PublicPoint())));
        for (const char* pszDir : {"first\\1\\", "second\\1\\"}) {
            const bool bFirst = pszDir[0] == 'f';
            ASSERT_TRUE(WriteFileBytes(inst.Temp(pszDir) + "UpdateConfig.ini", bFirst ? r.strManifest : strManifest));
            ASSERT_TRUE(WriteFileBytes(inst.Temp(pszDir) + "UpdateConfig.ini.sig", bFirst ? r.strSig : strSig));
            ASSERT_TRUE(WriteFileBytes(inst.Temp(pszDir) + "f.bin", bFirst ? r.strFile : strFile));
        }
        CreateDirectoryA(inst.Temp("nothing").c_str(), nullptr);
        ASSERT_TRUE(first.Serve(inst.Temp("first\\")));
        ASSERT_TRUE(second.Serve(inst.Temp(r.bSecond ? "second\\" : "nothing\\")));
        if (r.pszFault) ASSERT_TRUE(first.SetFault(r.pszPath, r.pszFault));
        CQOVAUpdateIntf transport({{"127.0.0.1", first.Port()}, {"127.0.0.1", second.Port()}}, false);
        const std::string strStaging = inst.App("UPDATE\\Program\\");
        const bool bFile = r.pszPath == kF;

        const DWORD dwStart = GetTickCount();
        S_TransferFailure failure;
        S_FetchedManifest fetched;
        bool bStored = false;
        if (bFile) {
            bStored = GetRemoteFiles(1, &transport, strStaging, {"f.bin"}, &failure, SizeBounds({strFile.size()}));
        } else {
            bStored = FetchManifest({1, &transport, inst.AppDir(), strStaging, "UpdateConfig.ini",
                                     EManifestLayout::Program, "Program", inst.App("UpdateState\\")},
                                    fetched);
            failure = fetched.failure;
        }
        const DWORD dwMs = GetTickCount() - dwStart;
        const std::vector<S_ServerTally> vecTally = transport.Tally();
        EXPECT_EQ(r.bStored, bStored);
        EXPECT_EQ(r.eFailure, failure.eReason) << TransferFailureText(failure.eReason);
        EXPECT_LE(vecTally[0].nBytes, r.nMaxBytes);
        EXPECT_LE(dwMs, r.dwMaxMs);
        std::vector<std::string> vecStaged;
        if (bStored) vecStaged = bFile ? std::vector<std::string>{"f.bin"}
                                       : std::vector<std::string>{"UpdateConfig.ini", "UpdateConfig.ini.sig"};
        EXPECT_EQ(vecStaged, ListTree(strStaging)) << "nothing else, no .part";
        if (bStored)
            EXPECT_EQ(bFile ? strFile : strManifest, ReadFileBytes(strStaging + (bFile ? "f.bin" : "UpdateConfig.ini")));
        if (bStored && !bFile)
            EXPECT_EQ("127.0.0.1:" + std::to_string((r.bSecond ? second : first).Port()), fetched.strServer);
        if (!bFile && r.strSig != strSig && r.strSig != strBigSig) {  // signed by another key
            ASSERT_EQ(1u, fetched.vecRefused.size());
            EXPECT_EQ(ESignatureCheck::OtherKey, fetched.vecRefused[0].eReason);
        }
        if (r.pszFault && std::string(r.pszFault) == "headreset") EXPECT_EQ(3u, first.RequestLog().size());
        std::printf("[ hostile  ] %-44s stored=%d reason=%-16s ServerIP bytes=%llu ServerIP2 bytes=%llu %lu ms\n",
                    r.pszName, bStored ? 1 : 0, TransferFailureText(failure.eReason), vecTally[0].nBytes,
                    vecTally[1].nBytes, static_cast<unsigned long>(dwMs));
        for (const auto& refusal : fetched.vecRefused)
            std::printf("[ hostile  ]   refused %s: %s\n", refusal.strServer.c_str(),
                        SignatureCheckText(refusal.eReason));
    }
    SetEnvironmentVariableA("QOVA_TEST_MANIFEST_LIMIT_MS", nullptr);
}

}  // namespace

namespace {

// The statuses of the requests a server saw since the mark, sorted (the
// manifest and its .sig go out together).
std::vector<std::string> StatusesSince(bool bNginx, TestServer& server, const std::string& strRoot, size_t& nMark) {
    std::vector<std::string> vecStatuses;
    if (bNginx) {
        const std::vector<std::string> vecLog = TestServer::NginxLog();   // "GET /p HTTP/1.1 <status> ..."
        for (size_t i = nMark; i < vecLog.size(); ++i) {
            char szMethod[16], szPath[512], szVersion[16], szStatus[8];
            if (std::sscanf(vecLog[i].c_str(), "%15s %511s %15s %7s", szMethod, szPath, szVersion, szStatus) == 4)
                vecStatuses.push_back(szStatus);
        }
        nMark = vecLog.size();
    } else {
        for (const std::string& strLine : server.RequestDetails())
            vecStatuses.push_back(strLine.substr(strLine.rfind('\t') + 1));
        server.Serve(strRoot);   // and a new log
    }
    std::sort(vecStatuses.begin(), vecStatuses.end());
    return vecStatuses;
}

}  // namespace

// A signed manifest fetched again and again from nginx and from the test
// server: a 304 stages the kept pair (checked again), anything else is a full fetch.
TEST(KeptManifests, A304StagesTheKeptCopyAndEverythingElseFetchesInFull) {
    CEcdsaP256PrivateKey key;
    ASSERT_TRUE(key.Generate());
    auto sigOf = [&](const std::string& strBytes, long long nExpires) {
        S_ManifestSignature sig;
        EXPECT_TRUE(SignManifest(strBytes, "/1/UpdateConfig.ini", key, CurrentUtcTime() - 60, nExpires, sig));
        return SignatureText(sig);
    };
    const std::string strV1 = "[Version]\r\nVERSION=1\r\n[FILES]\r\n";
    const std::string strV2 = "[Version]\r\nVERSION=2.0\r\n[FILES]\r\n";   // another size: nginx's ETag has whole seconds
    const std::string strV3 = "[Version]\r\nVERSION=3.00\r\n[FILES]\r\n";
    const struct {
        const char* pszStep;
        const std::string* pPublish;   // nullptr: the server's files stay as they are
        long long nExpiresIn;          // seconds from now; -1: none
        bool bDropKept;                // the kept copies are deleted first
        DWORD dwWaitMs;                // before the fetch
        std::vector<std::string> vecStatuses;
        bool bStored;
        const std::string* pStaged;
    } steps[] = {
        {"first fetch", &strV1, -1, false, 0, {"200", "200"}, true, &strV1},
        {"nothing new: 304 with a kept copy", nullptr, -1, false, 0, {"304", "304"}, true, &strV1},
        {"no kept copy: full fetch", nullptr, -1, true, 0, {"200", "200"}, true, &strV1},
        {"a new manifest", &strV2, -1, false, 0, {"200", "200"}, true, &strV2},
        {"nothing new again", nullptr, -1, false, 0, {"304", "304"}, true, &strV2},
        {"a pair that expires in 2 s", &strV3, 2, false, 0, {"200", "200"}, true, &strV3},
        {"its kept copy expired: refused, then in full", nullptr, -1, false, 3000, {"200", "200", "304", "304"},
         false, nullptr},
    };
    for (bool bNginx : {false, true}) {
        SCOPED_TRACE(bNginx ? "nginx" : "test server");
        if (bNginx && TestServer::NginxPort() == 0) GTEST_SKIP() << "run through scripts/test: nginx is not started";
        TestInstallation inst("4.0.1007.0715", "CN", false);
        ASSERT_TRUE(inst.SetConfig("Update", "PublicKey", PublicKeyText(key.PublicPoint())));
        TestServer server = TestServer::First();
        const std::string strRoot = bNginx ? TestServer::NginxRoot() : inst.Temp("release\\");
        if (!bNginx) ASSERT_TRUE(server.Serve(strRoot));
        size_t nMark = TestServer::NginxLog().size();
        CQOVAUpdateIntf transport({{"127.0.0.1", bNginx ? TestServer::NginxPort() : server.Port()}}, false);
        transport.SetConnections(2);
        const std::string strStaging = inst.App("UPDATE\\Program\\");
        const std::string strKept = inst.App("UpdateState\\Kept-1-UpdateConfig.ini");
        for (const auto& step : steps) {
            SCOPED_TRACE(step.pszStep);
            if (step.pPublish) {
                // nginx's ETag holds the time in whole seconds: a file rewritten within one keeps it.
                if (bNginx) Sleep(1100);
                ASSERT_TRUE(WriteFileBytes(strRoot + "1\\UpdateConfig.ini", *step.pPublish));
                const long long nExpires = step.nExpiresIn < 0 ? -1 : CurrentUtcTime() + step.nExpiresIn;
                ASSERT_TRUE(WriteFileBytes(strRoot + "1\\UpdateConfig.ini.sig", sigOf(*step.pPublish, nExpires)));
            }
            if (step.bDropKept) {
                ASSERT_TRUE(DeleteFileA(strKept.c_str()));
                ASSERT_TRUE(DeleteFileA((strKept + ".sig").c_str()));
            }
            Sleep(step.dwWaitMs);
            S_FetchedManifest fetched;
            const bool bStored = FetchManifest({1, &transport, inst.AppDir(), strStaging, "UpdateConfig.ini",
                                                EManifestLayout::Program, "Program", inst.App("UpdateState\\")},
                                               fetched);
            EXPECT_EQ(step.vecStatuses, StatusesSince(bNginx, server, strRoot, nMark));
            EXPECT_EQ(step.bStored, bStored);
            EXPECT_EQ(step.pStaged ? *step.pStaged : std::string(), ReadFileBytes(strStaging + "UpdateConfig.ini"));
            // Kept exactly while a pair is accepted.
            EXPECT_EQ(step.bStored, FileExists(strKept) && FileExists(strKept + ".sig"));
            if (!step.bStored) EXPECT_EQ(ESignatureCheck::Expired, fetched.eSignature);
            // What the log marks "status=304 copy=kept".
            EXPECT_EQ(step.bStored && step.vecStatuses.back() == "304", fetched.bKeptCopy);
        }
    }
}

namespace {

// A server with Last-Modified only answers 304 to any If-Modified-Since not
// before its file's time, also once the older manifest is restored: never asked so.
TEST(KeptManifests, AServerWithoutETagGetsAFullFetchEveryTime) {
    TestInstallation inst("4.0.1007.0715", "CN", false);
    TestServer server = TestServer::First();
    CQOVAUpdateIntf transport({{"127.0.0.1", server.Port()}}, false);
    const std::string strPublished = inst.ReleaseDir() + "1\\UpdateConfig.ini";
    for (int nAgeHours : {1, 48}) {   // the newer manifest, then the older one restored with its older time
        ASSERT_TRUE(WriteFileBytes(strPublished, "[Version]\r\nVERSION=" + std::to_string(nAgeHours) + "\r\n"));
        ULARGE_INTEGER time;
        GetSystemTimeAsFileTime(reinterpret_cast<FILETIME*>(&time));
        time.QuadPart -= nAgeHours * 36000000000ULL;
        UniqueFile hFile(CreateFileA(strPublished.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(SetFileTime(hFile.get(), nullptr, nullptr, reinterpret_cast<FILETIME*>(&time)));
        hFile.reset();
        ASSERT_TRUE(server.Serve(inst.ReleaseDir()) && server.SetFault("/1/UpdateConfig.ini", "noetag"));
        S_FetchedManifest fetched;
        EXPECT_TRUE(FetchManifest({1, &transport, inst.AppDir(), inst.App("UPDATE\\"), "UpdateConfig.ini",
                                   EManifestLayout::Program, "Program", inst.App("UpdateState\\")}, fetched));
        EXPECT_EQ(ReadFileBytes(strPublished), ReadFileBytes(inst.App("UPDATE\\UpdateConfig.ini"))) << nAgeHours;
        const std::vector<std::string> vecRequests = server.RequestDetails();
        ASSERT_EQ(1u, vecRequests.size());
        EXPECT_EQ("200", vecRequests[0].substr(vecRequests[0].rfind('\t') + 1)) << nAgeHours;
    }
    EXPECT_TRUE(ListTree(inst.App("UpdateState\\")).empty()) << "nothing kept without an ETag";
}

}  // namespace
