#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/ClientConfig.h"
#include "config/Rollout.h"
#include "platform/http/ServerConnections.h"
#include "platform/ini/CryptConfigFile.h"
#include "support/TempDir.h"

namespace {

struct Value {
    const char* pszSection;
    const char* pszKey;
    std::string strValue;
};

struct Server {
    std::string strIP;
    unsigned short nPort;
};

void WriteValues(const std::string& strPath, const std::vector<Value>& vecValues) {
    CCryptConfigFile file(strPath, "");
    for (const Value& v : vecValues) file.WriteString(v.pszSection, v.pszKey, v.strValue);
}

struct ConfigCase {
    const char* pszWhat;
    std::vector<Value> vecConfig;      // Config.dat, not written when empty
    std::vector<Value> vecUserConfig;  // UserConfig.dat, not written when empty
    std::string strVersion;
    std::string strRegion;
    std::vector<Server> vecServers;
    bool bUseProxy;
};

TEST(ClientConfig, ReadsVersionRegionServersAndProxy) {
    const std::vector<Value> kProxyOff = {{"Server", "UseProxy", "0"}};
    const ConfigCase cases[] = {
        {"no files at all", {}, {}, "", "", {{"", 0}}, true},
        {"one server",
         {{"Update", "ServerIP", "10.1.2.3"}, {"Update", "ServerPort", "80"}}, kProxyOff,
         "", "", {{"10.1.2.3", 80}}, false},
        {"two servers, first first",
         {{"Update", "ServerIP", "10.1.2.3"}, {"Update", "ServerPort", "80"},
          {"Update", "ServerIP2", "10.1.2.4"}, {"Update", "ServerPort2", "8080"}},
         kProxyOff, "", "", {{"10.1.2.3", 80}, {"10.1.2.4", 8080}}, false},
        {"unresolvable second server",
         {{"Update", "ServerIP", "10.1.2.3"}, {"Update", "ServerPort", "80"},
          {"Update", "ServerIP2", "no-such-host.invalid"}, {"Update", "ServerPort2", "81"}},
         kProxyOff, "", "", {{"10.1.2.3", 80}}, false},
        {"second port without a second server",
         {{"Update", "ServerIP", "10.1.2.3"}, {"Update", "ServerPort2", "81"}}, kProxyOff,
         "", "", {{"10.1.2.3", 0}}, false},
        {"empty first server keeps its place",
         {{"Update", "ServerPort", "8080"}, {"Update", "ServerIP2", "10.0.0.2"}, {"Update", "ServerPort2", "81"}},
         kProxyOff, "", "", {{"", 8080}, {"10.0.0.2", 81}}, false},
        {"unresolvable first server keeps its place",
         {{"Update", "ServerIP", "no-such-host.invalid"}, {"Update", "ServerPort", "80"}}, kProxyOff,
         "", "", {{"", 80}}, false},
        {"ports keep their low 16 bits",
         {{"Update", "ServerIP", "10.1.2.3"}, {"Update", "ServerPort", "65616"},
          {"Update", "ServerIP2", "10.1.2.4"}, {"Update", "ServerPort2", "-1"}},
         kProxyOff, "", "", {{"10.1.2.3", 80}, {"10.1.2.4", 65535}}, false},
        {"host name resolves to its address",
         {{"Update", "ServerIP", "localhost"}, {"Update", "ServerPort", "8000"}}, kProxyOff,
         "", "", {{"127.0.0.1", 8000}}, false},
        {"version and region as stored",
         {{"Update", "Version", "4.0.1007.0715"}, {"Update", "Region", "华东"}}, {},
         "4.0.1007.0715", "华东", {{"", 0}}, true},
        {"UseProxy missing from the file", {}, {{"Server", "Other", "0"}}, "", "", {{"", 0}}, true},
        {"UseProxy 5", {}, {{"Server", "UseProxy", "5"}}, "", "", {{"", 0}}, true},
        {"UseProxy -1", {}, {{"Server", "UseProxy", "-1"}}, "", "", {{"", 0}}, true},
        {"UseProxy in another section", {}, {{"Update", "UseProxy", "0"}}, "", "", {{"", 0}}, true},
    };
    for (const ConfigCase& c : cases) {
        TempDir dir;
        if (!c.vecConfig.empty()) WriteValues(dir / "Config.dat", c.vecConfig);
        if (!c.vecUserConfig.empty()) WriteValues(dir / "UserConfig.dat", c.vecUserConfig);

        std::string strVersion = "stale", strRegion = "stale";
        std::vector<S_UpdateSerivceAddr> vecServers;
        bool bUseProxy = !c.bUseProxy;
        ReadClientConfig(dir.Path(), strVersion, strRegion, vecServers, bUseProxy);

        EXPECT_EQ(c.strVersion, strVersion) << c.pszWhat;
        EXPECT_EQ(c.strRegion, strRegion) << c.pszWhat;
        EXPECT_EQ(c.bUseProxy, bUseProxy) << c.pszWhat;
        ASSERT_EQ(c.vecServers.size(), vecServers.size()) << c.pszWhat;
        for (size_t i = 0; i < vecServers.size(); ++i) {
            EXPECT_EQ(c.vecServers[i].strIP, vecServers[i].strServerIP) << c.pszWhat << " #" << i;
            EXPECT_EQ(c.vecServers[i].nPort, vecServers[i].nServerPort) << c.pszWhat << " #" << i;
        }
    }
}

TEST(ClientConfig, ASchemeBeforeTheHostChoosesHttps) {
    const struct {
        const char* pszServerIP;
        const char* pszPort;
        const char* pszIP;    // resolved
        const char* pszText;  // as logs name it
    } cases[] = {
        {"localhost", "0", "127.0.0.1", "127.0.0.1:80"},
        {"HTTP://localhost", "8000", "127.0.0.1", "127.0.0.1:8000"},
        {"https://localhost", "0", "127.0.0.1", "https://localhost:443"},
        {"HTTPS://127.0.0.1", "8443", "127.0.0.1", "https://127.0.0.1:8443"},
        {"https://no-such-host.invalid", "0", "", "https://no-such-host.invalid:443"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        WriteValues(dir / "Config.dat", {{"Update", "ServerIP", c.pszServerIP}, {"Update", "ServerPort", c.pszPort}});
        std::string strVersion, strRegion;
        std::vector<S_UpdateSerivceAddr> vecServers;
        bool bUseProxy = false;
        ReadClientConfig(dir.Path(), strVersion, strRegion, vecServers, bUseProxy);
        ASSERT_EQ(1u, vecServers.size()) << c.pszServerIP;
        EXPECT_EQ(c.pszIP, vecServers[0].strServerIP) << c.pszServerIP;
        EXPECT_EQ(c.pszText, ServerText(vecServers[0])) << c.pszServerIP;
    }
}

TEST(ClientConfig, AppendsToTheCallersList) {
    TempDir dir;
    WriteValues(dir / "Config.dat", {{"Update", "ServerIP", "10.1.2.3"}, {"Update", "ServerPort", "80"}});
    std::string strVersion, strRegion;
    std::vector<S_UpdateSerivceAddr> vecServers(1);
    vecServers[0].strServerIP = "10.9.9.9";
    bool bUseProxy = false;
    ReadClientConfig(dir.Path(), strVersion, strRegion, vecServers, bUseProxy);
    ASSERT_EQ(2u, vecServers.size());
    EXPECT_EQ("10.9.9.9", vecServers[0].strServerIP);
    EXPECT_EQ("10.1.2.3", vecServers[1].strServerIP);
}

TEST(ClientConfig, ResolvesHostAddresses) {
    struct {
        const char* pszHost;
        bool bResolved;
        std::string strExpected;   // output after a call that started with "previous"
    } const cases[] = {
        {"192.168.0.10", true, "192.168.0.10"},
        {"10.1", true, "10.1"},                       // accepted as an address, copied as written
        {"localhost", true, "127.0.0.1"},
        {"", false, ""},                              // emptied
        {"no-such-host.invalid", false, "previous"},  // left as it was
    };
    for (const auto& c : cases) {
        std::string strAddress = "previous";
        EXPECT_EQ(c.bResolved, ResolveHostAddress(c.pszHost, strAddress)) << c.pszHost;
        EXPECT_EQ(c.strExpected, strAddress) << c.pszHost;
    }
}

TEST(ClientConfig, ConnectionsDefaultToFourAndStayWithinOneToEight) {
    const struct {
        const char* pszValue;  // UserConfig.dat [Server] Connections; null: no file
        unsigned int nExpected;
    } cases[] = {{nullptr, 4}, {"", 4}, {"1", 1}, {"6", 6}, {"8", 8}, {"9", 8}, {"0", 1}, {"-3", 1}, {"many", 4}};
    for (const auto& c : cases) {
        TempDir dir;
        if (c.pszValue) WriteValues(dir / "UserConfig.dat", {{"Server", "Connections", c.pszValue}});
        EXPECT_EQ(c.nExpected, ReadConnectionCount(dir.Path())) << (c.pszValue ? c.pszValue : "(no file)");
    }
}

}  // namespace

// Many installations, each drawing once: the share a rollout reaches stays
// within a binomial bound, each keeps its decision, and a raise only adds.
TEST(Rollout, EachInstallationDrawsOnceAndARaiseOnlyAdds) {
    TempDir dir;
    const unsigned kInstallations = 200;
    std::vector<unsigned> vecDraws;
    for (unsigned i = 0; i < kInstallations; ++i) {
        const std::string strApp = dir / (std::to_string(i) + "\\");
        CreateDirectoryA(strApp.c_str(), nullptr);
        unsigned nDraw = 0, nAgain = 0;
        ASSERT_TRUE(ReadRolloutDraw(strApp, nDraw));
        ASSERT_TRUE(ReadRolloutDraw(strApp, nAgain));
        ASSERT_EQ(nDraw, nAgain) << "drawn once, kept";
        ASSERT_LT(nDraw, kRolloutDraws);
        vecDraws.push_back(nDraw);
    }
    unsigned nAt25 = 0;
    for (unsigned nDraw : vecDraws) {
        const bool bAt25 = RolloutAdmits(25, nDraw);
        nAt25 += bAt25 ? 1 : 0;
        if (bAt25) EXPECT_TRUE(RolloutAdmits(50, nDraw)) << nDraw;
        EXPECT_FALSE(RolloutAdmits(0, nDraw)) << nDraw;
        EXPECT_TRUE(RolloutAdmits(100, nDraw)) << nDraw;
    }
    // 50 expected, standard deviation about 6.1: five of them either way.
    EXPECT_GE(nAt25, 19u);
    EXPECT_LE(nAt25, 81u);
    EXPECT_TRUE(RolloutAdmits(1, 99));
    EXPECT_FALSE(RolloutAdmits(1, 100));

    // A draw on record is taken as it is; one that is not a draw is drawn again.
    const std::string strApp = dir / "0\\";
    WriteValues(strApp + "UserConfig.dat", {{"Rollout", "Draw", "9999"}});
    unsigned nDraw = 0;
    ASSERT_TRUE(ReadRolloutDraw(strApp, nDraw));
    EXPECT_EQ(9999u, nDraw);
    WriteValues(strApp + "UserConfig.dat", {{"Rollout", "Draw", "10000"}});
    ASSERT_TRUE(ReadRolloutDraw(strApp, nDraw));
    EXPECT_LT(nDraw, kRolloutDraws);
    // Nowhere to keep it: only a full rollout reaches the installation.
    EXPECT_FALSE(ReadRolloutDraw(dir / "missing\\", nDraw));
    EXPECT_EQ(kRolloutDraws - 1, nDraw);

    unsigned nPercent = 0;
    for (const char* pszBad : {"", "101", "-1", "5%", " 5", "1000000"}) EXPECT_FALSE(ParseRolloutPercent(pszBad, nPercent)) << pszBad;
    ASSERT_TRUE(ParseRolloutPercent("0", nPercent));
    EXPECT_EQ(0u, nPercent);
    ASSERT_TRUE(ParseRolloutPercent("100", nPercent));
    EXPECT_EQ(100u, nPercent);
}
