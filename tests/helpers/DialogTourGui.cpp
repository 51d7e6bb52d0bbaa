// Follows one run of the update dialog for the demo and saves a picture of
// each state it passes: offer, downloading (once the bar has moved),
// installing (once the main client was asked to close), up to date, or the
// failure text. With "click" it also presses the buttons a person would:
// "立即升级" on an offer, "关闭" when up to date or after a failure; with
// "watch" a person does.
// Usage: DialogTourGui OUT_DIR click|watch CLIENT_LOG [TIMEOUT_SECONDS]
// Pictures: OUT_DIR\dialog-<state>.png. Exit codes: 0 the dialog installed
// and ended, 3 it was up to date, 1 no dialog, a failure or the time ran out,
// 2 bad usage.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "support/Screenshot.h"
#include "support/TempDir.h"
#include "support/UiDriver.h"
#include "ui/resource.h"

namespace {

const char kOfferMessage[] = "QOVA有新版本";
const char kUpToDate[] = "您安装的QOVA已经是最新版本！";
const char kConnectionFailed[] = "无法与服务器建立连接,请稍候重试！";
const char kUpdateError[] = "更新过程出现错误,请稍候重试！";

// "close" lines of the stand-in client's log so far.
int ClientCloseCount(const std::string& strLog) {
    const std::string strText = ReadFileBytes(strLog);
    int nCount = 0;
    for (size_t nPos = strText.find("close"); nPos != std::string::npos; nPos = strText.find("close", nPos + 1))
        ++nCount;
    return nCount;
}

class Tour {
public:
    Tour(std::string strOutDir, bool bClick) : m_strOutDir(std::move(strOutDir)), m_bClick(bClick) {}

    void Shoot(HWND hDlg, const char* pszState) {
        const std::string strPath = m_strOutDir + "dialog-" + pszState + ".png";
        if (CaptureWindow(hDlg).SavePng(strPath)) std::printf("DialogTourGui: %s\n", strPath.c_str());
        else std::printf("DialogTourGui: no picture of %s\n", pszState);
        std::fflush(stdout);
    }
    void Press(HWND hDlg, int nId) {
        if (m_bClick) ClickControl(hDlg, nId);
    }
    // Lets the window paint before its picture is taken.
    static void Settle(DWORD dwMs) {
        WaitUntil([] { return false; }, dwMs);
    }

    int Follow(HWND hDlg, const std::string& strClientLog, DWORD dwTimeoutMs) {
        Settle(600);
        const std::string strMessage = ControlText(hDlg, IDC_TXT_MESSAGE);
        if (strMessage == kUpToDate) {
            Shoot(hDlg, "uptodate");
            Press(hDlg, IDC_BTN_CLOSE);
            WaitUntil([&] { return !::IsWindow(hDlg); }, dwTimeoutMs);
            return 3;
        }
        if (strMessage == kOfferMessage) Shoot(hDlg, "offer");
        Settle(m_bClick ? 1500 : 0);   // a moment to look at the offer
        Press(hDlg, IDC_BTN_UPDATE);

        const int nClosesBefore = ClientCloseCount(strClientLog);
        bool bDownloadingShot = false;
        bool bInstallingShot = false;
        int nResult = 1;
        WaitUntil(
            [&] {
                if (!::IsWindow(hDlg)) {
                    nResult = 0;
                    return true;
                }
                HWND hBar = ::GetDlgItem(hDlg, IDC_PROGRESS);
                const LRESULT nPos = ::SendMessageA(hBar, PBM_GETPOS, 0, 0);
                if (!bDownloadingShot && nPos >= 1) {
                    Shoot(hDlg, "downloading");
                    bDownloadingShot = true;
                }
                if (!bInstallingShot && ClientCloseCount(strClientLog) > nClosesBefore) {
                    Settle(30);
                    if (::IsWindow(hDlg)) Shoot(hDlg, "installing");
                    bInstallingShot = true;
                }
                const std::string strNow = ControlText(hDlg, IDC_TXT_MESSAGE);
                if (strNow == kConnectionFailed || strNow == kUpdateError) {
                    Settle(300);
                    Shoot(hDlg, "failed");
                    Press(hDlg, IDC_BTN_CLOSE);
                    return true;
                }
                return false;
            },
            dwTimeoutMs);
        return nResult;
    }

private:
    std::string m_strOutDir;
    bool m_bClick;
};

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    if (__argc < 4) return 2;
    std::string strOutDir = __argv[1];
    if (strOutDir.empty() || strOutDir.back() != '\\') strOutDir += '\\';
    const std::string strMode = __argv[2];
    if (strMode != "click" && strMode != "watch") return 2;
    const DWORD dwTimeoutMs = (__argc > 4 ? static_cast<DWORD>(std::atoi(__argv[4])) : 300) * 1000;

    HWND hDlg = FindTopWindow("在线更新", 60000);
    if (!hDlg) {
        std::printf("DialogTourGui: no update dialog\n");
        return 1;
    }
    Tour tour(strOutDir, strMode == "click");
    return tour.Follow(hDlg, __argv[3], dwTimeoutMs);
}
