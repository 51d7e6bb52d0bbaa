// URLs of remote files: separators, percent-encoding of the names' UTF-8, ports.
#include <gtest/gtest.h>

#include <string>

#include "platform/http/UrlPath.h"

namespace {

// The URL the transport asks its server for: address, port (0 means 80), path.
bool BuildRemoteUrl(const std::string& strServerIP, unsigned short nServerPort, unsigned int nUpdateType,
                    const char* pszRemoteFile, std::string& strUrl) {
    std::string strPath;
    if (!BuildRemoteUrlPath(nUpdateType, pszRemoteFile, strPath)) return false;
    strUrl = "http://" + strServerIP + ":" + std::to_string(EffectiveServerPort(nServerPort)) + strPath;
    return true;
}

struct UrlCase {
    const char* pszIP;
    unsigned short nPort;
    unsigned int nKind;
    const char* pszName;  // UTF-8, as every name inside the program
    const char* pszUrl;
};

TEST(UrlPath, BuildsEncodedUrls) {
    const UrlCase cases[] = {
        {"127.0.0.1", 8080, 3, "maps\\城市.dat", "http://127.0.0.1:8080/3/maps/%E5%9F%8E%E5%B8%82.dat"},
        {"10.0.0.7", 0, 1, "UpdateConfig.ini", "http://10.0.0.7:80/1/UpdateConfig.ini"},
        {"10.0.0.7", 80, 1, "a.dll", "http://10.0.0.7:80/1/a.dll"},
        {"127.0.0.1", 65535, 1, "bin\\sub\\a.dll", "http://127.0.0.1:65535/1/bin/sub/a.dll"},
        // 誠 is D5 5C and 診 D4 5C in GBK, the manifests' form: inside, no byte is taken for '\'.
        {"127.0.0.1", 1, 1, "誠\\x.dat", "http://127.0.0.1:1/1/%E8%AA%A0/x.dat"},
        {"127.0.0.1", 1, 1, "誠診.dat", "http://127.0.0.1:1/1/%E8%AA%A0%E8%A8%BA.dat"},
        {"127.0.0.1", 1, 1, "dir\\診", "http://127.0.0.1:1/1/dir/%E8%A8%BA"},
        // Unreserved characters stay; everything else, '%' included, is encoded upper-case.
        {"127.0.0.1", 1, 2, "a b+c&d~e_f-g.h", "http://127.0.0.1:1/2/a%20b%2Bc%26d~e_f-g.h"},
        {"127.0.0.1", 1, 2, "%41#?;=", "http://127.0.0.1:1/2/%2541%23%3F%3B%3D"},
        {"127.0.0.1", 1, 2, "AZaz09", "http://127.0.0.1:1/2/AZaz09"},
        // '/' separates too; empty segments name nothing.
        {"127.0.0.1", 1, 1, "bin/a.dll", "http://127.0.0.1:1/1/bin/a.dll"},
        {"127.0.0.1", 1, 1, "\\bin\\\\a.dll\\", "http://127.0.0.1:1/1/bin/a.dll"},
        {"127.0.0.1", 1, 4294967295u, "x", "http://127.0.0.1:1/4294967295/x"},
        {"127.0.0.1", 1, 0, "x..y\\.z", "http://127.0.0.1:1/0/x..y/.z"},
    };
    for (const UrlCase& c : cases) {
        std::string strUrl;
        EXPECT_TRUE(BuildRemoteUrl(c.pszIP, c.nPort, c.nKind, c.pszName, strUrl)) << c.pszUrl;
        EXPECT_EQ(c.pszUrl, strUrl);
    }
}

TEST(UrlPath, PathIsTheUrlWithoutServer) {
    std::string strPath;
    ASSERT_TRUE(BuildRemoteUrlPath(3, "maps\\城市.dat", strPath));
    EXPECT_EQ("/3/maps/%E5%9F%8E%E5%B8%82.dat", strPath);
}

TEST(UrlPath, RejectsNamesThatNameNoFile) {
    const char* names[] = {
        "",
        "\\",
        "\\\\/",
        "..\\a.dll",
        "bin\\..\\..\\a.dll",
        "bin\\.\\a.dll",
        "bin\\..",
        "\x81",             // not UTF-8
        "ok\\\xFF\xFF.dat", // not UTF-8 at all
        "\xD5\x5C.dat",     // GBK bytes, not UTF-8
        "䶮.dat",           // no GBK spelling: no manifest can name it
    };
    for (const char* pszName : names) {
        std::string strPath = "unchanged";
        EXPECT_FALSE(BuildRemoteUrlPath(1, pszName, strPath)) << pszName;
        EXPECT_EQ("unchanged", strPath);
    }
    std::string strPath;
    EXPECT_FALSE(BuildRemoteUrlPath(1, nullptr, strPath));
}

TEST(UrlPath, PortZeroMeansEighty) {
    EXPECT_EQ(80, EffectiveServerPort(0));
    EXPECT_EQ(80, EffectiveServerPort(80));
    EXPECT_EQ(8080, EffectiveServerPort(8080));
    EXPECT_EQ(65535, EffectiveServerPort(65535));
}

}  // namespace
