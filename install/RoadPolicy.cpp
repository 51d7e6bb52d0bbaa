#include "install/RoadPolicy.h"

#include "install/UpdatePaths.h"
#include "manifest/VersionOrder.h"

S_RoadPolicy PolicyFor(ERoad eRoad, int nUpdateType) {
    S_RoadPolicy policy;
    policy.eRoad = eRoad;
    switch (eRoad) {
    case ERoad::SilentProgram:
        policy.strManifestName = kProgramManifestName;
        policy.eVersionRule = EVersionRule::Manifest;
        policy.bRegistry = true;
        policy.strRecordPattern = "%Y-%m-%d";
        break;
    case ERoad::SilentData:
        policy.eLayout = EManifestLayout::Data;
        policy.strManifestName = kDataManifestName;
        policy.eManifestCopy = EManifestCopy::IntoTarget;
        break;
    case ERoad::Dialog:
        // The dialog reads the program manifest's form for every kind.
        policy.strManifestName = kProgramManifestName;
        policy.eVersionRule = IsProgramUpdate(nUpdateType) ? EVersionRule::OnlyGreater : EVersionRule::None;
        policy.bRegistry = IsProgramUpdate(nUpdateType);
        policy.eManifestCopy = IsProgramUpdate(nUpdateType) ? EManifestCopy::None : EManifestCopy::IntoAppDir;
        policy.strRecordPattern = "%Y-%m-%d %H:%M:%S";
        policy.bCloseClientFirst = true;
        break;
    }
    return policy;
}

namespace {

// What the dialog shows once its run ended so.
EDialogState DialogStateFor(ERunResult eResult) {
    switch (eResult) {
    case ERunResult::Offered: return EDialogState::Offer;
    case ERunResult::UpToDate:
    case ERunResult::HeldBack: return EDialogState::UpToDate;   // the dialog is never held back
    case ERunResult::Installed:
    case ERunResult::Cancelled: return EDialogState::Closed;
    case ERunResult::ManifestUnavailable:
    case ERunResult::FetchFailed: return EDialogState::ConnectionFailed;
    case ERunResult::InstallFailed:
    case ERunResult::LocalFailure:
    case ERunResult::RecoverStuck:
    case ERunResult::UnsafeName:
    case ERunResult::ManifestRefused:
    case ERunResult::TrustBroken:
    case ERunResult::Damaged:
    case ERunResult::Unreadable: return EDialogState::UpdateError;
    }
    return EDialogState::UpdateError;
}

}  // namespace

S_EndActions EndActionsFor(ERoad eRoad, ERunResult eResult) {
    S_EndActions actions;
    actions.eDialogState = DialogStateFor(eResult);
    const bool bDialog = eRoad == ERoad::Dialog;
    switch (eResult) {
    case ERunResult::Installed:
    case ERunResult::InstallFailed:
        // The client was asked to close (dialog) or may have been: it runs again either way.
        actions.bRestartClient = eRoad != ERoad::SilentData;
        actions.dwRestartDelayMs = bDialog ? 0 : 5000;
        actions.bDeleteStaging = true;
        break;
    case ERunResult::UpToDate:     // the dialog's check leaves the fetched manifest staged
    case ERunResult::HeldBack:
    case ERunResult::FetchFailed:  // the dialog's next opening continues what arrived; a silent run starts afresh
    case ERunResult::LocalFailure:
    case ERunResult::Damaged:
        actions.bDeleteStaging = !bDialog;
        break;
    case ERunResult::Offered:
    case ERunResult::UnsafeName:
    case ERunResult::ManifestRefused:   // kept as the fetch left it: a refused manifest is already deleted
    case ERunResult::TrustBroken:
    case ERunResult::ManifestUnavailable:
    case ERunResult::Unreadable:        // kept: the file may well be intact once whatever holds it lets go
    case ERunResult::RecoverStuck:      // the installation is a mix until a later run undoes it: no client, no clean-up
    case ERunResult::Cancelled:
        break;
    }
    return actions;
}

