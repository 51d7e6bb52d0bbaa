#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/delta/DeltaApply.h"
#include "platform/delta/DeltaPatch.h"
#include "platform/delta/ZstdStream.h"
#include "support/TempDir.h"
#include "support/ToolRun.h"

namespace {

// Executable-like data: code with 4-byte absolute addresses every 16 bytes;
// the new build inserts a block, so every address after it moves by 0x1000.
std::string Executable(size_t nSize, unsigned nShift, size_t nInsertAt) {
    std::string strCode = PseudoRandomBytes(nSize);
    for (size_t i = 0; i + 16 <= strCode.size(); i += 16) {
        unsigned address = 0x401000u + static_cast<unsigned>(i / 7) + (i >= nInsertAt ? nShift : 0);
        for (int b = 0; b < 4; ++b) strCode[i + 12 + b] = static_cast<char>(address >> (8 * b));
        for (int b = 0; b < 8; ++b) strCode[i + b] = static_cast<char>(0x48 + (i / 16) % 3);
    }
    if (nShift) strCode.insert(nInsertAt, PseudoRandomBytes(3000).substr(1000));
    return strCode;
}

// A patch of the current format from decoded streams, as a maker with a fault would write it.
std::string CraftedPatch(size_t cbOld, size_t cbNew, const std::string (&streams)[delta_format::kStreamCount]) {
    delta_format::Header h;
    h.oldSize = cbOld;
    h.newSize = cbNew;
    std::string strFrames;
    for (int i = 0; i < delta_format::kStreamCount; ++i) {
        std::string strFrame;
        ZstdCompressBuffer(reinterpret_cast<const unsigned char*>(streams[i].data()), streams[i].size(), strFrame);
        h.streamSize[i] = strFrame.size();
        strFrames += strFrame;
    }
    return delta_format::WriteHeader(h) + strFrames;
}

struct RoundTripRow {
    const char* pszName;
    std::string strOld, strNew;
    size_t nMaxPatch;   // a patch larger than this means the matching failed
};

}  // namespace

TEST(DeltaPatch, RoundTripsAndStaysSmall) {
    const std::string strOld = Executable(1 << 20, 0, 0);
    const std::string strNew = Executable(1 << 20, 0x1000, 300000);
    std::string strSprinkled = strOld;   // nonzero differences in every buffer the apply fills
    for (size_t i = 50; i < strSprinkled.size(); i += 100) strSprinkled[i] = static_cast<char>(strSprinkled[i] + 7);
    const std::vector<RoundTripRow> rows = {
        {"a byte changed every 100", strOld, strSprinkled, strOld.size() / 20},
        {"rebuilt executable", strOld, strNew, strNew.size() / 50},
        {"empty old", "", strNew, strNew.size()},
        {"empty new", strOld, "", 200},
        {"identical", strOld, strOld, 400},
        {"both empty", "", "", 200},
    };
    for (const RoundTripRow& row : rows) {
        SCOPED_TRACE(row.pszName);
        TempDir tmp;
        ASSERT_TRUE(WriteFileBytes(tmp / "old", row.strOld));
        ASSERT_TRUE(WriteFileBytes(tmp / "new", row.strNew));
        ASSERT_EQ(DeltaError::None, MakeDeltaPatch(tmp / "old", tmp / "new", tmp / "patch"));
        EXPECT_LE(ReadFileBytes(tmp / "patch").size(), row.nMaxPatch);
        ASSERT_EQ(DeltaError::None, ApplyDeltaPatch(tmp / "old", tmp / "patch", tmp / "out", row.strNew.size()));
        EXPECT_TRUE(FileExists(tmp / "out"));
        EXPECT_TRUE(ReadFileBytes(tmp / "out") == row.strNew);
    }
}

