#pragma once
// The state of one silent run: what is updated, where its files go and the
// transport that fetches them. Built on the stack, initialised once, used by
// one driver, destroyed.
#include <memory>
#include <string>

#include "install/SilentUpdate.h"
#include "platform/http/UpdateIntf.h"

class CSilentUpdater {
public:
    CSilentUpdater() = default;
    ~CSilentUpdater();
    CSilentUpdater(const CSilentUpdater&) = delete;
    CSilentUpdater& operator=(const CSilentUpdater&) = delete;

    // The program files: target = application directory, staging = its UPDATE\Program\.
    // False when the object was already initialised.
    bool InitProgram(int nUpdateType, const std::string& strUpdateName);
    // The data set strUpdateName: target = application directory + name + '\',
    // staging = application directory + "UPDATE\" + name + '\'. False when the
    // object was already initialised or the name would leave the application
    // directory (IsSafeUpdateName); the object then stays uninitialised.
    bool InitData(int nUpdateType, const std::string& strUpdateName);

    bool IsInitialised() const { return m_setup.pUpdateIntf != nullptr; }

    // The silent program update (UpdateProgramSilently), asking with the
    // notification dialog whether to restart the client now. False only when
    // the manifest could not be fetched.
    bool UpdateProgram();
    // The silent update of the data set (UpdateDataSilently). False only
    // when the manifest could not be fetched.
    bool UpdateData();
    // How the last driver's run ended (UnsafeName before any run: InitData refused the name).
    ERunResult EndResult() const { return m_eEndResult; }

    // What the update road is given (LoadRunSetup); its transport is the updater's.
    S_RunSetup m_setup;
    std::string m_strConfigName;      // manifest, relative to the update root and the staging directory

private:
    ERunResult m_eEndResult = ERunResult::UnsafeName;
    // The setup of eRoad; false (nothing set) when already initialised or
    // the data-set name is unsafe.
    bool Init(ERoad eRoad, int nUpdateType, const std::string& strUpdateName);
};