ESilentExit SilentExitFor(ERunResult eResult) {
    switch (eResult) {
    case ERunResult::Installed:
    case ERunResult::UpToDate:
    case ERunResult::HeldBack:   // nothing this installation may install yet
    case ERunResult::Offered: return ESilentExit::Done;   // the dialog's check; a silent run never ends on it
    case ERunResult::ManifestUnavailable: return ESilentExit::NoServer;
    case ERunResult::ManifestRefused:
    case ERunResult::TrustBroken: return ESilentExit::ManifestRefused;
    case ERunResult::FetchFailed:
    case ERunResult::Damaged: return ESilentExit::FetchFailed;
    case ERunResult::LocalFailure:
    case ERunResult::Unreadable: return ESilentExit::LocalFailure;
    case ERunResult::InstallFailed:
    case ERunResult::RecoverStuck: return ESilentExit::InstallFailed;
    case ERunResult::UnsafeName: return ESilentExit::UnsafeName;
    case ERunResult::Cancelled: return ESilentExit::Cancelled;
    }
    return ESilentExit::InstallFailed;
}

const char* SilentExitMeaning(ESilentExit eExit) {
    switch (eExit) {
    case ESilentExit::Done: return "installed, or nothing to do";
    case ESilentExit::NoServer: return "no server delivered the manifest";
    case ESilentExit::ManifestRefused: return "the manifest was refused, or this installation's key is damaged";
    case ESilentExit::FetchFailed: return "a file was not delivered, or not intact";
    case ESilentExit::LocalFailure: return "this machine could not fetch, store or read a file";
    case ESilentExit::InstallFailed: return "the files could not be put in place, or an earlier run not undone";
    case ESilentExit::Busy: return "another run holds this installation";
    case ESilentExit::UnsafeName: return "the -d: name would leave the installation";
    case ESilentExit::Cancelled: return "cancelled";
    }
    return "?";
}

bool ShouldNotify(const S_ManifestHead& head, const std::string& strVersion, const std::string& strRegion) {
    const bool bRegionChanged = head.strRegion != strRegion;
    const bool bNewer = IsVersionGreater(head.strVersion, strVersion);
    return bRegionChanged || (bNewer && head.nNotify != 0);
}

const char* RunResultText(ERunResult eResult) {
    switch (eResult) {
    case ERunResult::Offered: return "offered";
    case ERunResult::UpToDate: return "up-to-date";
    case ERunResult::HeldBack: return "held-back";
    case ERunResult::Installed: return "installed";
    case ERunResult::UnsafeName: return "unsafe-name";
    case ERunResult::ManifestUnavailable: return "manifest-unavailable";
    case ERunResult::ManifestRefused: return "manifest-refused";
    case ERunResult::TrustBroken: return "trust-broken";
    case ERunResult::FetchFailed: return "fetch-failed";
    case ERunResult::LocalFailure: return "local-failure";
    case ERunResult::Damaged: return "damaged";
    case ERunResult::Unreadable: return "unreadable";
    case ERunResult::InstallFailed: return "install-failed";
    case ERunResult::RecoverStuck: return "recover-stuck";
    case ERunResult::Cancelled: return "cancelled";
    }
    return "?";
}

const char* RunStageText(ERunStage eStage) {
    switch (eStage) {
    case ERunStage::Start: return "start";
    case ERunStage::Manifest: return "manifest";
    case ERunStage::Compare: return "compare";
    case ERunStage::Fetch: return "fetch";
    case ERunStage::Check: return "check";
    case ERunStage::Install: return "install";
    case ERunStage::End: return "end";
    }
    return "?";
}

const char* RoadText(ERoad eRoad) {
    switch (eRoad) {
    case ERoad::SilentProgram: return "silent-program";
    case ERoad::SilentData: return "silent-data";
    case ERoad::Dialog: return "dialog";
    }
    return "?";
}