TEST(DeltaPatch, BadPatchesFailCleanlyAndLeaveNoOutput) {
    TempDir tmp;
    const std::string strOld = Executable(1 << 19, 0, 0), strNew = Executable(1 << 19, 0x1000, 100000);
    ASSERT_TRUE(WriteFileBytes(tmp / "old", strOld));
    ASSERT_TRUE(WriteFileBytes(tmp / "new", strNew));
    ASSERT_EQ(DeltaError::None, MakeDeltaPatch(tmp / "old", tmp / "new", tmp / "good"));
    const std::string strPatch = ReadFileBytes(tmp / "good");
    std::string strDamaged = strPatch;
    for (size_t i = 56; i < strDamaged.size(); i += 97) strDamaged[i] = static_cast<char>(strDamaged[i] ^ 0x5A);
    std::string strBadMagic = strPatch, strVersion1 = strPatch, strMethod2 = strPatch;
    strBadMagic[0] = 'X';
    strVersion1[8] = 1;
    strMethod2[12] = 2;
    // Ten bytes of old, ten of new: one entry adding all of them.
    using namespace std::string_literals;   // the streams hold zero bytes
    const std::string strOld10(10, 'a'), strAddAll = "\x0a\x00\x00"s;
    const std::string gapPastEnd[] = {strAddAll, "\x0a", "\x01", ""};
    const std::string zeroValue[] = {strAddAll, "\x03", std::string(1, '\0'), ""};
    const std::string addPastOld[] = {"\x05\x00\x02\x05\x00\x00"s, "", "", ""};
    const std::string extraMissing[] = {"\x05\x05\x00"s, "", "", "abc"};
    struct Row {
        const char* pszName;
        std::string strPatch, strOld;
        unsigned long long cbMax;
        DeltaError eExpected;
    };
    const std::vector<Row> rows = {
        {"damaged, right size", strDamaged, strOld, strNew.size(), DeltaError::Damaged},
        {"truncated", strPatch.substr(0, strPatch.size() - 10), strOld, strNew.size(), DeltaError::Truncated},
        {"header only", strPatch.substr(0, 30), strOld, strNew.size(), DeltaError::Truncated},
        {"longer than the bound", strPatch, strOld, strNew.size() - 1, DeltaError::TooLarge},
        {"not a patch", strBadMagic, strOld, strNew.size(), DeltaError::NotAPatch},
        {"another base", strPatch, strOld + "x", strNew.size(), DeltaError::WrongBase},
        {"format version 1", strVersion1, strOld, strNew.size(), DeltaError::UnsupportedVersion},
        {"unknown method", strMethod2, strOld, strNew.size(), DeltaError::UnsupportedVersion},
        {"a gap past the differences", CraftedPatch(10, 10, gapPastEnd), strOld10, 10, DeltaError::Damaged},
        {"a zero difference stored", CraftedPatch(10, 10, zeroValue), strOld10, 10, DeltaError::Damaged},
        {"adding past the old file", CraftedPatch(10, 10, addPastOld), strOld10, 10, DeltaError::Damaged},
        {"extra stream too short", CraftedPatch(10, 10, extraMissing), strOld10, 10, DeltaError::Damaged},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.pszName);
        ASSERT_TRUE(WriteFileBytes(tmp / "bad", row.strPatch));
        ASSERT_TRUE(WriteFileBytes(tmp / "base", row.strOld));
        EXPECT_EQ(row.eExpected, ApplyDeltaPatch(tmp / "base", tmp / "bad", tmp / "out", row.cbMax));
        EXPECT_FALSE(FileExists(tmp / "out"));
    }
}

TEST(DeltaPatch, ToolAppliesAsTheLibraryAndItsCopiesDecompressWithinTheirBound) {
    TempDir tmp;
    const std::string strOld = Executable(1 << 19, 0, 0), strNew = Executable(1 << 19, 0x1000, 200000);
    ASSERT_TRUE(WriteFileBytes(tmp / "old", strOld));
    ASSERT_TRUE(WriteFileBytes(tmp / "new", strNew));
    ASSERT_EQ(0u, RunToolArgs(tmp, {"patch", "make", tmp / "old", tmp / "new", tmp / "patch"}).dwExit);
    ASSERT_EQ(0u, RunToolArgs(tmp, {"patch", "apply", tmp / "old", tmp / "patch", tmp / "by-tool"}).dwExit);
    ASSERT_EQ(DeltaError::None, ApplyDeltaPatch(tmp / "old", tmp / "patch", tmp / "in-process", strNew.size()));
    EXPECT_TRUE(ReadFileBytes(tmp / "by-tool") == ReadFileBytes(tmp / "in-process"));
    EXPECT_TRUE(ReadFileBytes(tmp / "by-tool") == strNew);
    EXPECT_EQ(1u, RunToolArgs(tmp, {"patch", "apply", tmp / "new", tmp / "patch", tmp / "wrong"}).dwExit);
    EXPECT_FALSE(FileExists(tmp / "wrong"));

    ASSERT_EQ(0u, RunToolArgs(tmp, {"compress", tmp / "new", tmp / "new.zst"}).dwExit);
    EXPECT_LT(ReadFileBytes(tmp / "new.zst").size(), strNew.size());
    EXPECT_EQ(DeltaError::None, ZstdDecompressFile(tmp / "new.zst", tmp / "back", strNew.size()));
    EXPECT_TRUE(ReadFileBytes(tmp / "back") == strNew);
    EXPECT_EQ(DeltaError::TooLarge, ZstdDecompressFile(tmp / "new.zst", tmp / "short", strNew.size() - 1));
    EXPECT_FALSE(FileExists(tmp / "short"));
}
