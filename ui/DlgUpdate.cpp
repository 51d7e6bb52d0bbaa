#include "ui/DlgUpdate.h"

#include <shlwapi.h>

#include <cstdlib>

#include "config/ClientConfig.h"
#include "download/ManifestFetch.h"
#include "download/UpdateNotify.h"
#include "install/FileInstaller.h"
#include "install/MainClient.h"
#include "install/SilentSteps.h"
#include "install/StagedFileCheck.h"
#include "install/UpdatePaths.h"
#include "install/UpdateRecord.h"
#include "manifest/CompareProgramFiles.h"
#include "manifest/UpdateCheckInfo.h"
#include "manifest/VersionOrder.h"
#include "platform/fs/DirectoryEx.h"
#include "platform/ini/ConfigFile.h"
#include "platform/ini/CryptConfigFile.h"
#include "ui/ButtonSkins.h"
#include "ui/DownloadPlan.h"
#include "ui/DialogLayout.h"
#include "ui/DragByTopBand.h"
#include "ui/resource.h"

namespace {

const COLORREF kTextColor = RGB(51, 51, 51);
const COLORREF kTitleColor = RGB(233, 247, 254);

const char kWindowText[] = "在线更新";
const char kTextUpToDate[] = "您安装的QOVA已经是最新版本！";
const char kTextDownloading[] = "软件更新后会自动启用新版本！";
const char kTextConnectionFailed[] = "无法与服务器建立连接,请稍候重试！";
const char kTextUpdateError[] = "更新过程出现错误,请稍候重试！";

const char kManifestName[] = "UpdateConfig.ini";
const char kDataManifestName[] = "config.ini";
const char kRecordPattern[] = "%Y-%m-%d %H:%M:%S";

// The template sits at 0, 0: show the window in the middle of its monitor's
// work area, as a framework dialog without an owner would be.
void CenterOnWorkArea(HWND hWnd) {
    MONITORINFO info = {};
    info.cbSize = sizeof(info);
    if (!::GetMonitorInfoA(::MonitorFromWindow(hWnd, MONITOR_DEFAULTTOPRIMARY), &info)) return;
    RECT rc;
    ::GetWindowRect(hWnd, &rc);
    const RECT& rcWork = info.rcWork;
    int x = rcWork.left + ((rcWork.right - rcWork.left) - (rc.right - rc.left)) / 2;
    int y = rcWork.top + ((rcWork.bottom - rcWork.top) - (rc.bottom - rc.top)) / 2;
    ::SetWindowPos(hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

CDlgUpdate::CDlgUpdate() : CImageDialog(IDD_UPDATE, nullptr) {}

CDlgUpdate::~CDlgUpdate() {
    if (m_pDownThread) {
        m_pDownThread->Terminate();
        // Deleting stops the worker and waits for it: a transfer in flight is
        // abandoned, and nothing it reports reaches the dialog any more.
        m_pDownThread.reset();
    }
    m_pUpdateIntf.reset();
}

const MessageMap<CDlgUpdate>& CDlgUpdate::GetMessageMap() {
    static const MessageMap<CDlgUpdate> map = {
        MapBnClicked<CDlgUpdate>(IDC_BTN_CLOSE, &CDlgUpdate::OnBtnClose),
        MapBnClicked<CDlgUpdate>(IDC_BTN_CLOSEX, &CDlgUpdate::OnBtnClose),
        MapLButtonDown<CDlgUpdate>(&CDlgUpdate::OnLButtonDown),
        MapBnClicked<CDlgUpdate>(IDC_BTN_UPDATE, &CDlgUpdate::OnBtnUpdate),
        MapCtlColor<CDlgUpdate>(&CDlgUpdate::OnCtlColor),
        MapMessage<CDlgUpdate>(WM_UPDATE_NOTIFY, &CDlgUpdate::OnUpdateNotify),
    };
    return map;
}

bool CDlgUpdate::OnMessage(UINT nMsg, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    return GetMessageMap().Dispatch(*this, nMsg, wParam, lParam, pResult) ||
           CImageDialog::OnMessage(nMsg, wParam, lParam, pResult);
}

void CDlgUpdate::DoDataExchange(CDataExchange* pDX) {
    CImageDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_BTN_CLOSE, m_btnClose);
    DDX_Control(pDX, IDC_BTN_UPDATE, m_btnUpdate);
    DDX_Control(pDX, IDC_BTN_CLOSEX, m_btnCloseX);
    DDX_Control(pDX, IDC_PROGRESS, m_progress);
    DDX_Control(pDX, IDC_PIC_ICON, m_picIcon);
    DDX_Control(pDX, IDC_PIC_HEADING, m_picHeading);
    DDX_Control(pDX, IDC_TXT_TITLE, m_txtTitle);
    DDX_Control(pDX, IDC_TXT_NEWVERSION, m_txtNewVersion);
    DDX_Control(pDX, IDC_TXT_MESSAGE, m_txtMessage);
}

BOOL CDlgUpdate::OnInitDialog() {
    CImageDialog::OnInitDialog();
    SetWindowText(kWindowText);
    SetBackPicture(2, IDP_UPDATE_FACE, nullptr, false);

    m_picIcon.SetPicture(IDP_ICON_OFFER, nullptr);
    m_picHeading.SetPicture(IDP_HEAD_OFFER, nullptr);

    m_txtTitle.SetFontSize(12, 0);
    m_txtTitle.SetTextColor(kTitleColor);
    m_txtTitle.SetAligns(0);
    m_txtTitle.SetBold(true);

    SkinCaptionButton(m_btnClose);
    SkinCaptionButton(m_btnUpdate);
    SkinCloseMark(m_btnCloseX);

    m_txtNewVersion.SetFontSize(12, 0);
    m_txtNewVersion.SetTextColor(kTextColor);
    m_txtNewVersion.SetBold(true);

    m_txtMessage.SetFontSize(12, 0);
    m_txtMessage.SetTextColor(kTextColor);
    m_txtMessage.SetBold(false);

    m_progress.SetBmpResource(IDB_PROGRESS_TRACK, IDB_PROGRESS_LEFT, IDB_PROGRESS_MIDDLE, IDB_PROGRESS_RIGHT, nullptr);
    m_progress.SetRange(0, 100);
    m_progress.SetProgress(0);

    CheckForUpdate();
    CenterOnWorkArea(m_hWnd);
    return TRUE;
}

void CDlgUpdate::CheckForUpdate() {
    CDirectoryEx::GetApplicationPath(m_strAppPath);
    m_strConfigName = kManifestName;
    ReadClientConfig(m_strAppPath, m_strVersion, m_strRegion, m_vecServerAddr, m_bUseProxy);

    const bool bNameUsable =
        GetUpdatePaths(m_strAppPath, m_nUpdateType == 1, m_strUpdateName, m_strTargetPath, m_strDownloadPath);
    m_nConnections = ReadConnectionCount(m_strAppPath);
    m_pUpdateIntf = std::make_unique<CQOVAUpdateIntf>(m_vecServerAddr, m_bUseProxy);
    m_pUpdateIntf->SetConnections(m_nConnections);

    DeleteBackups(m_strAppPath);

    // A name that would leave the installation is offered nothing, as when the
    // manifest cannot be fetched or is refused.
    m_vecDownFiles.clear();
    S_ManifestRequest request;
    request.nUpdateType = m_nUpdateType;
    request.pUpdateIntf = m_pUpdateIntf.get();
    request.strAppPath = m_strAppPath;
    request.strDownloadPath = m_strDownloadPath;
    request.strManifestName = m_strConfigName;
    request.layout = EManifestLayout::Program;
    request.strRecordName = SignatureRecordName(m_nUpdateType, m_strUpdateName, m_strConfigName);
    if (!bNameUsable || !FetchManifest(request, m_fetched)) {
        ShowUpToDate();
        return;
    }

    S_UpdateCheckInfo checkInfo;
    checkInfo.strRootPath = m_strTargetPath;
    checkInfo.strConfigFile = m_strDownloadPath + m_strConfigName;
    checkInfo.strVersion = m_strVersion;
    checkInfo.strRegion = m_strRegion;
    checkInfo.strDigestCache = DigestCachePath(m_strAppPath);
    m_vecUpdateFiles.clear();
    CompareProgramFiles(checkInfo, m_vecUpdateFiles);  // an empty list is all that matters

    CStagedFileCheck check(StagedDigest());  // one digest object for every staged file
    ListFilesToDownload(m_vecUpdateFiles, m_strDownloadPath, check, m_vecDownFiles, m_vecFileSizes);

    if (m_vecUpdateFiles.empty()) {
        RecordAcceptedManifest(m_strAppPath, m_fetched);   // nothing was missing
        ShowUpToDate();
        return;
    }
    const std::string strNewVersion = ReadStagedVersion();
    m_picIcon.SetPicture(IDP_ICON_OFFER, nullptr);
    m_picHeading.SetPicture(IDP_HEAD_OFFER, nullptr);
    m_txtNewVersion.SetWindowText(strNewVersion.c_str());
}

EStagedDigest CDlgUpdate::StagedDigest() const {
    return m_fetched.bSigned ? EStagedDigest::Sha256 : EStagedDigest::Md5;
}

std::string CDlgUpdate::ReadStagedVersion() {
    CConfigFile manifest(m_strDownloadPath + m_strConfigName);
    std::string strVersion;
    manifest.ReadString("Version", "VERSION", "", strVersion);
    return strVersion;
}

bool CDlgUpdate::IsUpdateFile(const char* pszName) const {
    for (const S_UpdateFileInfo& info : m_vecUpdateFiles) {
        if (::lstrcmpiA(info.strFileName.c_str(), pszName) == 0) return true;
    }
    return false;
}

void CDlgUpdate::HideOfferLine() {
    m_txtNewVersion.ShowWindow(SW_HIDE);
    if (CWnd* pCanUpdate = GetDlgItem(IDC_TXT_CANUPDATE)) pCanUpdate->ShowWindow(SW_HIDE);
    if (CWnd* pQuestion = GetDlgItem(IDC_TXT_QUESTION)) pQuestion->ShowWindow(SW_HIDE);
    m_btnUpdate.ShowWindow(SW_HIDE);
}

void CDlgUpdate::ShowUpToDate() {
    m_picIcon.SetPicture(IDP_ICON_UPTODATE, nullptr);
    m_picHeading.SetPicture(IDP_HEAD_UPTODATE, nullptr);
    m_txtMessage.SetWindowText(kTextUpToDate);
    HideOfferLine();
}

void CDlgUpdate::OnBtnClose() { EndDialog(IDOK); }

bool CDlgUpdate::GetLayout(UINT nDpi, SkinWindowLayout& layout) {
    layout = LayoutDialog(IDD_UPDATE, nDpi);
    return true;
}

void CDlgUpdate::OnLButtonDown(UINT nFlags, POINT point) {
    DragByTopBand(m_hWnd, point, LayoutDialog(IDD_UPDATE, GetDpi()).nBandHeight);
    CImageDialog::OnLButtonDown(nFlags, point);
}

HBRUSH CDlgUpdate::OnCtlColor(HDC hdc, HWND hWnd, UINT nCtlColor) {
    HBRUSH hBrush = CImageDialog::OnCtlColor(hdc, hWnd, nCtlColor);
    if (nCtlColor == CTLCOLOR_STATIC) {
        ::SetBkMode(hdc, TRANSPARENT);
        ::SetTextColor(hdc, kTextColor);
        return static_cast<HBRUSH>(::GetStockObject(NULL_BRUSH));
    }
    return hBrush;
}

void CDlgUpdate::OnBtnUpdate() {
    // An earlier thread is stopped and waited for before it goes away.
    m_pDownThread.reset();

    m_progress.SetRange(0, static_cast<int>(m_vecDownFiles.size()));
    m_nFinishedFiles = 0;
    m_picHeading.SetPicture(IDP_HEAD_DOWNLOADING, nullptr);
    m_txtMessage.SetWindowText(kTextDownloading);
    HideOfferLine();

    if (!m_vecDownFiles.empty()) {
        m_pDownThread = std::make_unique<CDownFileThread>(m_vecServerAddr, m_bUseProxy, m_hWnd, WM_UPDATE_NOTIFY);
        m_pDownThread->SetLocalPath(m_strDownloadPath);
        m_pDownThread->m_csFileList.Enter();
        m_pDownThread->m_vecFileList.clear();
        m_pDownThread->m_vecFileList = m_vecDownFiles;
        m_pDownThread->m_csFileList.Leave();
        m_pDownThread->m_nUpdateType = static_cast<UINT>(m_nUpdateType);
        m_pDownThread->m_nConnections = m_nConnections;
        if (!m_pDownThread->Start()) m_txtMessage.SetWindowText(kTextUpdateError);
        return;
    }
    if (m_vecUpdateFiles.empty()) return;
    // Everything is staged already: one completion report installs at once.
    const int nSize = std::atoi(m_vecUpdateFiles.front().strSize.c_str());
    m_vecFileSizes.push_back(nSize);
    m_vecDownFiles.push_back(m_vecUpdateFiles.front().strFileName);
    ::SendMessageA(m_hWnd, WM_UPDATE_NOTIFY, static_cast<WPARAM>(nSize), static_cast<LPARAM>(nSize));
}

LRESULT CDlgUpdate::OnUpdateNotify(WPARAM wParam, LPARAM lParam) {
    switch (ClassifyUpdateReport(wParam, lParam, m_nFinishedFiles, m_vecFileSizes)) {
    case EUpdateReport::Failed:
        m_txtMessage.SetWindowText(kTextConnectionFailed);
        break;
    case EUpdateReport::Progress:
        m_progress.SetProgress(m_nFinishedFiles);
        break;
    case EUpdateReport::SizeMismatch:
        if (m_pDownThread) m_pDownThread->Terminate();
        m_txtMessage.SetWindowText(kTextUpdateError);
        break;
    case EUpdateReport::FileComplete:
        ++m_nFinishedFiles;
        if (static_cast<size_t>(m_nFinishedFiles) == m_vecDownFiles.size()) InstallUpdate();
        break;
    case EUpdateReport::Unexpected:
        break;  // every awaited file is in already
    }
    return 0;
}

void CDlgUpdate::InstallUpdate() {
    // Checked as a whole before the first file is touched: a bad download installs nothing.
    CStagedFileCheck check(StagedDigest());
    if (!AllStagedIntact(check, m_strDownloadPath, m_vecUpdateFiles)) {
        // Nothing is touched; the staged files stay for the next check to sort out.
        m_txtMessage.SetWindowText(kTextUpdateError);
        return;
    }
    CloseMainClient();
    m_picHeading.SetPicture(IDP_HEAD_INSTALLING, nullptr);
    // The copies run inside this handler: show the heading before they start.
    ::UpdateWindow(m_hWnd);

    // A file that cannot be put in place does not stop the others: a half-old
    // set is no worse than a wholly old one, and the record says it failed.
    const bool bInstalled = InstallStagedFiles(m_strDownloadPath, m_strTargetPath, m_vecUpdateFiles);
    const std::string strNewVersion = ReadStagedVersion();
    // Only a complete installation may claim the new version.
    if (bInstalled) {
        if (m_nUpdateType != 1) {
            const std::string strDataManifest = m_strDownloadPath + kDataManifestName;
            // Of a signed release, only a copy this run checked: a "config.ini"
            // left in the staging directory by another run was never verified.
            if (::PathFileExistsA(strDataManifest.c_str()) && (!m_fetched.bSigned || IsUpdateFile(kDataManifestName))) {
                InstallFile(strDataManifest, m_strAppPath + kDataManifestName);
            }
        } else {
            if (IsVersionGreater(strNewVersion, m_strVersion)) {
                CCryptConfigFile config(m_strAppPath + "Config.dat", "");
                config.WriteString("Update", "Version", strNewVersion);
            }
            WriteProductRegistry(m_strAppPath, strNewVersion);
        }
    }
    if (bInstalled) RecordAcceptedManifest(m_strAppPath, m_fetched);
    WriteUpdateRecord(m_strAppPath, kRecordPattern, strNewVersion, m_strVersion, bInstalled ? 1 : 0);
    CDirectoryEx::DeleteDirectory(m_strDownloadPath);
    StartMainClient(m_strAppPath, 0);
    EndDialog(IDOK);
}
