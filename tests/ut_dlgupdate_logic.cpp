// The update dialog's download bookkeeping: which changed files are fetched
// again, and how each download report is read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "download/UpdateNotify.h"
#include "install/StagedFileCheck.h"
#include "install/UpdateRun.h"
#include "platform/fs/MD5.h"
#include "support/TempDir.h"
#include "ui/DownloadPlan.h"

namespace {

std::string DigestOf(const std::string& strPath) {
    CMD5 md5;
    std::string strDigest;
    md5.GetFileMD5(strPath.c_str(), strDigest);
    return strDigest;
}

std::string Upper(std::string str) {
    for (char& c : str)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return str;
}

TEST(ListFilesToDownload, KeepsOnlyStagedCopiesWithTheManifestsExactDigest) {
    TempDir dir;
    const std::string strStaging = dir / "UPDATE\\Program\\";
    ASSERT_TRUE(WriteFileBytes(strStaging + "good.dll", "good bytes"));
    ASSERT_TRUE(WriteFileBytes(strStaging + "bin\\case.dll", "case bytes"));
    ASSERT_TRUE(WriteFileBytes(strStaging + "stale.dll", "old bytes"));
    const std::string strGood = DigestOf(strStaging + "good.dll");
    const std::string strCase = Upper(DigestOf(strStaging + "bin\\case.dll"));
    ASSERT_EQ(strGood.size(), 32u);

    const std::vector<S_UpdateFileInfo> vecFiles = {
        {"good.dll", "", "10", strGood},                                   // staged and right: reused
        {"bin\\case.dll", "", "12a", strCase},                             // digest differs in case only
        {"stale.dll", "", "abc", "0123456789abcdef0123456789abcdef"},      // staged, other digest
        {"missing.dll", "", " 77", "0123456789abcdef0123456789abcdef"},    // not staged
    };
    CStagedFileCheck check;
    std::vector<std::string> vecDown = {"left over"};
    std::vector<unsigned long long> vecSizes = {99};
    ListFilesToDownload(SelectFilesToFetch(check, strStaging, vecFiles), vecDown, vecSizes);
    EXPECT_EQ(vecDown, (std::vector<std::string>{"bin\\case.dll", "stale.dll", "missing.dll"}));
    // Only digits are a size: the transport then refuses a body of another length.
    EXPECT_EQ(vecSizes, (std::vector<unsigned long long>{kUnknownSize, kUnknownSize, kUnknownSize}));
}

TEST(ListFilesToDownload, EverythingStagedLeavesNothingToFetch) {
    TempDir dir;
    const std::string strStaging = dir / "UPDATE\\Maps\\";
    ASSERT_TRUE(WriteFileBytes(strStaging + "a.map", "map a"));
    ASSERT_TRUE(WriteFileBytes(strStaging + "sub\\b.map", "map b"));
    const std::vector<S_UpdateFileInfo> vecFiles = {
        {"a.map", "", "5", DigestOf(strStaging + "a.map")},
        {"sub\\b.map", "", "5", DigestOf(strStaging + "sub\\b.map")},
    };
    CStagedFileCheck check;
    std::vector<std::string> vecDown;
    std::vector<unsigned long long> vecSizes;
    ListFilesToDownload(SelectFilesToFetch(check, strStaging, vecFiles), vecDown, vecSizes);
    EXPECT_TRUE(vecDown.empty());
    EXPECT_TRUE(vecSizes.empty());
}

// The body's length is the transport's bound (a way's listed size): the dialog reads only the marks.
TEST(ClassifyUpdateReport, ReadsTheMarksAndTakesEverythingElseAsProgress) {
    const LPARAM kAllBits = -1;
    const struct {
        const char* pszName;
        WPARAM wParam;
        LPARAM lParam;
        EUpdateReport expected;
    } cases[] = {
        {"progress of a way", 50, 100, EUpdateReport::Progress},
        {"a way complete", 100, 100, EUpdateReport::Progress},
        {"a file of no bytes complete", 0, 0, EUpdateReport::Progress},
        {"failure report", 0, kAllBits, EUpdateReport::Failed},
        {"failure marked in the low 32 bits only", 0, static_cast<LPARAM>(0xFFFFFFFFu), EUpdateReport::Failed},
        {"a file of 4 GiB - 1 is no failure", 0xFFFFFFFFu, 0xFFFFFFFFu, EUpdateReport::Progress},
        {"two files staged", 2, UPDATE_NOTIFY_STAGED, EUpdateReport::Staged},
        {"every file staged", 0, UPDATE_NOTIFY_DONE, EUpdateReport::Done},
    };
    for (const auto& c : cases) EXPECT_EQ(ClassifyUpdateReport(c.wParam, c.lParam), c.expected) << c.pszName;
}

// What each road does with each way a run can end; the dialog's face comes from the same table.
TEST(EndActionsFor, EachRoadActsOnTheOutcomeItself) {
    const EDialogState kOffer = EDialogState::Offer, kUpToDate = EDialogState::UpToDate,
                       kNoConnection = EDialogState::ConnectionFailed, kError = EDialogState::UpdateError,
                       kClosed = EDialogState::Closed;
    const struct {
        ERunResult eResult;
        bool bRestartSilent, bRestartDialog;  // the silent data road never restarts
        bool bDeleteSilent, bDeleteDialog;
        EDialogState eDialog;
    } cases[] = {
        {ERunResult::Offered, false, false, false, false, kOffer},
        {ERunResult::UpToDate, false, false, true, false, kUpToDate},
        {ERunResult::HeldBack, false, false, true, false, kUpToDate},   // a silent road's alone
        {ERunResult::Installed, true, true, true, true, kClosed},
        {ERunResult::InstallFailed, true, true, true, true, kError},
        // What an earlier run left could not be undone: nothing but the log line.
        {ERunResult::RecoverStuck, false, false, false, false, kError},
        {ERunResult::UnsafeName, false, false, false, false, kError},
        {ERunResult::ManifestUnavailable, false, false, false, false, kNoConnection},
        {ERunResult::ManifestRefused, false, false, false, false, kError},
        {ERunResult::TrustBroken, false, false, false, false, kError},
        {ERunResult::FetchFailed, false, false, true, false, kNoConnection},
        {ERunResult::LocalFailure, false, false, true, false, kError},   // no thread, a full disk: not the server
        {ERunResult::Damaged, false, false, true, false, kError},
        {ERunResult::Cancelled, false, false, false, false, kClosed},
    };
    for (const auto& c : cases) {
        const S_EndActions program = EndActionsFor(ERoad::SilentProgram, c.eResult);
        const S_EndActions data = EndActionsFor(ERoad::SilentData, c.eResult);
        const S_EndActions dialog = EndActionsFor(ERoad::Dialog, c.eResult);
        const char* pszName = RunResultText(c.eResult);
        EXPECT_EQ(c.bRestartSilent, program.bRestartClient) << pszName;
        EXPECT_FALSE(data.bRestartClient) << pszName;
        EXPECT_EQ(c.bRestartDialog, dialog.bRestartClient) << pszName;
        if (program.bRestartClient) EXPECT_EQ(5000u, program.dwRestartDelayMs) << pszName;
        if (dialog.bRestartClient) EXPECT_EQ(0u, dialog.dwRestartDelayMs) << pszName;
        EXPECT_EQ(c.bDeleteSilent, program.bDeleteStaging) << pszName;
        EXPECT_EQ(c.bDeleteSilent, data.bDeleteStaging) << pszName;
        EXPECT_EQ(c.bDeleteDialog, dialog.bDeleteStaging) << pszName;
        EXPECT_EQ(c.eDialog, dialog.eDialogState) << pszName;
    }
    // The dialog's download thread that cannot start asked nothing of a server: an update error.
    TempDir dir;
    CUpdateRun run(S_RunSetup{1, nullptr, nullptr, "", "", dir.Path()}, PolicyFor(ERoad::Dialog, 1));
    run.FetchFailed(S_TransferFailure{ETransferFailure::LocalWrite});
    EXPECT_EQ(kError, run.Actions().eDialogState) << RunResultText(run.Outcome().eResult);
}

TEST(PolicyFor, EachRoadsVersionRuleAndTraces) {
    const S_RoadPolicy program = PolicyFor(ERoad::SilentProgram, 1);
    EXPECT_EQ(EVersionRule::Manifest, program.eVersionRule) << "a lower unconditional version is written too";
    EXPECT_TRUE(program.bRegistry);
    EXPECT_EQ("%Y-%m-%d", program.strRecordPattern);
    EXPECT_EQ("UpdateConfig.ini", program.strManifestName);
    EXPECT_FALSE(program.bCloseClientFirst) << "the notification asks first";

    const S_RoadPolicy data = PolicyFor(ERoad::SilentData, 3);
    EXPECT_EQ(EVersionRule::None, data.eVersionRule);
    EXPECT_FALSE(data.bRegistry);
    EXPECT_TRUE(data.strRecordPattern.empty());
    EXPECT_EQ(EManifestCopy::IntoTarget, data.eManifestCopy);
    EXPECT_EQ("config.ini", data.strManifestName);
    EXPECT_EQ(EManifestLayout::Data, data.eLayout);

    for (int nKind : {1, 2}) {
        const S_RoadPolicy dialog = PolicyFor(ERoad::Dialog, nKind);
        EXPECT_EQ(nKind == 1 ? EVersionRule::OnlyGreater : EVersionRule::None, dialog.eVersionRule) << nKind;
        EXPECT_EQ(nKind == 1, dialog.bRegistry) << nKind;
        EXPECT_EQ(nKind == 1 ? EManifestCopy::None : EManifestCopy::IntoAppDir, dialog.eManifestCopy) << nKind;
        EXPECT_EQ("%Y-%m-%d %H:%M:%S", dialog.strRecordPattern) << nKind;
        EXPECT_EQ("UpdateConfig.ini", dialog.strManifestName) << nKind;
        EXPECT_TRUE(dialog.bCloseClientFirst) << nKind;
    }
}

TEST(ShouldNotify, RegionChangeOrANewerVersionTheManifestAnnounces) {
    const struct {
        const char* pszVersion;
        const char* pszRegion;
        int nNotify;
        bool bNotify;
    } cases[] = {
        {"4.0.1008.0101", "CN", 1, true},
        {"4.0.1008.0101", "CN", 0, false},
        {"4.0.1007.0715", "TW", 0, true},
        {"4.0.1006.0101", "CN", 1, false},
        {"4.0.999.1", "CN", 1, true},   // plain text order: 9 after 1
    };
    for (const auto& c : cases) {
        S_ManifestHead head;
        head.strVersion = c.pszVersion;
        head.strRegion = c.pszRegion;
        head.nNotify = c.nNotify;
        EXPECT_EQ(c.bNotify, ShouldNotify(head, "4.0.1007.0715", "CN")) << c.pszVersion << " " << c.pszRegion;
    }
}

}  // namespace
