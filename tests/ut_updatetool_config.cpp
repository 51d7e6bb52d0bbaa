#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/base/Text.h"
#include "platform/base/Win32Handles.h"
#include "platform/fs/MD5.h"
#include "platform/ini/CryptConfigFile.h"
#include "support/TempDir.h"
#include "support/ToolRun.h"

namespace {

size_t LineCount(const std::string& str) { return static_cast<size_t>(std::count(str.begin(), str.end(), '\n')); }

}  // namespace

TEST(UpdateToolConfig, SetGetDumpRoundTripThroughTheRealProgram) {
    TempDir tmp;
    const std::string strFile = tmp / "Config.dat";
    struct Set {
        const char* pszSection;
        const char* pszKey;
        const char* pszValue;
    };
    const Set sets[] = {
        {"Update", "Version", "4.0.1007.0715"},
        {"Update", "Region", "城市"},
        {"誠", "診", "誠"},                       // trail byte '\' ends the argument
        {"Update", "WebSiteURL", "http://example.test/a b"},
        {"update", "VERSION", "4.0.1008.0101"},   // replaces, whatever the case
        {"Update", "ServerIP", "https://update.example.test"},
        {"Update", "ServerPort", "65535"},
    };
    for (const Set& s : sets) {
        const ToolRun run = RunToolArgs(tmp, {"config", "set", strFile, s.pszSection, s.pszKey, s.pszValue});
        EXPECT_EQ(0u, run.dwExit) << s.pszKey << ": " << run.strError;
        EXPECT_EQ("", run.strOutput);
    }
    struct Get {
        const char* pszSection;
        const char* pszKey;
        DWORD dwExit;
        const char* pszOut;
    };
    const Get gets[] = {
        {"Update", "Version", 0, "4.0.1008.0101\n"},
        {"UPDATE", "region", 0, "城市\n"},   // redirected: GBK bytes, as scripts read them
        {"誠", "診", 0, "誠\n"},
        {"Update", "WebSiteURL", 0, "http://example.test/a b\n"},
        {"Update", "Missing", 1, ""},
        {"Missing", "Version", 1, ""},
    };
    for (const Get& g : gets) {
        const ToolRun run = RunToolArgs(tmp, {"config", "get", strFile, g.pszSection, g.pszKey});
        EXPECT_EQ(g.dwExit, run.dwExit) << g.pszKey << ": " << run.strError;
        EXPECT_EQ(Gbk(g.pszOut), run.strOutput) << g.pszKey;
    }

    // The program and the library agree on the file.
    CCryptConfigFile file(strFile, "");
    std::string strRegion;
    file.ReadString("Update", "Region", "", strRegion);
    EXPECT_EQ("城市", strRegion);
    const ToolRun dump = RunToolArgs(tmp, {"config", "dump", strFile});
    EXPECT_EQ(0u, dump.dwExit) << dump.strError;
    EXPECT_EQ(file.GetText(), dump.strOutput);
    EXPECT_EQ(Gbk("[Update]\r\nVersion=4.0.1008.0101\r\nRegion=城市\r\nWebSiteURL=http://example.test/a b\r\nServerIP=https://update.example.test\r\n"
                  "ServerPort=65535\r\n\r\n"
                  "[誠]\r\n診=誠\r\n"),
              dump.strOutput);
}

TEST(UpdateToolConfig, ImportReplacesTheWholeContentFromStandardInput) {
    TempDir tmp;
    const std::string strFile = tmp / "UserConfig.dat";
    // Standard input is GBK bytes, as scripts feed it.
    ToolRun run =
        RunToolArgs(tmp, {"config", "import", strFile}, Gbk("; from support\n[Server]\nUseProxy=0\n[Update]\r\nRegion=城市\r\n"));
    EXPECT_EQ(0u, run.dwExit) << run.strError;
    CCryptConfigFile created(strFile, "");
    EXPECT_EQ(0, created.ReadInteger("Server", "UseProxy", 1));
    EXPECT_EQ(Gbk("[Server]\r\nUseProxy=0\r\n\r\n[Update]\r\nRegion=城市\r\n"), created.GetText());
    std::string strRegion;
    created.ReadString("Update", "Region", "", strRegion);
    EXPECT_EQ("城市", strRegion);

    run = RunToolArgs(tmp, {"config", "import", strFile}, "[Server]\r\nUseProxy=1\r\n");
    EXPECT_EQ(0u, run.dwExit) << run.strError;
    CCryptConfigFile replaced(strFile, "");
    EXPECT_EQ("[Server]\r\nUseProxy=1\r\n", replaced.GetText());

    // An input that would empty the file, or hand the client a value it misreads: refused, nothing changed.
    const std::string strBefore = ReadFileBytes(strFile);
    for (const char* pszInput : {"", "\r\n; only a comment\r\n", "[Update]\r\nServerPort=abc\r\n"}) {
        run = RunToolArgs(tmp, {"config", "import", strFile}, pszInput);
        EXPECT_EQ(2u, run.dwExit) << pszInput;
        EXPECT_EQ(1u, LineCount(run.strError)) << run.strError;
        EXPECT_EQ(strBefore, ReadFileBytes(strFile)) << pszInput;
    }
}

