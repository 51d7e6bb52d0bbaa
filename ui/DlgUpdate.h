#pragma once
// CDlgUpdate: the interactive update. OnInitDialog checks for a new version
// before the window shows (manifest fetched into the staging directory and
// compared with the installed files), then offers it or says the installation
// is up to date. The upgrade button downloads what is not staged yet on a
// CDownFileThread, whose reports (WM_UPDATE_NOTIFY) move the bar in whole
// files; the last completion installs: every staged file is checked against
// the manifest, the main client is closed, the files are put in place, the
// version, registry and update record are written, the staging directory is
// deleted, the client is started again and the dialog ends.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "download/DownFileThread.h"
#include "download/ManifestFetch.h"
#include "install/StagedFileCheck.h"
#include "manifest/UpdateFileInfo.h"
#include "platform/dialog/MessageMap.h"
#include "platform/http/UpdateIntf.h"
#include "platform/skin/ImageButtonX.h"
#include "platform/skin/ImageDialog.h"
#include "platform/skin/PNGPicture.h"
#include "platform/skin/ProgressBar.h"
#include "platform/skin/StaticText.h"

class CDlgUpdate : public CImageDialog {
public:
    CDlgUpdate();
    // Stops a running download and waits for it before anything goes away.
    ~CDlgUpdate() override;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    bool OnMessage(UINT nMsg, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;
    bool GetLayout(UINT nDpi, SkinWindowLayout& layout) override;

    void OnBtnClose();
    void OnLButtonDown(UINT nFlags, POINT point);
    void OnBtnUpdate();
    HBRUSH OnCtlColor(HDC hdc, HWND hWnd, UINT nCtlColor);
    LRESULT OnUpdateNotify(WPARAM wParam, LPARAM lParam);

    void CheckForUpdate();
    void InstallUpdate();

    CImageButtonX m_btnClose;
    CImageButtonX m_btnUpdate;
    CImageButtonX m_btnCloseX;
    CProgressBar m_progress;
    CPNGPicture m_picIcon;
    CPNGPicture m_picHeading;
    CStaticText m_txtTitle;
    CStaticText m_txtNewVersion;
    CStaticText m_txtMessage;

public:
    // Set by the application before DoModal.
    int m_nUpdateType = 1;            // 1: the program files; any other value: the data set m_strUpdateName
    std::string m_strUpdateName;      // the data set's directory below the application directory

protected:
    int m_nFinishedFiles = 0;                          // completions matching their expected size
    std::unique_ptr<CQOVAUpdateIntf> m_pUpdateIntf;    // the check's transport
    std::unique_ptr<CDownFileThread> m_pDownThread;    // null until the first download
    std::vector<std::string> m_vecDownFiles;           // still to fetch, manifest order
    std::vector<S_UpdateFileInfo> m_vecUpdateFiles;    // every changed file, manifest order
    std::vector<unsigned long long> m_vecFileSizes;                   // expected size of m_vecDownFiles[i]
    std::vector<S_UpdateSerivceAddr> m_vecServerAddr;
    bool m_bUseProxy = true;
    unsigned int m_nConnections = 1;  // files fetched at once (UserConfig.dat)
    std::string m_strAppPath;       // ends in '\'
    std::string m_strConfigName;    // "UpdateConfig.ini" for every kind
    std::string m_strTargetPath;    // receives the files; ends in '\'
    std::string m_strDownloadPath;  // staging directory; ends in '\'
    std::string m_strVersion;       // installed version (Config.dat)
    std::string m_strRegion;        // installed region (Config.dat)
    S_FetchedManifest m_fetched;    // how the manifest was accepted (signed or not)

private:
    static const MessageMap<CDlgUpdate>& GetMessageMap();
    void ShowUpToDate();
    void HideOfferLine();
    std::string ReadStagedVersion();
    EStagedDigest StagedDigest() const;
    bool IsUpdateFile(const char* pszName) const;
};
