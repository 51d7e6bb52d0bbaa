#include <gtest/gtest.h>
#include <windows.h>
#include <shlwapi.h>

#include <algorithm>
#include <string>
#include <vector>

#include "download/RemoteFetch.h"
#include "platform/http/UpdateIntf.h"
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

}  // namespace
