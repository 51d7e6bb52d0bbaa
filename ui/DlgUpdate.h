#pragma once
// CDlgUpdate: the interactive update, the dialog's road of CUpdateRun. The
// check runs in OnInitDialog, before the window shows: the window then offers
// the new version, or says why not (up to date, no connection, an error),
// each from the run's outcome. The upgrade button downloads what is not
// staged yet on a CDownFileThread hosting the run's fetch stage, whose reports
// (WM_UPDATE_NOTIFY) move the bar in whole files; its end hands the installation to the run,
// which closes the main client first; the dialog then starts the client again
// and ends (or, when the old release had to be put back, says so).
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "download/DownFileThread.h"
#include "install/UpdateRun.h"
#include "manifest/UpdateFileInfo.h"
#include "platform/dialog/MessageMap.h"
#include "platform/http/UpdateIntf.h"
#include "platform/skin/PNGPicture.h"
#include "platform/skin/ProgressBar.h"
#include "platform/skin/StaticText.h"
#include "ui/SkinnedDialog.h"

class CDlgUpdate : public CSkinnedDialog {
public:
    CDlgUpdate();
    // Stops a running download and waits for it before anything goes away.
    ~CDlgUpdate() override;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;

    void OnBtnClose();
    void OnBtnUpdate();
    LRESULT OnUpdateNotify(WPARAM wParam, LPARAM lParam);

    void CheckForUpdate();
    void InstallUpdate();
    // The download thread on the run's transport, for the files not staged yet.
    void StartDownload();
    // The check's outcome: the offer, or the no-update face with the message that says why.
    void ShowCheckState(EDialogState eState);
    // A download or installation that ended early: its message, the rest stays.
    void ShowFailure();

    CProgressBar m_progress;
    CPNGPicture m_picIcon;
    CPNGPicture m_picHeading;
    CStaticText m_txtTitle;
    CStaticText m_txtNewVersion;
    CStaticText m_txtMessage;

public:
    // Set by the application before DoModal.
    int m_nUpdateType = kProgramUpdateType;   // the program files; any other value: the data set m_strUpdateName
    std::string m_strUpdateName;      // the data set's directory below the application directory

protected:
    int m_nFinishedFiles = 0;                          // files staged, in list order
    std::unique_ptr<CDownFileThread> m_pDownThread;    // null until the first download
    std::vector<std::string> m_vecDownFiles;           // still to fetch, manifest order
    std::vector<S_UpdateFileInfo> m_vecUpdateFiles;    // every changed file, manifest order
    std::unique_ptr<CUpdateRun> m_pRun;   // the road this dialog drives, with its setup and transport; set by the check
    bool m_bDownloading = false;    // the download thread was started and has not ended

private:
    static const MessageMap<CDlgUpdate>& GetMessageMap();
    void HideOfferLine();
    // The heading picture, named by the text it shows.
    void ShowHeading(UINT nPicture);
};
