#include <gtest/gtest.h>
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "install/FileInstaller.h"
#include "install/InstallJournal.h"
#include "install/Placement.h"
#include "install/UpdateLog.h"
#include "install/StagedFileCheck.h"
#include "platform/base/Win32Handles.h"
#include "platform/ini/CryptConfigFile.h"
#include "support/DirectoryLinks.h"
#include "support/Installation.h"
#include "support/TempDir.h"

namespace {

const char kAbcDigest[] = "900150983cd24fb0d6963f7d28e17f72";   // MD5 of "abc"

// Opens a file the way a running program's image is held.
UniqueFile Hold(const std::string& strPath, DWORD dwShare) {
    return UniqueFile(CreateFileA(strPath.c_str(), GENERIC_READ, dwShare, nullptr, OPEN_EXISTING, 0, nullptr));
}

TEST(InstallFile, ReplacesOrCreatesTheTargetAndLeavesNoTemporaryFile) {
    TempDir dir;
    ASSERT_TRUE(WriteFileBytes(dir / "stage\\a.dll", "new a"));
    ASSERT_TRUE(WriteFileBytes(dir / "app\\a.dll", "old a"));
    ASSERT_TRUE(WriteFileBytes(dir / "stage\\诚\\診.dat", "new sub"));

    EXPECT_TRUE(InstallFile(dir / "stage\\a.dll", dir / "app\\a.dll"));
    EXPECT_EQ("new a", ReadFileBytes(dir / "app\\a.dll"));
    // The missing subdirectories are made, GBK trail bytes 0x5C included.
    EXPECT_TRUE(InstallFile(dir / "stage\\诚\\診.dat", dir / "app\\诚\\診.dat"));
    EXPECT_EQ("new sub", ReadFileBytes(dir / "app\\诚\\診.dat"));

    EXPECT_EQ(std::vector<std::string>({"a.dll", "诚\\診.dat"}), ListTree(dir / "app\\"));
    EXPECT_EQ("new a", ReadFileBytes(dir / "stage\\a.dll")) << "the source is copied, not moved";
}

TEST(InstallFile, AMissingSourceOrADirectoryTargetLeavesTheInstallationAlone) {
    TempDir dir;
    ASSERT_TRUE(WriteFileBytes(dir / "app\\a.dll", "old a"));
    ASSERT_TRUE(WriteFileBytes(dir / "app\\bin\\b.dll", "b"));
    ASSERT_TRUE(WriteFileBytes(dir / "stage\\bin", "a file named like the directory"));
    EXPECT_FALSE(InstallFile(dir / "stage\\a.dll", dir / "app\\a.dll"));
    EXPECT_FALSE(InstallFile(dir / "stage\\bin", dir / "app\\bin"));
    EXPECT_EQ("old a", ReadFileBytes(dir / "app\\a.dll"));
    EXPECT_EQ(std::vector<std::string>({"a.dll", "bin\\b.dll"}), ListTree(dir / "app\\"));
}

TEST(InstallFile, ATargetInUseIsMovedAsideToBak) {
    TempDir dir;
    ASSERT_TRUE(WriteFileBytes(dir / "new.exe", "new client"));
    ASSERT_TRUE(WriteFileBytes(dir / "app\\client.exe", "old client"));
    UniqueFile hHeld = Hold(dir / "app\\client.exe", FILE_SHARE_READ | FILE_SHARE_DELETE);
    ASSERT_TRUE(hHeld);

    EXPECT_TRUE(InstallFile(dir / "new.exe", dir / "app\\client.exe"));
    EXPECT_EQ("new client", ReadFileBytes(dir / "app\\client.exe"));
    EXPECT_EQ("old client", ReadFileBytes(dir / "app\\client.exe.bak"));
    EXPECT_EQ(std::vector<std::string>({"client.exe", "client.exe.bak"}), ListTree(dir / "app\\"));
}

TEST(InstallFile, AStaleBakThatCannotGoKeepsALockedTargetOld) {
    TempDir dir;
    ASSERT_TRUE(WriteFileBytes(dir / "new.exe", "new client"));
    ASSERT_TRUE(WriteFileBytes(dir / "app\\client.exe", "old client"));
    ASSERT_TRUE(WriteFileBytes(dir / "app\\client.exe.bak", "older client"));
    UniqueFile hHeld = Hold(dir / "app\\client.exe", FILE_SHARE_READ | FILE_SHARE_DELETE);
    UniqueFile hStale = Hold(dir / "app\\client.exe.bak", FILE_SHARE_READ);
    ASSERT_TRUE(hHeld);
    ASSERT_TRUE(hStale);

    EXPECT_FALSE(InstallFile(dir / "new.exe", dir / "app\\client.exe"));
    EXPECT_EQ("old client", ReadFileBytes(dir / "app\\client.exe"));
    EXPECT_EQ("older client", ReadFileBytes(dir / "app\\client.exe.bak"));
    EXPECT_EQ(std::vector<std::string>({"client.exe", "client.exe.bak"}), ListTree(dir / "app\\"));
}

std::string CharUpperCopy(std::string str) {
    for (char& c : str) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return str;
}

std::string ConfigValue(const std::string& strApp, const char* pszSection, const char* pszKey) {
    CCryptConfigFile config(strApp + "Config.dat", "");
    std::string strValue;
    config.ReadString(pszSection, pszKey, "", strValue);
    return strValue;
}

// A run killed while putting files in place leaves its journal; the next run's
// start acts on it, and on nothing but this installation's files as the run put them.
TEST(InstallJournal, TheNextRunUndoesOrFinishesWhatAKilledRunLeft) {
    enum { Install, Commit, Torn, Other, DotDot, Junction, KeptOutside, FutureSigned, LaterContents, Held, Format1, Spelling, Deep };
    const struct {
        const char* pszName;
        int nCase;
        ERecovery eExpected;
        const char* pszA;   // app\a.dll afterwards
        bool bNewFileStays;
        bool bJournalStays;
    } cases[] = {
        {"not committed: the old files come back", Install, ERecovery::RolledBack, "old a", false, false},
        {"committed: the traces are written", Commit, ERecovery::Finished, "new a", true, false},
        {"damaged: nothing is done", Torn, ERecovery::Damaged, "new a", true, false},
        {"another installation's: nothing is done", Other, ERecovery::RolledBack, "new a", true, false},
        {"a target with ..", DotDot, ERecovery::RolledBack, "new a", true, false},
        {"a target through a link made inside UPDATE", Junction, ERecovery::RolledBack, "new a", true, false},
        {"a kept copy outside the installation", KeptOutside, ERecovery::RolledBack, "new a", false, false},
        {"committed with Signed=9999-12-31T23:59:59Z", FutureSigned, ERecovery::Finished, "new a", true, false},
        {"a target that holds other contents since", LaterContents, ERecovery::RolledBack, "later a", false, false},
        {"held without sharing: it stays for the next run", Held, ERecovery::Unreadable, "new a", true, true},
        {"format 1: put back, never a deletion", Format1, ERecovery::RolledBack, "old a", true, false},
        {"the installation spelt \\\\?\\ and in capitals", Spelling, ERecovery::RolledBack, "old a", false, false},
        {"an installation about 250 characters deep", Deep, ERecovery::RolledBack, "old a", false, false},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const std::string strApp = dir / (c.nCase == Deep ? std::string(250 - dir.Path().size(), 'd') + "\\" : "app\\");
        const std::string strOther = dir / "other\\";
        ASSERT_TRUE(WriteFileBytes(strApp + "a.dll", "old a"));
        ASSERT_TRUE(WriteFileBytes(strApp + "UPDATE\\Program\\a.dll", "new a"));
        ASSERT_TRUE(WriteFileBytes(strApp + "UPDATE\\Program\\n.dll", "new n"));
        ASSERT_TRUE(WriteFileBytes(strOther + "a.dll", "other a"));
        ASSERT_TRUE(WriteFileBytes(strOther + "n.dll", "new n"));
        // What an attacker who can write UPDATE\ plants: an old copy and a "new file" marker outside.
        ASSERT_TRUE(WriteFileBytes(strOther + "a.dll.~7.old.bak", "planted"));
        ASSERT_TRUE(WriteFileBytes(strOther + "n.dll.~7.none.bak", ""));
        DirectoryLinks links;
        if (c.nCase == Junction && links.Create(strApp + "UPDATE\\j", dir / "other").empty()) {
            std::printf("[ skipped ] %s: no directory link can be made here\n", c.pszName);
            continue;
        }
        const char* const kNames[] = {"a.dll", "n.dll"};
        std::vector<S_JournalFile> vecFiles;
        for (const char* pszName : kNames) {
            S_JournalFile file;
            file.strTarget = strApp + pszName;
            file.bExisted = FileExists(file.strTarget);
            file.strRollback = KeptCopyName(file.strTarget, 7, file.bExisted);
            file.bKnownContents = true;
            file.nNewSize = 5;
            file.strNewSha256 = Sha256Hex(ReadFileBytes(strApp + "UPDATE\\Program\\" + pszName));
            ASSERT_TRUE(PlaceFile(strApp + "UPDATE\\Program\\" + pszName, file.strTarget, file.strRollback).bOk) << c.pszName;
            vecFiles.push_back(file);
        }
        const std::string strBase = c.nCase == Other ? strOther : c.nCase == DotDot ? strApp + "..\\other\\"
                                  : c.nCase == Junction ? strApp + "UPDATE\\j\\"
                                  : c.nCase == Spelling ? "\\\\?\\" + CharUpperCopy(strApp) : strApp;
        for (S_JournalFile& file : vecFiles) {
            const std::string strName = file.strTarget.substr(strApp.size());
            file.strTarget = strBase + strName;
            file.strRollback = c.nCase == KeptOutside && file.bExisted ? strOther + "a.dll.~7.old.bak"
                                                                       : KeptCopyName(file.strTarget, 7, file.bExisted);
        }
        CInstallJournal journal(strApp);
        ASSERT_TRUE(journal.Begin(vecFiles)) << c.pszName;
        S_InstallTraces traces;
        traces.strAppPath = strOther;   // never taken: the run knows its own installation
        traces.bWriteConfigVersion = true;
        traces.strNewVersion = "4.0.1008.0101";
        traces.strSignatureRecord = "Program";
        traces.strSigned = c.nCase == FutureSigned ? "9999-12-31T23:59:59Z" : "2026-12-01T00:00:00Z";
        if (c.nCase == Commit || c.nCase == FutureSigned) ASSERT_TRUE(journal.Commit(traces));
        if (c.nCase == Torn) ASSERT_TRUE(WriteFileBytes(InstallJournalPath(strApp), "QOVA-INSTALL-JOURNAL 2\nstate=ins"));
        if (c.nCase == LaterContents) ASSERT_TRUE(WriteFileBytes(strApp + "a.dll", "later a"));
        if (c.nCase == Format1) {
            ASSERT_TRUE(WriteFileBytes(InstallJournalPath(strApp), "QOVA-INSTALL-JOURNAL 1\nstate=install\nfile=" + strApp +
                                                                       "a.dll|" + strApp + "a.dll.~7.old.bak|1\nfile=" + strApp +
                                                                       "n.dll|" + strApp + "n.dll.~7.old.bak|0\nend\n"));
        }
        UniqueFile hHeld = c.nCase == Held ? Hold(InstallJournalPath(strApp), 0) : UniqueFile();
        // The process ends here, killed.

        EXPECT_EQ(c.eExpected, RecoverInterruptedInstall(strApp).eRecovery) << c.pszName;
        hHeld.reset();
        EXPECT_EQ(c.pszA, ReadFileBytes(strApp + "a.dll")) << c.pszName;
        EXPECT_EQ(c.bNewFileStays, FileExists(strApp + "n.dll")) << c.pszName;
        EXPECT_EQ(c.bJournalStays, FileExists(InstallJournalPath(strApp))) << c.pszName;
        EXPECT_EQ(c.nCase == Commit || c.nCase == FutureSigned ? "4.0.1008.0101" : "", ConfigValue(strApp, "Update", "Version"))
            << c.pszName;
        EXPECT_EQ(c.nCase == Commit ? "2026-12-01T00:00:00Z" : "", ConfigValue(strApp, "Signature", "Program")) << c.pszName;
        // The kept copy is dropped once acted on; one the journal could not speak for waits for the "*.bak" clean-up.
        const bool bKeptStays = c.eExpected == ERecovery::Damaged || c.eExpected == ERecovery::Unreadable ||
                                (c.eExpected == ERecovery::RolledBack && std::string(c.pszA) == "new a");
        EXPECT_EQ(bKeptStays, FileExists(strApp + "a.dll.~7.old.bak")) << c.pszName << ": the kept copy";
        // Nothing outside the installation or in UPDATE\ was touched.
        EXPECT_EQ("other a", ReadFileBytes(strOther + "a.dll")) << c.pszName;
        EXPECT_EQ("planted", ReadFileBytes(strOther + "a.dll.~7.old.bak")) << c.pszName;
        EXPECT_TRUE(FileExists(strOther + "n.dll")) << c.pszName;
        EXPECT_TRUE(FileExists(strOther + "n.dll.~7.none.bak")) << c.pszName;
        EXPECT_FALSE(FileExists(strOther + "Config.dat")) << c.pszName;
    }
}

// A commit that cannot be written (the journal held) followed by a journal
// that cannot be deleted: the next run must not take the complete release away.
TEST(InstallJournal, AFailedCommitLeavesNothingToTakeTheReleaseAway) {
    TempDir dir;
    const std::string strApp = dir / "app\\";
    ASSERT_TRUE(WriteFileBytes(strApp + "a.dll", "old a"));
    ASSERT_TRUE(WriteFileBytes(strApp + "UPDATE\\Program\\a.dll", "new a"));
    ASSERT_TRUE(WriteFileBytes(strApp + "UPDATE\\Program\\n.dll", "new n"));
    S_Placement placement;
    placement.strSourceDir = strApp + "UPDATE\\Program\\";
    placement.strTargetDir = strApp;
    placement.vecNames = {"n.dll", "a.dll"};
    placement.traces.strAppPath = strApp;
    // a.dll is held until the journal is, so the commit comes while the journal is held.
    UniqueFile hTarget = Hold(strApp + "a.dll", FILE_SHARE_READ);
    ASSERT_TRUE(hTarget);
    UniqueFile hJournal;
    std::thread holder([&] {
        for (int i = 0; i < 200 && !hJournal; ++i, Sleep(10)) hJournal = Hold(InstallJournalPath(strApp), FILE_SHARE_READ);
        hTarget.reset();
    });
    const S_PlacementResult placed = PlaceAllOrNothing(placement, CUpdateLog(strApp));
    holder.join();
    ASSERT_TRUE(hJournal) << "the journal was never held";
    hJournal.reset();
    EXPECT_TRUE(placed.bPlaced);
    ASSERT_TRUE(FileExists(InstallJournalPath(strApp))) << "still the uncommitted journal";

    const S_RecoveryResult recovery = RecoverInterruptedInstall(strApp);
    EXPECT_EQ(ERecovery::RolledBack, recovery.eRecovery);
    EXPECT_EQ(0u, recovery.nFiles);
    EXPECT_EQ("new a", ReadFileBytes(strApp + "a.dll"));
    EXPECT_EQ("new n", ReadFileBytes(strApp + "n.dll"));
}

TEST(StagedFileCheck, InstallGateAndReuseRule) {
    TempDir dir;
    ASSERT_TRUE(WriteFileBytes(dir / "abc", "abc"));
    const std::string strUpper = "900150983CD24FB0D6963F7D28E17F72";

    struct Case {
        const char* pszName;
        std::string strFile;
        std::string strSize;
        std::string strMD5;
        bool bIntact;
        bool bReusable;
    } cases[] = {
        {"digest and size match", "abc", "3", kAbcDigest, true, true},
        {"no size given", "abc", "", kAbcDigest, true, true},
        {"digest in upper case: installable, not reusable", "abc", "3", strUpper, true, false},
        {"another digest", "abc", "3", "00000000000000000000000000000000", false, false},
        {"digest one digit short", "abc", "3", std::string(kAbcDigest).substr(1), false, false},
        {"wrong size", "abc", "4", kAbcDigest, false, true},
        {"size with a sign", "abc", "+3", kAbcDigest, false, true},
        {"size not a number", "abc", "three", kAbcDigest, false, true},
        {"size too large for any file", "abc", "99999999999999999999999", kAbcDigest, false, true},
        {"empty digest cannot be checked", "abc", "3", "", true, false},
        {"empty digest, wrong size", "abc", "2", "", false, false},
        {"no staged file", "missing", "3", kAbcDigest, false, false},
        {"a directory", "", "", "", false, false},
    };
    for (const Case& c : cases) {
        S_UpdateFileInfo info;
        info.strFileName = c.strFile;
        info.strSize = c.strSize;
        info.strMD5 = c.strMD5;
        CStagedFileCheck check;
        EXPECT_EQ(c.bReusable, check.IsReusable(dir / c.strFile, info)) << c.pszName;
        EXPECT_EQ(c.bIntact, check.IsIntact(dir / c.strFile, info)) << c.pszName;
    }
}

// A signed release: SHA-256 (either letter case) and SIZE decide, for reuse
// and installation alike; the manifest's MD5 plays no part.
TEST(StagedFileCheck, SignedReleasesAreJudgedBySha256) {
    TempDir dir;
    ASSERT_TRUE(WriteFileBytes(dir / "abc", "abc"));
    const std::string strSha = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    std::string strShaUpper = strSha;
    for (char& c : strShaUpper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    const struct {
        const char* pszName;
        std::string strSize;
        std::string strMD5;
        std::string strSHA256;
        bool bPasses;   // reusable and installable
    } cases[] = {
        {"SHA-256 and size match", "3", "", strSha, true},
        {"SHA-256 in upper case", "3", "", strShaUpper, true},
        {"MD5 matches, SHA-256 does not", "3", kAbcDigest, std::string(64, '0'), false},
        {"no SHA-256", "3", kAbcDigest, "", false},
        {"wrong size", "4", "", strSha, false},
    };
    for (const auto& c : cases) {
        S_UpdateFileInfo info;
        info.strSize = c.strSize;
        info.strMD5 = c.strMD5;
        info.strSHA256 = c.strSHA256;
        CStagedFileCheck check(EStagedDigest::Sha256);
        EXPECT_EQ(c.bPasses, check.IsReusable(dir / "abc", info)) << c.pszName;
        EXPECT_EQ(c.bPasses, check.IsIntact(dir / "abc", info)) << c.pszName;
    }
}

TEST(StagedFileCheck, OneObjectChecksManyFiles) {
    TempDir dir;
    ASSERT_TRUE(WriteFileBytes(dir / "a", "abc"));
    ASSERT_TRUE(WriteFileBytes(dir / "b", "abd"));
    S_UpdateFileInfo info;
    info.strSize = "3";
    info.strMD5 = kAbcDigest;
    CStagedFileCheck check;
    EXPECT_TRUE(check.IsReusable(dir / "a", info));
    EXPECT_FALSE(check.IsReusable(dir / "b", info));
    EXPECT_TRUE(check.IsIntact(dir / "a", info));
    EXPECT_FALSE(check.IsIntact(dir / "b", info)) << "a reused file's digest is not taken for another";
    // Swapped after it was found reusable (the dialog's offer stands for minutes): hashed again.
    ASSERT_TRUE(WriteFileBytes(dir / "a", "abd"));
    EXPECT_FALSE(check.IsIntact(dir / "a", info));
}

}  // namespace
