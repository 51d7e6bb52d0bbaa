#include "ui/DlgUpdate.h"

#include <shlwapi.h>

#include <algorithm>
#include <cstdlib>
#include <functional>

#include "config/ClientConfig.h"
#include "download/UpdateNotify.h"
#include "install/MainClient.h"
#include "install/UpdatePaths.h"
#include "platform/fs/DirectoryEx.h"
#include "ui/DownloadPlan.h"
#include "ui/resource.h"

namespace {

const COLORREF kTextColor = RGB(51, 51, 51);
const COLORREF kTitleColor = RGB(233, 247, 254);

const char kWindowText[] = "在线更新";
const char kTextUpToDate[] = "您安装的QOVA已经是最新版本！";
const char kTextDownloading[] = "软件更新后会自动启用新版本！";
const char kTextConnectionFailed[] = "无法与服务器建立连接,请稍候重试！";
const char kTextUpdateError[] = "更新过程出现错误,请稍候重试！";

// The heading pictures' texts: their names for a screen reader.
const char* HeadingText(UINT nPicture) {
    switch (nPicture) {
    case IDP_HEAD_OFFER: return "发现可用更新！";
    case IDP_HEAD_UPTODATE: return "没有可用更新！";
    case IDP_HEAD_DOWNLOADING: return "正在下载更新，请稍等...";
    case IDP_HEAD_INSTALLING: return "正在安装更新，请稍等...";
    default: return "";
    }
}

// The template sits at 0, 0: show the window in the middle of its monitor's
// work area, as a framework dialog without an owner would be.
void CenterOnWorkArea(HWND hWnd) {
    MONITORINFO info = {};
    info.cbSize = sizeof(info);
    if (!::GetMonitorInfoW(::MonitorFromWindow(hWnd, MONITOR_DEFAULTTOPRIMARY), &info)) return;
    RECT rc;
    ::GetWindowRect(hWnd, &rc);
    const RECT& rcWork = info.rcWork;
    int x = rcWork.left + ((rcWork.right - rcWork.left) - (rc.right - rc.left)) / 2;
    int y = rcWork.top + ((rcWork.bottom - rcWork.top) - (rc.bottom - rc.top)) / 2;
    ::SetWindowPos(hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

CDlgUpdate::CDlgUpdate()
    : CSkinnedDialog({IDD_UPDATE, IDP_UPDATE_FACE, kWindowText, kTextColor, IDC_BTN_UPDATE, IDC_BTN_CLOSE,
                      IDC_BTN_CLOSEX},
                     GetMessageMap(), this) {}

CDlgUpdate::~CDlgUpdate() {
    if (m_pDownThread) {
        m_pDownThread->Terminate();
        // Deleting stops the worker and waits for it: a transfer in flight is
        // abandoned, and nothing it reports reaches the dialog any more.
        m_pDownThread.reset();
    }
    if (m_pRun) {
        if (m_bDownloading) m_pRun->FetchCancelled();
        m_pRun->End();
    }
}

const MessageMap<CDlgUpdate>& CDlgUpdate::GetMessageMap() {
    static const MessageMap<CDlgUpdate> map = {
        MapBnClicked<CDlgUpdate>(IDC_BTN_CLOSE, &CDlgUpdate::OnBtnClose),
        MapBnClicked<CDlgUpdate>(IDC_BTN_CLOSEX, &CDlgUpdate::OnBtnClose),
        MapBnClicked<CDlgUpdate>(IDC_BTN_UPDATE, &CDlgUpdate::OnBtnUpdate),
        MapMessage<CDlgUpdate>(WM_UPDATE_NOTIFY, &CDlgUpdate::OnUpdateNotify),
    };
    return map;
}

void CDlgUpdate::DoDataExchange(CDataExchange* pDX) {
    CSkinnedDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_PROGRESS, m_progress);
    DDX_Control(pDX, IDC_PIC_ICON, m_picIcon);
    DDX_Control(pDX, IDC_PIC_HEADING, m_picHeading);
    DDX_Control(pDX, IDC_TXT_TITLE, m_txtTitle);
    DDX_Control(pDX, IDC_TXT_NEWVERSION, m_txtNewVersion);
    DDX_Control(pDX, IDC_TXT_MESSAGE, m_txtMessage);
}

BOOL CDlgUpdate::OnInitDialog() {
    CSkinnedDialog::OnInitDialog();
    m_picIcon.SetPicture(IDP_ICON_OFFER, nullptr);
    ShowHeading(IDP_HEAD_OFFER);

    SkinText(m_txtTitle, kTitleColor, true);
    m_txtTitle.SetAligns(CStaticText::kAlignLeft);

    SkinText(m_txtNewVersion, kTextColor, true);
    SkinText(m_txtMessage, kTextColor, false);

    m_progress.SetBmpResource(IDB_PROGRESS_TRACK, IDB_PROGRESS_LEFT, IDB_PROGRESS_MIDDLE, IDB_PROGRESS_RIGHT, nullptr);
    m_progress.SetRange(0, 100);
    m_progress.SetProgress(0);

    CheckForUpdate();
    CenterOnWorkArea(m_hWnd);
    return TRUE;
}

void CDlgUpdate::CheckForUpdate() {
    m_pRun = std::make_unique<CUpdateRun>(LoadRunSetup(ERoad::Dialog, m_nUpdateType, m_strUpdateName),
                                          PolicyFor(ERoad::Dialog, m_nUpdateType));
    m_pRun->Check();

    m_vecUpdateFiles = m_pRun->ChangedFiles();
    std::vector<unsigned long long> vecSizes;   // the run's fetch bounds each file by its way
    ListFilesToDownload(m_pRun->FilesToFetch(), m_vecDownFiles, vecSizes);
    ShowCheckState(m_pRun->Actions().eDialogState);
}

void CDlgUpdate::ShowHeading(UINT nPicture) {
    m_picHeading.SetPicture(nPicture, nullptr);
    m_picHeading.SetWindowText(HeadingText(nPicture));
}

void CDlgUpdate::HideOfferLine() {
    // A keyboard user who pressed the upgrade button goes on from the close button.
    if (::GetFocus() == m_btnAccept.m_hWnd)
        ::SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(m_btnDecline.m_hWnd), TRUE);
    m_txtNewVersion.ShowWindow(SW_HIDE);
    if (CWnd* pCanUpdate = GetDlgItem(IDC_TXT_CANUPDATE)) pCanUpdate->ShowWindow(SW_HIDE);
    if (CWnd* pQuestion = GetDlgItem(IDC_TXT_QUESTION)) pQuestion->ShowWindow(SW_HIDE);
    m_btnAccept.ShowWindow(SW_HIDE);
}

void CDlgUpdate::ShowCheckState(EDialogState eState) {
    // Enter upgrades while it is offered and closes otherwise (the upgrade button hides on failure).
    SetDefaultButton(eState == EDialogState::Offer ? IDC_BTN_UPDATE : IDC_BTN_CLOSE, IDC_BTN_CLOSE);
    if (eState == EDialogState::Offer) {
        m_picIcon.SetPicture(IDP_ICON_OFFER, nullptr);
        ShowHeading(IDP_HEAD_OFFER);
        m_txtNewVersion.SetWindowText(m_pRun->Head().strVersion.c_str());
        return;
    }
    // No update is offered, for the reason the check ended with.
    m_picIcon.SetPicture(IDP_ICON_UPTODATE, nullptr);
    ShowHeading(IDP_HEAD_UPTODATE);
    m_txtMessage.SetWindowText(eState == EDialogState::ConnectionFailed ? kTextConnectionFailed
                               : eState == EDialogState::UpdateError    ? kTextUpdateError
                                                                        : kTextUpToDate);
    HideOfferLine();
}

void CDlgUpdate::ShowFailure() {
    m_txtMessage.SetWindowText(m_pRun->Actions().eDialogState == EDialogState::ConnectionFailed ? kTextConnectionFailed
                                                                                               : kTextUpdateError);
}

void CDlgUpdate::OnBtnClose() { EndDialog(IDOK); }

void CDlgUpdate::OnBtnUpdate() {
    // An earlier thread is stopped and waited for before it goes away.
    m_pDownThread.reset();

    m_progress.SetRange(0, static_cast<int>(m_vecDownFiles.size()));
    m_nFinishedFiles = 0;
    ShowHeading(IDP_HEAD_DOWNLOADING);
    m_txtMessage.SetWindowText(kTextDownloading);
    HideOfferLine();

    if (!m_vecDownFiles.empty()) {
        StartDownload();
        return;
    }
    // Everything is staged already: straight to the check and install.
    if (!m_vecUpdateFiles.empty()) InstallUpdate();
}

void CDlgUpdate::StartDownload() {
    const S_RunSetup& setup = m_pRun->Setup();
    m_bDownloading = true;
    m_pDownThread = std::make_unique<CDownFileThread>(*setup.pUpdateIntf, m_hWnd, WM_UPDATE_NOTIFY);
    m_pDownThread->SetLocalPath(setup.strDownloadPath);
    m_pDownThread->m_csFileList.Enter();
    m_pDownThread->m_vecFileList = m_vecDownFiles;
    m_pDownThread->m_csFileList.Leave();
    m_pDownThread->m_nUpdateType = static_cast<UINT>(m_nUpdateType);
    m_pDownThread->m_nConnections = setup.pUpdateIntf->GetConnections();
    // The run's fetch stage, each file by its cheapest way: the thread only hosts it.
    CUpdateRun* pRun = m_pRun.get();
    m_pDownThread->m_fnFetch = [pRun](HWND hWnd, UINT nMsg, const std::function<bool()>& fnStop,
                                      S_TransferFailure& failure) {
        return pRun->FetchWays(hWnd, nMsg, fnStop, failure);
    };
    m_pRun->FetchStarted();
    if (!m_pDownThread->Start()) {
        m_bDownloading = false;
        S_TransferFailure failure;
        failure.eReason = ETransferFailure::LocalWrite;   // no thread: nothing was asked of a server
        failure.dwError = ::GetLastError();
        m_pRun->FetchFailed(failure);
        ShowFailure();
    }
}

LRESULT CDlgUpdate::OnUpdateNotify(WPARAM wParam, LPARAM lParam) {
    switch (ClassifyUpdateReport(wParam, lParam)) {
    case EUpdateReport::Failed:
        m_bDownloading = false;
        // The thread set its failure before it sent the report.
        m_pRun->FetchFailed(m_pDownThread ? m_pDownThread->m_failure : S_TransferFailure());
        ShowFailure();
        break;
    case EUpdateReport::Staged:
        // Never past the files awaited, whatever the report says.
        m_nFinishedFiles = static_cast<int>(std::min<size_t>(static_cast<size_t>(wParam), m_vecDownFiles.size()));
        m_progress.SetProgress(m_nFinishedFiles);
        break;
    case EUpdateReport::Done:
        // The worker is answered and waited for: the transport and its
        // tally are the run's alone again before the fetch line and the install.
        if (m_pDownThread) m_pDownThread->WaitUntilEnded();
        if (!m_bDownloading) break;   // a failure was reported already
        m_bDownloading = false;
        m_progress.SetProgress(static_cast<int>(m_vecDownFiles.size()));
        m_pRun->FetchDone();
        InstallUpdate();
        break;
    case EUpdateReport::Progress:
        break;   // the bar counts staged files
    }
    return 0;
}

void CDlgUpdate::InstallUpdate() {
    const bool bInstalled = m_pRun->Install([this] {
        ShowHeading(IDP_HEAD_INSTALLING);
        // The copies run inside this handler: show the heading before they start.
        ::UpdateWindow(m_hWnd);
    });
    // The client started before the run ends, as on the silent road: a failed start is a line of this run.
    const S_EndActions actions = m_pRun->Actions();
    if (actions.bRestartClient) StartMainClient(m_pRun->Setup().strAppPath, actions.dwRestartDelayMs, &m_pRun->Log());
    m_pRun->End();
    if (bInstalled) {
        EndDialog(IDOK);
        return;
    }
    // A staged file that is not the manifest's (nothing touched), or an
    // installation that had to put the old release back: the user is told.
    ShowFailure();
}