TEST(UpdateToolConfig, Md5PrintsTheLibrarysDigest) {
    TempDir tmp;
    const std::string strFile = tmp / "誠\\a.dll";
    ASSERT_TRUE(WriteFileBytes(strFile, "abc"));
    ASSERT_TRUE(WriteFileBytes(tmp / "empty.dat", ""));
    ToolRun run = RunToolArgs(tmp, {"md5", strFile});
    EXPECT_EQ(0u, run.dwExit) << run.strError;
    EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72\n", run.strOutput);
    run = RunToolArgs(tmp, {"md5", tmp / "empty.dat"});
    EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e\n", run.strOutput);
    CMD5 md5;
    std::string strDigest;
    md5.GetFileMD5((tmp / "tool-in.txt").c_str(), strDigest);
    run = RunToolArgs(tmp, {"md5", tmp / "tool-in.txt"});   // the tool's own (empty) input file
    EXPECT_EQ(strDigest + "\n", run.strOutput);
}

// Bad usage and unreadable or damaged files: exit 2, one line on stderr, nothing
// on stdout, and a damaged file left byte for byte as it was.
TEST(UpdateToolConfig, ErrorsExitWithTwoAndOneLine) {
    TempDir tmp;
    const std::string strDamaged = tmp / "Damaged.dat";
    const std::string strGood = tmp / "Good.dat";
    const char kDamaged[] = "QCFG\x01\x00\x00\x00 forty bytes that are not a sealed file";
    const std::string strDamagedBytes(kDamaged, sizeof(kDamaged) - 1);
    ASSERT_TRUE(WriteFileBytes(strDamaged, strDamagedBytes));
    {
        CCryptConfigFile good(strGood, "");
        ASSERT_EQ(0, good.WriteString("Update", "Version", "1"));
    }
    const std::string strGoodBytes = ReadFileBytes(strGood);
    const std::string strMissing = tmp / "Missing.dat";

    const std::vector<std::vector<std::string>> cases = {
        {},
        {"unknown"},
        {"config"},
        {"config", "frobnicate", strGood},
        {"config", "dump"},
        {"config", "dump", strGood, "extra"},
        {"config", "get", strGood, "Update"},
        {"config", "set", strGood, "Update", "Version"},
        {"config", "set", strGood, "Update", "a=b", "1"},
        {"config", "set", strGood, "", "Version", "1"},
        {"config", "set", strGood, "a]b", "Version", "1"},
        {"config", "dump", strMissing},
        {"config", "get", strMissing, "Update", "Version"},
        {"config", "dump", strDamaged},
        {"config", "get", strDamaged, "Update", "Version"},
        {"config", "set", strDamaged, "Update", "Version", "2"},
        {"config", "import", strDamaged},
        {"config", "set", strGood, "Update", "PublicKey", "BPq1mMr6cSRN0Fo0bLt0"},   // a truncated key line
        {"config", "set", strGood, "update", "serverport", "abc"},
        {"config", "set", strGood, "Update", "ServerPort2", "65536"},
        {"config", "set", strGood, "Update", "ServerIP", "ftp://host"},
        {"config", "set", strGood, "Update", "ServerIP2", "a b"},
        {"config", "set", strGood, "Server", "Connections", "9"},
        {"config", "dump", tmp.Path()},
        {"md5"},
        {"md5", strMissing},
        {"md5", strGood, strGood},
        {"md5", tmp.Path()},
    };
    for (const std::vector<std::string>& vecArgs : cases) {
        std::string strArgs;
        for (const std::string& strArg : vecArgs) strArgs += " [" + strArg + "]";
        const ToolRun run = RunToolArgs(tmp, vecArgs, "[Update]\r\nVersion=9\r\n");
        EXPECT_EQ(2u, run.dwExit) << strArgs;
        EXPECT_EQ("", run.strOutput) << strArgs;
        EXPECT_EQ(1u, LineCount(run.strError)) << strArgs << ": " << run.strError;
    }
    EXPECT_EQ(strDamagedBytes, ReadFileBytes(strDamaged));
    EXPECT_EQ(strGoodBytes, ReadFileBytes(strGood));
    EXPECT_FALSE(FileExists(strMissing));
}

