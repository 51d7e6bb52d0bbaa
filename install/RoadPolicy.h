#pragma once
// What differs between the roads of an update, as data: which manifest and
// comparison a road uses, which traces a complete installation leaves, and
// what the road does once its run has ended with a result.
#include <windows.h>

#include <string>

#include "manifest/ManifestName.h"
#include "manifest/ManifestSignature.h"

enum class ERoad {
    SilentProgram,   // Update.exe -silent
    SilentData,      // Update.exe -silent -t:<kind> -d:<name>
    Dialog,          // Update.exe [-t:<kind> -d:<name>]
};

// Which version Config.dat takes after a complete installation.
enum class EVersionRule {
    Manifest,      // the manifest's, also a lower one offered with UNCONDITIONALUPDATE
    OnlyGreater,   // the manifest's when greater in plain text order, else none
    None,          // none at all
};

// Where a data set's manifest goes once every file is in place.
enum class EManifestCopy {
    None,
    IntoTarget,    // the staged manifest into the data set's directory
    IntoAppDir,    // the staged "config.ini", when staged, into the application directory
};

struct S_RoadPolicy {
    ERoad eRoad = ERoad::SilentProgram;
    EManifestLayout eLayout = EManifestLayout::Program;   // which comparison
    std::string strManifestName;                         // "UpdateConfig.ini" or "config.ini"
    EVersionRule eVersionRule = EVersionRule::None;
    bool bRegistry = false;                              // InstallPath and Version under HKLM\SOFTWARE\QOVA
    std::string strRecordPattern;                        // UpdateRecord.dat section name; empty: no record
    EManifestCopy eManifestCopy = EManifestCopy::None;
    bool bCloseClientFirst = false;                      // WM_CLOSE to the client before the first file
};

S_RoadPolicy PolicyFor(ERoad eRoad, int nUpdateType);

enum class ERunStage { Start, Manifest, Compare, Fetch, Check, Install, End };

enum class ERunResult {
    Offered,               // files differ and may be installed (the check's result)
    UpToDate,              // the manifest was accepted and nothing differs
    HeldBack,              // files differ, but a silent run's staged rollout has not reached this installation (or is halted)
    Installed,             // every file is in place and the traces are written
    UnsafeName,            // the data-set name would leave the installation
    ManifestUnavailable,   // no server delivered the manifest
    ManifestRefused,       // its signature check failed (eSignature)
    TrustBroken,           // the installation's PublicKey cannot be read
    FetchFailed,           // a file that no server delivered
    LocalFailure,          // the fetch could not run or store its files here (no thread, a full disk): no server's doing
    Damaged,               // a staged file that is not the manifest's (strFile)
    Unreadable,            // a staged file that could not be read to be checked (strFile, dwError)
    InstallFailed,         // a file that could not be put in place (strFile, dwError): the old release is back
    RecoverStuck,          // what an earlier run left could not be undone or read (strFile, dwError): nothing else is touched
    Cancelled,             // the download was stopped (the dialog closed)
};

// Exit codes of Update.exe -silent, one per kind of end, so that a scheduler
// or a support script can tell a failed run from a good one. The dialog's
// road always exits 0. Documented in README.md and docs/support.md: keep
// the three in step, and never renumber a code once shipped.
enum class ESilentExit {
    Done = 0,                 // installed, or nothing to do (up-to-date)
    NoServer = 1,             // manifest-unavailable: no server delivered the manifest
    ManifestRefused = 2,      // manifest-refused, trust-broken: its signature or this installation's key
    FetchFailed = 3,          // fetch-failed, damaged: a file no server delivered intact
    LocalFailure = 4,         // local-failure, unreadable: this machine could not fetch, store or read
    InstallFailed = 5,        // install-failed, recover-stuck: the files could not be put in place
    Busy = 6,                 // another run holds this installation: nothing was done
    UnsafeName = 7,           // unsafe-name: the -d: name would leave the installation
    Cancelled = 8,            // cancelled
};

constexpr int kSilentExitCodes = 9;   // 0 .. Cancelled

// The code a silent run that ended with eResult exits with.
ESilentExit SilentExitFor(ERunResult eResult);
// What a code means, one short line in English, as the usage prints it.
const char* SilentExitMeaning(ESilentExit eExit);

// The manifest's own keys, read once after it is accepted.
struct S_ManifestHead {
    std::string strVersion;   // [Version] VERSION
    std::string strRegion;    // [Version] REGION
    int nNotify = 0;          // [Version] NOTIFIY
};

// What the dialog shows for a result.
enum class EDialogState { Offer, UpToDate, ConnectionFailed, UpdateError, Closed };

// What a road does once its run has ended with a result.
struct S_EndActions {
    bool bRestartClient = false;   // start QOVAClient.exe again
    DWORD dwRestartDelayMs = 0;
    bool bDeleteStaging = false;
    EDialogState eDialogState = EDialogState::UpToDate;   // the dialog's road only
};

S_EndActions EndActionsFor(ERoad eRoad, ERunResult eResult);

// The silent program update asks the user (and offers to close the client)
// when the region changed, or the version went up and the manifest asks for it.
bool ShouldNotify(const S_ManifestHead& head, const std::string& strVersion, const std::string& strRegion);

// Short names of results and stages, as the log writes them.
const char* RunResultText(ERunResult eResult);
const char* RunStageText(ERunStage eStage);

// The road's name as the log writes it.
const char* RoadText(ERoad eRoad);
