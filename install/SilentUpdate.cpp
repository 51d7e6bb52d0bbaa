#include "install/SilentUpdate.h"

#include "install/MainClient.h"
#include "platform/ini/CryptConfigFile.h"

namespace {

bool ManifestWasHad(ERunResult eResult) {
    return eResult != ERunResult::ManifestUnavailable && eResult != ERunResult::ManifestRefused &&
           eResult != ERunResult::TrustBroken && eResult != ERunResult::UnsafeName &&
           eResult != ERunResult::RecoverStuck;
}

}  // namespace

bool UpdateProgramSilently(const S_RunSetup& setup, const AskRestartNow& askRestartNow, ERunResult* peEnd) {
    CUpdateRun run(setup, PolicyFor(ERoad::SilentProgram, setup.nUpdateType));
    if (run.Check().eResult == ERunResult::Offered && run.Fetch() && run.Install()) {
        // Only a version that is really there is announced.
        if (ShouldNotify(run.Head(), setup.strVersion, setup.strRegion)) {
            CCryptConfigFile clientConfig(setup.strAppPath + "Config.dat", "");
            std::string strWebSiteURL;
            clientConfig.ReadString("Server", "WebSiteURL", "", strWebSiteURL);
            if (askRestartNow(setup.strVersion, run.Head().strVersion, strWebSiteURL)) CloseMainClient();
        }
    }
    const S_EndActions actions = run.Actions();
    if (actions.bRestartClient) StartMainClient(setup.strAppPath, actions.dwRestartDelayMs, &run.Log());
    run.End();
    if (peEnd) *peEnd = run.Outcome().eResult;
    return ManifestWasHad(run.Outcome().eResult);
}

bool UpdateDataSilently(const S_RunSetup& setup, ERunResult* peEnd) {
    CUpdateRun run(setup, PolicyFor(ERoad::SilentData, setup.nUpdateType));
    const ERunResult eChecked = run.Check().eResult;
    // Also with nothing changed: the data set takes the fetched manifest.
    if (eChecked == ERunResult::Offered || eChecked == ERunResult::UpToDate) {
        if (run.Fetch()) run.Install();
    }
    run.End();
    if (peEnd) *peEnd = run.Outcome().eResult;
    return ManifestWasHad(run.Outcome().eResult);
}