// Help is asked for: on standard output, exit 0, nothing read or written.
TEST(UpdateToolConfig, HelpForEveryCommandExitsWithZero) {
    TempDir tmp;
    const std::string strKey = tmp / "key.pem";
    const std::vector<std::vector<std::string>> cases = {
        {"help"}, {"--help"}, {"help", "manifest"}, {"config", "--help"}, {"config", "set", "--help"},
        {"md5", "--help"}, {"manifest", "program", "--help"}, {"manifest", "data", "--help"},
        {"keygen", "--help"}, {"keygen", strKey, "--help"}, {"pubkey", "--help"}, {"sign", "--help"},
        {"verify", "--help"},
    };
    for (const std::vector<std::string>& vecArgs : cases) {
        const ToolRun run = RunToolArgs(tmp, vecArgs);
        EXPECT_EQ(0u, run.dwExit) << vecArgs[0] << " " << vecArgs.back();
        EXPECT_EQ("usage: UpdateTool ", run.strOutput.substr(0, 18)) << run.strOutput;
        EXPECT_EQ("", run.strError);
    }
    EXPECT_NE(std::string::npos, RunToolArgs(tmp, {"sign", "--help"}).strOutput.find("--kind N")) << "required options named";
    const ToolRun unknown = RunToolArgs(tmp, {"keygen", "--foo"});
    EXPECT_EQ(2u, unknown.dwExit);
    EXPECT_NE(std::string::npos, unknown.strError.find("--foo"));
    EXPECT_FALSE(FileExists(strKey));
    EXPECT_FALSE(FileExists("--help"));
    EXPECT_FALSE(FileExists("--foo"));
}

// A valid signature over a folder that is not the release: every difference named, exit 1.
TEST(UpdateToolConfig, VerifyChecksTheFolderAgainstTheManifest) {
    TempDir tmp;
    const std::string strKey = tmp / "key.pem";
    const std::string strRelease = tmp / "release";
    ASSERT_TRUE(WriteFileBytes(strRelease + "\\bin\\a.dll", "0123456789"));
    ASSERT_TRUE(WriteFileBytes(strRelease + "\\b.dll", "b"));
    ASSERT_TRUE(WriteFileBytes(strRelease + "\\c.dll", "c"));
    ASSERT_TRUE(WriteFileBytes(strRelease + "\\Config.dat", "the publisher's own"));
    ToolRun run = RunToolArgs(tmp, {"keygen", strKey});
    ASSERT_EQ(0u, run.dwExit) << run.strError;
    const std::string strPublic = run.strOutput.substr(0, run.strOutput.find('\n'));
    run = RunToolArgs(tmp, {"manifest", "program", strRelease, "--version", "2", "--region", "", "--key", strKey, "--kind", "1"});
    ASSERT_EQ(0u, run.dwExit) << run.strError;
    run = RunToolArgs(tmp, {"verify", strRelease, strPublic, "--kind", "1"});
    EXPECT_EQ(0u, run.dwExit) << run.strOutput;
    EXPECT_EQ("Target: /1/UpdateConfig.ini\nvalid\n", run.strOutput);

    ASSERT_TRUE(WriteFileBytes(strRelease + "\\bin\\a.dll", "012345678901"));
    ASSERT_TRUE(DeleteFileA((strRelease + "\\b.dll").c_str()));
    ASSERT_TRUE(WriteFileBytes(strRelease + "\\extra.dll", "x"));
    ASSERT_TRUE(WriteFileBytes(strRelease + "\\c.dll", "C"));
    run = RunToolArgs(tmp, {"verify", strRelease + "\\UpdateConfig.ini", strPublic, "--kind", "1"});
    EXPECT_EQ(1u, run.dwExit);
    const std::string strMD5Line = "changed: c.dll (MD5 4a8a08f09d37b73795649038408b5f33, found ";
    EXPECT_EQ("Target: /1/UpdateConfig.ini\nvalid\nmissing: b.dll\nchanged: bin\\a.dll (SIZE 10, found 12)\n" +
                  strMD5Line,
              run.strOutput.substr(0, run.strOutput.find(strMD5Line) + strMD5Line.size()));
    EXPECT_NE(std::string::npos, run.strOutput.find("\nnot listed: extra.dll\n")) << run.strOutput;
    run = RunToolArgs(tmp, {"verify", strRelease, strPublic, "--kind", "1", "--exclude", "EXTRA.*"});
    EXPECT_EQ(std::string::npos, run.strOutput.find("not listed")) << run.strOutput;
    EXPECT_EQ(2u, RunToolArgs(tmp, {"verify", strRelease, strPublic, "--colour"}).dwExit);
}
