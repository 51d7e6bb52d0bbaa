// The upgrade notification dialog: its placement and drag band as pure
// checks, and the real dialog driven in NotifyGui.exe under the test display.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "support/Screenshot.h"
#include "support/TempDir.h"
#include "support/UiDriver.h"
#include "ui/DlgNotify.h"
#include "ui/DragByTopBand.h"
#include "ui/resource.h"

namespace {

const char kTitle[] = "QOVA升级通知";
const DWORD kStartTimeoutMs = 15000;

struct PlacementCase {
    const char* pszName;
    RECT rcTaskbar;
    RECT rcDialog;
    RECT rcDesktop;
    RECT rcExpected;
    RECT rcWorkArea = {0, 0, 1920, 1040};
    int nMargin = 5;  // at 100 %
};

TEST(PlaceAboveTaskbar, KeepsSizeAndSitsAboveTheTaskbarAtTheRightEdge) {
    const PlacementCase cases[] = {
        {"bottom taskbar on 1920x1080", {0, 1040, 1920, 1080}, {0, 0, 350, 231}, {0, 0, 1920, 1080},
         {1565, 804, 1915, 1035}},
        {"dialog anywhere keeps its size", {0, 1040, 1920, 1080}, {-400, 300, -50, 531}, {0, 0, 1920, 1080},
         {1565, 804, 1915, 1035}},
        {"no taskbar (empty rectangle): bottom right of the work area", {0, 0, 0, 0}, {0, 0, 350, 231},
         {0, 0, 1920, 1080}, {1565, 804, 1915, 1035}},
        {"a taskbar without size, work area the whole screen", {0, 0, 0, 0}, {0, 0, 430, 231},
         {0, 0, 1280, 800}, {845, 564, 1275, 795}, {0, 0, 1280, 800}},
        {"no taskbar, work area off the origin", {100, 700, 100, 700}, {0, 0, 350, 231}, {0, 0, 1920, 1080},
         {1565, 404, 1915, 635}, {200, 100, 1920, 640}},
        {"taskbar at the top", {0, 0, 1920, 40}, {0, 0, 350, 231}, {0, 0, 1920, 1080}, {1565, -236, 1915, -5}},
        {"taskbar at the left side", {0, 0, 60, 1080}, {0, 0, 350, 231}, {0, 0, 1920, 1080},
         {1565, -236, 1915, -5}},
        {"taller bottom taskbar, smaller screen", {0, 728, 1280, 800}, {0, 0, 430, 231}, {0, 0, 1280, 800},
         {845, 492, 1275, 723}},
        {"desktop width counts, not its right edge", {0, 1040, 1920, 1080}, {0, 0, 350, 231},
         {-1920, 0, 0, 1080}, {1565, 804, 1915, 1035}},
        {"150 %: margin 8", {0, 1040, 1920, 1080}, {0, 0, 525, 347}, {0, 0, 1920, 1080},
         {1387, 685, 1912, 1032}, {0, 0, 1920, 1040}, 8},
    };
    for (const PlacementCase& c : cases) {
        RECT rc = PlaceAboveTaskbar(c.rcTaskbar, c.rcDialog, c.rcDesktop, c.rcWorkArea, c.nMargin);
        EXPECT_EQ(rc.left, c.rcExpected.left) << c.pszName;
        EXPECT_EQ(rc.top, c.rcExpected.top) << c.pszName;
        EXPECT_EQ(rc.right, c.rcExpected.right) << c.pszName;
        EXPECT_EQ(rc.bottom, c.rcExpected.bottom) << c.pszName;
    }
}

TEST(DragBand, OnlyTheTopBandMovesTheWindow) {
    const struct {
        POINT pt;
        int nBand;
        bool bMoves;
    } cases[] = {
        {{100, 0}, 30, true}, {{100, 29}, 30, true}, {{100, 30}, 30, false}, {{100, 31}, 30, false},
        {{5, 200}, 30, false}, {{-3, -2}, 30, true},  // captured presses left of or above the client area
        {{100, 44}, 45, true}, {{100, 45}, 45, false},  // 150 %
    };
    for (const auto& c : cases) EXPECT_EQ(IsInDragBand(c.pt, c.nBand), c.bMoves) << c.pt.x << "," << c.pt.y;
}

TEST(DragBand, PostsCaptionPressWithThePackedClientPoint) {
    HWND hWnd = ::CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(hWnd);
    const struct {
        POINT pt;
        bool bPosted;
        LPARAM lExpected;
    } cases[] = {
        {{12, 29}, true, MAKELPARAM(12, 29)},
        {{-3, 5}, true, static_cast<LPARAM>(0x0005FFFD)},
        {{12, 30}, false, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DragByTopBand(hWnd, c.pt, 30), c.bPosted) << c.pt.y;
        MSG msg;
        bool bFound = ::PeekMessageA(&msg, hWnd, WM_NCLBUTTONDOWN, WM_NCLBUTTONDOWN, PM_REMOVE) != FALSE;
        EXPECT_EQ(bFound, c.bPosted) << c.pt.y;
        if (bFound) {
            EXPECT_EQ(msg.wParam, static_cast<WPARAM>(HTCAPTION));
            EXPECT_EQ(msg.lParam, c.lExpected);
        }
    }
    ::DestroyWindow(hWnd);
}

// One NotifyGui.exe run.
class NotifyRun {
public:
    bool Start(const std::string& strCur, const std::string& strNew) {
        std::string strCmd = "\"" + TestProgramDir() + "NotifyGui.exe\" \"" + strCur + "\" \"" + strNew + "\"";
        if (!m_process.Start(strCmd)) return false;
        m_hDlg = FindTopWindow(kTitle, kStartTimeoutMs, m_process.Id());
        return m_hDlg != nullptr;
    }
    HWND Dlg() const { return m_hDlg; }
    // DoModal's result as the exit code; -2 when the program did not end.
    int Result(DWORD dwTimeoutMs = 10000) {
        DWORD dwCode = 0;
        return m_process.Wait(dwTimeoutMs, &dwCode) ? static_cast<int>(dwCode) : -2;
    }

private:
    UiProcess m_process;
    HWND m_hDlg = nullptr;
};

HWND FindChildByText(HWND hDlg, const std::string& strText) {
    for (HWND h = ::GetWindow(hDlg, GW_CHILD); h; h = ::GetWindow(h, GW_HWNDNEXT)) {
        if (strText == WindowText(h)) return h;
    }
    return nullptr;
}

TEST(NotifyDialog, ShowsTheVersionsAndKeepsTheSpareTextHidden) {
    const struct {
        const char* pszCur;
        const char* pszNew;
    } cases[] = {{"4.0.1007.0715", "4.0.1008.0801"}, {"", ""}};
    for (const auto& c : cases) {
        NotifyRun run;
        ASSERT_TRUE(run.Start(c.pszCur, c.pszNew));
        EXPECT_EQ(ControlText(run.Dlg(), IDC_TXT_CURVERSION), c.pszCur);
        EXPECT_EQ(ControlText(run.Dlg(), IDC_TXT_NOTIFY_NEWVER), c.pszNew);
        EXPECT_TRUE(ControlVisible(run.Dlg(), IDC_TXT_CURVERSION));
        EXPECT_TRUE(ControlVisible(run.Dlg(), IDC_TXT_NOTIFY_NEWVER));
        HWND hSpare = FindChildByText(run.Dlg(), "可更新，");
        ASSERT_TRUE(hSpare);
        EXPECT_FALSE(::IsWindowVisible(hSpare));
        for (const char* pszText : {"QOVA有新版本", "是否要进行升级？", "当前版本：", "升级通知"}) {
            HWND hStatic = FindChildByText(run.Dlg(), pszText);
            EXPECT_TRUE(hStatic && ::IsWindowVisible(hStatic)) << pszText;
        }
        EXPECT_EQ(ControlText(run.Dlg(), IDC_BTN_UPGRADE), "立即升级");
        EXPECT_EQ(ControlText(run.Dlg(), IDC_BTN_LATER), "下次升级 ");
        for (int nId : {IDC_BTN_UPGRADE, IDC_BTN_LATER, IDC_BTN_CLOSE})  // read by their texts; the close mark's is "关闭"
            EXPECT_EQ(AccessibleName(::GetDlgItem(run.Dlg(), nId)), ControlText(run.Dlg(), nId)) << nId;
        ClickControl(run.Dlg(), IDC_BTN_LATER);
        EXPECT_EQ(run.Result(), IDNO);
    }
}

TEST(NotifyDialog, IsAboutThreeHundredFiftyByTwoThirtyOnePixelsAndPlacedByTheTaskbar) {
    NotifyRun run;
    ASSERT_TRUE(run.Start("4.0.1007.0715", "4.0.1008.0801"));
    RECT rc;
    ASSERT_TRUE(::GetWindowRect(run.Dlg(), &rc));
    EXPECT_NEAR(rc.right - rc.left, 350, 1);
    EXPECT_NEAR(rc.bottom - rc.top, 231, 1);

    RECT rcTaskbar = {0, 0, 0, 0};
    if (HWND hTaskbar = ::FindWindowA("Shell_TrayWnd", nullptr)) ::GetWindowRect(hTaskbar, &rcTaskbar);
    RECT rcDesktop;
    ::GetWindowRect(::GetDesktopWindow(), &rcDesktop);
    RECT rcWorkArea = rcDesktop;
    ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &rcWorkArea, 0);
    RECT rcExpected = PlaceAboveTaskbar(rcTaskbar, rc, rcDesktop, rcWorkArea, 5);
    EXPECT_EQ(rc.left, rcExpected.left);
    EXPECT_EQ(rc.top, rcExpected.top);
    // Wherever the taskbar is, the answer buttons must be reachable on the screen.
    EXPECT_GE(rc.top, rcDesktop.top);
    EXPECT_LE(rc.bottom, rcDesktop.bottom);
    ClickControl(run.Dlg(), IDC_BTN_CLOSE);
    EXPECT_EQ(run.Result(), IDNO);
}

