#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "platform/fs/Sha256.h"
#include "support/TempDir.h"

TEST(Sha256, KnownVectorsBufferBoundariesAndFailures) {
    TempDir tmp;
    struct Case {
        std::string strContent;
        const char* pszDigest;
    };
    const Case cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {PseudoRandomBytes(1024 * 1024), "0c44766520536c6789f1dda2cc2a58dbde70e889119c918e034d2ec0d66e4453"},
        {PseudoRandomBytes(1024 * 1024 + 1), "c58679c6312a25ceaf250085769ec160bb064bb3baff779f3b972207bc700868"},
        {PseudoRandomBytes(3 * 1024 * 1024 + 17), "4575b7d81e23b89ca60fc946ff5978b523365117ef534f819fa8ad8d2bfc9c77"},
    };
    CSha256 sha256;   // one object for every file, failures in between
    int n = 0;
    for (const Case& c : cases) {
        const std::string strPath = tmp / ("誠" + std::to_string(n++) + ".bin");
        ASSERT_TRUE(WriteFileBytes(strPath, c.strContent));
        std::string strDigest = "stale";
        EXPECT_EQ(-1, sha256.GetFileSHA256((tmp / "missing.bin").c_str(), strDigest));
        EXPECT_EQ("", strDigest);
        EXPECT_EQ(0, sha256.GetFileSHA256(strPath.c_str(), strDigest)) << c.strContent.size();
        EXPECT_EQ(c.pszDigest, strDigest) << c.strContent.size() << " bytes";
    }
}