TEST(NotifyDialog, ReturnsTheAnswerOfTheButtonPressed) {
    const struct {
        int nButton;
        int nResult;
    } cases[] = {{IDC_BTN_UPGRADE, IDYES}, {IDC_BTN_LATER, IDNO}, {IDC_BTN_CLOSE, IDNO}};
    for (const auto& c : cases) {
        NotifyRun run;
        ASSERT_TRUE(run.Start("4.0.1007.0715", "4.0.1008.0801"));
        ASSERT_TRUE(ClickControl(run.Dlg(), c.nButton));
        EXPECT_EQ(run.Result(), c.nResult) << c.nButton;
    }
}

TEST(NotifyDialog, AnswersByKeyboard) {
    // The focus starts on "立即升级"; Tab goes on to "下次升级 " and the close mark.
    const struct {
        const char* pszKeys;
        int nResult;
    } cases[] = {{"\r", IDYES}, {"\x1b", IDNO}, {" ", IDYES}, {"\t\r", IDNO}, {"^ ", IDNO}, {"\t\t\t\r", IDYES}};
    for (const auto& c : cases) {
        NotifyRun run;
        ASSERT_TRUE(run.Start("4.0.1007.0715", "4.0.1008.0801"));
        ::PostMessageA(run.Dlg(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);  // a stray IDOK answers nothing
        ASSERT_TRUE(TypeKeys(run.Dlg(), c.pszKeys));
        EXPECT_EQ(run.Result(), c.nResult) << c.pszKeys;
    }
}

TEST(NotifyDialog, DragsByTheTopBandOnly) {
    NotifyRun run;
    ASSERT_TRUE(run.Start("4.0.1007.0715", "4.0.1008.0801"));
    // Under the test display the taskbar is empty and the dialog sits above the screen.
    ASSERT_TRUE(MoveWindowTo(run.Dlg(), 200, 200));
    const struct {
        int y;
        bool bMoves;
    } cases[] = {{29, true}, {30, false}, {5, true}, {60, false}};
    for (const auto& c : cases) {
        RECT rcBefore;
        ::GetWindowRect(run.Dlg(), &rcBefore);
        ASSERT_TRUE(DragWithMouse(run.Dlg(), POINT{150, c.y}, 40, 30));
        RECT rcAfter;
        WaitUntil([&] { return ::GetWindowRect(run.Dlg(), &rcAfter) && rcAfter.left != rcBefore.left; }, c.bMoves ? 2000 : 300);
        if (c.bMoves) {
            // The mouse's absolute coordinates are scaled to 0..65535: a pixel may be lost.
            EXPECT_NEAR(rcAfter.left - rcBefore.left, 40, 1) << c.y;
            EXPECT_NEAR(rcAfter.top - rcBefore.top, 30, 1) << c.y;
        } else {
            EXPECT_EQ(rcAfter.left, rcBefore.left) << c.y;
            EXPECT_EQ(rcAfter.top, rcBefore.top) << c.y;
        }
    }
    ClickControl(run.Dlg(), IDC_BTN_LATER);
    EXPECT_EQ(run.Result(), IDNO);
}

// Mean colour of a rectangle of an image.
COLORREF MeanColor(const ScreenImage& image, const RECT& rc) {
    unsigned long long r = 0, g = 0, b = 0, n = 0;
    for (int y = rc.top; y < rc.bottom; ++y)
        for (int x = rc.left; x < rc.right; ++x) {
            COLORREF c = image.ColorAt(x, y);
            r += GetRValue(c);
            g += GetGValue(c);
            b += GetBValue(c);
            ++n;
        }
    return n ? RGB(r / n, g / n, b / n) : 0;
}

TEST(NotifyDialog, LooksFinishedOnScreenAndLightsUpTheButtonUnderTheMouse) {
    NotifyRun run;
    ASSERT_TRUE(run.Start("4.0.1007.0715", "4.0.1008.0801"));
    ASSERT_TRUE(MoveWindowTo(run.Dlg(), 300, 300));
    ::Sleep(300);
    ScreenImage shot = CaptureWindow(run.Dlg());
    ASSERT_FALSE(shot.IsEmpty());
    EXPECT_TRUE(shot.SavePng(ScreenshotDir() + "notify.png"));

    // The face is drawn: a blue top band, a light body, the globe on the left.
    COLORREF band = shot.ColorAt(175, 12);
    EXPECT_GT(GetBValue(band), 150);
    EXPECT_LT(GetRValue(band), 120);
    COLORREF body = shot.ColorAt(300, 70);
    EXPECT_GT(GetRValue(body), 220);
    // The version text is drawn in the dark blue of the texts.
    RECT rcVersion = ControlRect(run.Dlg(), IDC_TXT_CURVERSION);
    bool bDarkBlue = false;
    for (int y = rcVersion.top; y < rcVersion.bottom && !bDarkBlue; ++y)
        for (int x = rcVersion.left; x < rcVersion.right && !bDarkBlue; ++x) bDarkBlue = shot.ColorAt(x, y) == RGB(13, 61, 102);
    EXPECT_TRUE(bDarkBlue);

    // Hover turns the light button face blue.
    RECT rcButton = ControlRect(run.Dlg(), IDC_BTN_UPGRADE);
    RECT rcFaceStrip = {rcButton.left + 6, rcButton.top + 4, rcButton.left + 14, rcButton.bottom - 4};
    COLORREF normal = MeanColor(shot, rcFaceStrip);
    POINT ptCentre = {(rcButton.left + rcButton.right) / 2, (rcButton.top + rcButton.bottom) / 2};
    ::ClientToScreen(run.Dlg(), &ptCentre);
    ASSERT_TRUE(MoveMouseTo(ptCentre));
    COLORREF hover = normal;
    WaitUntil(
        [&] {
            hover = MeanColor(CaptureWindow(run.Dlg()), rcFaceStrip);
            return GetBValue(hover) > GetRValue(hover) + 40;
        },
        3000);
    EXPECT_LT(GetBValue(normal), GetRValue(normal) + 20);
    EXPECT_GT(GetBValue(hover), GetRValue(hover) + 40);
    SaveWindowScreenshot(run.Dlg(), "notify-hover");
    MoveMouseTo(POINT{5, 5});

    ClickControl(run.Dlg(), IDC_BTN_UPGRADE);
    EXPECT_EQ(run.Result(), IDYES);
}

}  // namespace
