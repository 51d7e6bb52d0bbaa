// The skinned dialogs at every display scale: the layout function against the
// 100 % design and the artwork drawn for each scale, a DPI change relaying a
// dialog out, and both real dialogs opened at 96, 120, 144 and 192 DPI.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>

#include "platform/skin/AlphaBitmap.h"
#include "platform/skin/ImageDialog.h"
#include "platform/skin/PNGPicture.h"
#include "platform/skin/ProgressBar.h"
#include "platform/skin/SkinDpi.h"
#include "platform/skin/StaticText.h"
#include "support/DisplayScale.h"
#include "support/Installation.h"
#include "support/Screenshot.h"
#include "support/TempDir.h"
#include "support/TestServer.h"
#include "support/UiDriver.h"
#include "ui/DialogLayout.h"
#include "ui/DlgNotify.h"  // PlaceAboveTaskbar
#include "ui/resource.h"

namespace {

const UINT kScales[] = {96, 120, 144, 168, 192};
const UINT kTemplates[] = {IDD_UPDATE, IDD_NOTIFY};

std::string Text(const RECT& rc) {
    return std::to_string(rc.left) + "," + std::to_string(rc.top) + "," + std::to_string(rc.right) + "," +
           std::to_string(rc.bottom);
}

// |actual - design x scale| <= nSlack on every edge.
::testing::AssertionResult IsScaled(const RECT& rc, const RECT& rcDesign, UINT nDpi, double dSlack) {
    const double s = nDpi / 96.0;
    const LONG design[] = {rcDesign.left, rcDesign.top, rcDesign.right, rcDesign.bottom};
    const LONG actual[] = {rc.left, rc.top, rc.right, rc.bottom};
    for (int i = 0; i < 4; ++i)
        if (std::fabs(actual[i] - design[i] * s) > dSlack)
            return ::testing::AssertionFailure() << Text(rc) << " is not " << Text(rcDesign) << " x " << s;
    return ::testing::AssertionSuccess();
}

bool IsBlue(COLORREF c) { return GetBValue(c) > GetRValue(c) + 60; }
bool IsLight(COLORREF c) { return GetRValue(c) > 225 && GetGValue(c) > 225 && GetBValue(c) > 225; }

// Rows of the blue band from the top, down the column x.
int BandRows(const ScreenImage& image, int x) {
    int y = 0;
    while (y < image.Height() && IsBlue(image.ColorAt(x, y))) ++y;
    return y;
}

ScreenImage ImageOf(const CAlphaBitmap& bitmap) {
    ScreenImage image(bitmap.Width(), bitmap.Height());
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), bitmap.Width(), -bitmap.Height(), 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    HDC hdc = ::GetDC(nullptr);
    ::GetDIBits(hdc, bitmap.Get(), 0, bitmap.Height(), image.Data(), &info, DIB_RGB_COLORS);
    ::ReleaseDC(nullptr, hdc);
    return image;
}

// --- the layout function -----------------------------------------------------

TEST(DialogLayout, EveryControlAtEachScaleIsItsHundredPercentPlaceScaledAndHoldsItsArtwork) {
    for (UINT nTemplate : kTemplates) {
        const SDialogLayout design = LayoutDialog(nTemplate, 96);
        ASSERT_EQ(design.controls.size(), nTemplate == IDD_UPDATE ? 11u : 10u);
        for (UINT nDpi : kScales) {
            const SDialogLayout layout = LayoutDialog(nTemplate, nDpi);
            const std::string strAt = std::to_string(nTemplate) + " at " + std::to_string(nDpi);
            const RECT rcWindow = {0, 0, layout.size.cx, layout.size.cy};
            const RECT rcDesignWindow = {0, 0, design.size.cx, design.size.cy};
            EXPECT_TRUE(IsScaled(rcWindow, rcDesignWindow, nDpi, 0.5)) << strAt;
            EXPECT_NEAR(layout.nBandHeight, 30 * nDpi / 96.0, 0.5) << strAt;
            EXPECT_NEAR(layout.nTaskbarMargin, 5 * nDpi / 96.0, 0.5) << strAt;
            EXPECT_EQ(layout.nFontHeight, ::MulDiv(9, nDpi, 72)) << strAt;  // 9 points
            ASSERT_EQ(layout.controls.size(), design.controls.size()) << strAt;
            for (size_t i = 0; i < layout.controls.size(); ++i) {
                const SkinControlPlace& place = layout.controls[i];
                EXPECT_EQ(place.nId, design.controls[i].nId) << strAt;
                EXPECT_TRUE(IsScaled(place.rc, design.controls[i].rc, nDpi, 1.0)) << strAt << " #" << i;
                RECT rcInside;
                EXPECT_TRUE(::IntersectRect(&rcInside, &place.rc, &rcWindow) && ::EqualRect(&rcInside, &place.rc))
                    << strAt << " #" << i << " leaves the window";
            }

            // The artwork drawn for this scale fits where the layout puts it.
            CAlphaBitmap face;
            ASSERT_TRUE(face.LoadPng(nTemplate == IDD_UPDATE ? IDP_UPDATE_FACE : IDP_NOTIFY_FACE, nullptr, nDpi));
            EXPECT_EQ(face.Width(), layout.size.cx) << strAt;
            // Drawn 230 high at 100 % for a window of 231: the face repeats its middle lines.
            EXPECT_NEAR(face.Height(), layout.size.cy, 2) << strAt;
            EXPECT_EQ(BandRows(ImageOf(face), face.Width() / 2), layout.nBandHeight) << strAt;
            for (const SkinControlPlace& place : layout.controls) {
                const int cx = place.rc.right - place.rc.left;
                const int cy = place.rc.bottom - place.rc.top;
                UINT nFace = 0;
                if (place.nId == IDC_BTN_UPDATE || place.nId == IDC_BTN_LATER || place.nId == IDC_BTN_UPGRADE ||
                    (place.nId == IDC_BTN_CLOSE && nTemplate == IDD_UPDATE))
                    nFace = IDP_BTN_NORMAL;
                else if (place.nId == IDC_BTN_CLOSEX || (place.nId == IDC_BTN_CLOSE && nTemplate == IDD_NOTIFY))
                    nFace = IDP_CLOSEX_NORMAL;
                if (nFace) {
                    // At 1:1: never larger than the button by more than the skin shows unshrunk.
                    CAlphaBitmap button;
                    ASSERT_TRUE(button.LoadPng(nFace, nullptr, nDpi));
                    RECT rcFit = SkinFitImage(button.Width(), button.Height(), cx, cy);
                    EXPECT_EQ(rcFit.right - rcFit.left, button.Width()) << strAt << " " << place.nId;
                }
                if (place.nId == IDC_PROGRESS) {
                    CAlphaBitmap track;
                    ASSERT_TRUE(track.LoadBitmap(IDB_PROGRESS_TRACK, nullptr, nDpi));
                    EXPECT_EQ(track.Width(), cx) << strAt;
                    EXPECT_EQ(track.Height(), cy) << strAt;
                }
            }
        }
    }
    EXPECT_TRUE(LayoutDialog(IDD_UPDATE + 7, 96).controls.empty());
}

INT_PTR CALLBACK PlainDialogProc(HWND, UINT nMsg, WPARAM, LPARAM) { return nMsg == WM_INITDIALOG; }

TEST(DialogLayout, AtOneHundredPercentIsWhereTheTemplatesPutTheControls) {
    for (UINT nTemplate : kTemplates) {
        HWND hDlg = ::CreateDialogParamA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(nTemplate), nullptr,
                                         &PlainDialogProc, 0);
        ASSERT_TRUE(hDlg) << nTemplate;
        const SDialogLayout layout = LayoutDialog(nTemplate, 96);
        RECT rc;
        ::GetWindowRect(hDlg, &rc);
        EXPECT_NEAR(rc.right - rc.left, layout.size.cx, 1) << nTemplate;
        EXPECT_NEAR(rc.bottom - rc.top, layout.size.cy, 1) << nTemplate;
        HWND hChild = ::GetWindow(hDlg, GW_CHILD);
        for (const SkinControlPlace& place : layout.controls) {
            ASSERT_TRUE(hChild) << nTemplate;
            EXPECT_EQ(static_cast<WORD>(::GetDlgCtrlID(hChild)), static_cast<WORD>(place.nId)) << nTemplate;
            ::GetWindowRect(hChild, &rc);
            ::MapWindowPoints(nullptr, hDlg, reinterpret_cast<LPPOINT>(&rc), 2);
            EXPECT_TRUE(IsScaled(rc, place.rc, 96, 1.0)) << nTemplate << " id " << place.nId;
            hChild = ::GetWindow(hChild, GW_HWNDNEXT);
        }
        EXPECT_FALSE(hChild) << nTemplate << ": a control the layout does not know";
        ::DestroyWindow(hDlg);
    }
}

TEST(SkinArtwork, ADpiBetweenTheDrawnScalesResamplesTheNextLargerDrawing) {
    const struct {
        UINT nDpi;
        UINT nDrawnDpi;
        int cxIcon;
    } cases[] = {{96, 96, 84}, {110, 120, 96}, {144, 144, 126}, {180, 192, 158}, {240, 192, 210}};
    for (const auto& c : cases) {
        EXPECT_EQ(SkinArtworkFor(IDP_ICON_OFFER, c.nDpi).nDrawnDpi, c.nDrawnDpi) << c.nDpi;
        CAlphaBitmap icon;
        ASSERT_TRUE(icon.LoadPng(IDP_ICON_OFFER, nullptr, c.nDpi)) << c.nDpi;
        EXPECT_EQ(icon.Width(), c.cxIcon) << c.nDpi;
        CAlphaBitmap track;
        ASSERT_TRUE(track.LoadBitmap(IDB_PROGRESS_TRACK, nullptr, c.nDpi)) << c.nDpi;
        EXPECT_NEAR(track.Width(), 300 * c.nDpi / 96.0, 1) << c.nDpi;
    }
}

// --- a DPI change ---------------------------------------------------------------

// A dialog on the update template with the widgets of the update dialog, laid
// out as it is, told by the test that its monitor changed scale.
class CUpdateProbe : public CImageDialog {
public:
    CUpdateProbe() : CImageDialog(IDD_UPDATE, nullptr) {}
    std::function<void(CUpdateProbe&)> m_fnCheck;
    CPNGPicture m_picIcon;
    CProgressBar m_progress;
    CStaticText m_txtMessage;

protected:
    bool GetLayout(UINT nDpi, SkinWindowLayout& layout) override {
        layout = LayoutDialog(IDD_UPDATE, nDpi);
        return true;
    }
    void DoDataExchange(CDataExchange* pDX) override {
        CImageDialog::DoDataExchange(pDX);
        DDX_Control(pDX, IDC_PIC_ICON, m_picIcon);
        DDX_Control(pDX, IDC_PROGRESS, m_progress);
        DDX_Control(pDX, IDC_TXT_MESSAGE, m_txtMessage);
    }
    BOOL OnInitDialog() override {
        CImageDialog::OnInitDialog();
        SetBackPicture(2, IDP_UPDATE_FACE, nullptr, false);
        m_picIcon.SetPicture(IDP_ICON_OFFER, nullptr);
        m_progress.SetBmpResource(IDB_PROGRESS_TRACK, IDB_PROGRESS_LEFT, IDB_PROGRESS_MIDDLE, IDB_PROGRESS_RIGHT);
        m_txtMessage.SetFontSize(12, 0);
        ::PostMessageA(m_hWnd, WM_APP + 3, 0, 0);
        return TRUE;
    }
    bool OnMessage(UINT nMsg, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override {
        if (nMsg != WM_APP + 3) return CImageDialog::OnMessage(nMsg, wParam, lParam, pResult);
        m_fnCheck(*this);
        EndDialog(IDOK);
        return true;
    }
};

RECT ClientRectIn(HWND hDlg, HWND hChild) {
    RECT rc;
    ::GetWindowRect(hChild, &rc);
    ::MapWindowPoints(nullptr, hDlg, reinterpret_cast<LPPOINT>(&rc), 2);
    return rc;
}

int FontHeight(HGDIOBJ hFont) {
    LOGFONTA lf = {};
    ::GetObjectA(hFont, sizeof(lf), &lf);
    return std::abs(lf.lfHeight);
}

TEST(DialogScale, ADpiChangeRelaysTheDialogOutAtTheSuggestedRectangleWithItsImagesAndFonts) {
    CUpdateProbe dlg;
    dlg.m_fnCheck = [](CUpdateProbe& d) {
        for (UINT nDpi : {144u, 192u, 120u, 96u}) {
            // What Windows sends when the dialog lands on a monitor of that scale.
            const SDialogLayout layout = LayoutDialog(IDD_UPDATE, nDpi);
            const RECT rcSuggested = {200, 150, 200 + layout.size.cx, 150 + layout.size.cy};
            SIZE size = {0, 0};
            EXPECT_TRUE(::SendMessageA(d.m_hWnd, WM_GETDPISCALEDSIZE, nDpi, reinterpret_cast<LPARAM>(&size)));
            EXPECT_EQ(size.cx, layout.size.cx) << nDpi;
            EXPECT_EQ(size.cy, layout.size.cy) << nDpi;
            ::SendMessageA(d.m_hWnd, WM_DPICHANGED, MAKEWPARAM(nDpi, nDpi), reinterpret_cast<LPARAM>(&rcSuggested));

            EXPECT_EQ(d.GetDpi(), nDpi);
            RECT rc;
            ::GetWindowRect(d.m_hWnd, &rc);
            EXPECT_TRUE(::EqualRect(&rc, &rcSuggested)) << nDpi << ": " << Text(rc);
            HWND hChild = ::GetWindow(d.m_hWnd, GW_CHILD);
            for (const SkinControlPlace& place : layout.controls) {
                ASSERT_TRUE(hChild);
                RECT rcChild = ClientRectIn(d.m_hWnd, hChild);
                // A picture keeps its place and takes the size of the image drawn for the scale.
                if (place.nId == IDC_PIC_ICON) EXPECT_TRUE(IsScaled(rcChild, RECT{12, 53, 96, 137}, nDpi, 1.0)) << nDpi;
                else EXPECT_TRUE(::EqualRect(&rcChild, &place.rc)) << nDpi << " id " << place.nId << ": " << Text(rcChild);
                hChild = ::GetWindow(hChild, GW_HWNDNEXT);
            }
            RECT rcBar;
            d.m_progress.GetClientRect(&rcBar);
            d.m_progress.SetRange(0, 2);
            d.m_progress.SetProgress(1);
            EXPECT_EQ(d.m_progress.GetFilledWidth(), rcBar.right / 2) << nDpi;
            // 9-point texts at the new DPI: the skinned ones, and the others and the captions in the dialog font.
            EXPECT_EQ(FontHeight(d.m_txtMessage.GetDrawFont()), layout.nFontHeight) << nDpi;
            HWND hButton = ::GetDlgItem(d.m_hWnd, IDC_BTN_UPDATE);
            EXPECT_EQ(FontHeight(reinterpret_cast<HGDIOBJ>(::SendMessageA(hButton, WM_GETFONT, 0, 0))),
                      layout.nFontHeight)
                << nDpi;
            // The face drawn for the new scale.
            EXPECT_EQ(BandRows(PrintClient(d.m_hWnd), layout.size.cx / 2), layout.nBandHeight) << nDpi;
        }
    };
    EXPECT_EQ(dlg.DoModal(), IDOK);
}

// --- both dialogs on the screen at 100, 125, 150 and 200 % ----------------------------

const char kNotifyTitle[] = "QOVA升级通知";
const char kUpdateTitle[] = "在线更新";

// The checks the screenshot tests make at 100 %, at any scale: a blue band of
// the layout's height, a light body, the dark frame at the edges, and text of
// the given colour inside the control nTextId.
void ExpectSkinnedLook(HWND hDlg, const ScreenImage& shot, UINT nDpi, int nTextId, COLORREF crText,
                       const std::string& strWhat) {
    ASSERT_FALSE(shot.IsEmpty()) << strWhat;
    const double s = nDpi / 96.0;
    const int cx = shot.Width();
    const int cy = shot.Height();
    EXPECT_NEAR(BandRows(shot, cx / 2), 30 * s, 2) << strWhat;
    EXPECT_TRUE(IsBlue(shot.ColorAt(cx / 2, static_cast<int>(12 * s)))) << strWhat;
    EXPECT_TRUE(IsLight(shot.ColorAt(cx - static_cast<int>(20 * s), static_cast<int>(60 * s)))) << strWhat;
    for (POINT pt : {POINT{0, cy / 2}, POINT{cx - 1, cy / 2}, POINT{cx / 2, cy - 1}}) {
        const COLORREF edge = shot.ColorAt(pt.x, pt.y);
        EXPECT_TRUE(IsBlue(edge) && GetRValue(edge) < 60) << strWhat << " edge at " << pt.x << "," << pt.y;
    }
    // The foot: grey, lighter than the frame, darker than the body.
    const COLORREF foot = shot.ColorAt(static_cast<int>(20 * s), cy - static_cast<int>(10 * s));
    EXPECT_TRUE(GetRValue(foot) > 225 && GetRValue(foot) < 245) << strWhat;
    const RECT rcText = ControlRect(hDlg, nTextId);
    int nInk = 0;
    for (int y = rcText.top; y < rcText.bottom; ++y)
        for (int x = rcText.left; x < rcText.right; ++x) nInk += shot.ColorAt(x, y) == crText;
    EXPECT_GT(nInk, static_cast<int>(10 * s * s)) << strWhat << ": text";
}

void ExpectScaledControl(HWND hDlg, int nId, const RECT& rcAtHundred, UINT nDpi, const std::string& strWhat) {
    const RECT rc = ControlRect(hDlg, nId);
    EXPECT_TRUE(IsScaled(rc, rcAtHundred, nDpi, 2.0)) << strWhat << " control " << nId;
}

void ExpectWindowSize(HWND hDlg, SIZE sizeAtHundred, UINT nDpi, const std::string& strWhat) {
    RECT rc;
    ::GetWindowRect(hDlg, &rc);
    EXPECT_NEAR(rc.right - rc.left, sizeAtHundred.cx * nDpi / 96.0, 2) << strWhat;
    EXPECT_NEAR(rc.bottom - rc.top, sizeAtHundred.cy * nDpi / 96.0, 2) << strWhat;
}

// Presses just inside and just below the band: only the first moves the window.
void ExpectDragBand(HWND hDlg, UINT nDpi, const std::string& strWhat) {
    const int nBand = SkinScale(30, nDpi);
    for (int y : {nBand - 1, nBand}) {
        RECT rcBefore;
        ::GetWindowRect(hDlg, &rcBefore);
        ASSERT_TRUE(DragWithMouse(hDlg, POINT{SkinScale(150, nDpi), y}, 40, 30));
        RECT rcAfter;
        const bool bMoves = y < nBand;
        WaitUntil([&] { return ::GetWindowRect(hDlg, &rcAfter) && rcAfter.left != rcBefore.left; }, bMoves ? 2000 : 300);
        EXPECT_NEAR(rcAfter.left - rcBefore.left, bMoves ? 40 : 0, 1) << strWhat << " press at y " << y;
    }
}

TEST(DialogScale, BothDialogsAtOneHundredTwentyFiveFiftyAndTwoHundredPercent) {
    TestInstallation inst("4.0.1007.0715", "CN", false);
    ASSERT_TRUE(inst.PublishProgram({"4.0.1008.0801", "CN", -1, -1, {{"a.dll", "new a"}}}));
    const struct {
        UINT nDpi;
        int nTaskbarMargin;
    } scales[] = {{96, 5}, {120, 6}, {144, 8}, {192, 10}};
    for (const auto& row : scales) {
        const UINT nDpi = row.nDpi;
        const std::string strPercent = std::to_string(nDpi * 100 / 96);
        ScopedLogPixels scale(nDpi);
        ASSERT_TRUE(scale.IsSet());

        // The notification, shown by the silent update's dialog class.
        {
            const std::string strWhat = "notification at " + strPercent + " %";
            UiProcess process;
            ASSERT_TRUE(process.Start("\"" + TestProgramDir() + "NotifyGui.exe\" 4.0.1007.0715 4.0.1008.0801"));
            HWND hDlg = FindTopWindow(kNotifyTitle, 15000, process.Id());
            ASSERT_TRUE(hDlg) << strWhat;
            ExpectWindowSize(hDlg, SIZE{350, 231}, nDpi, strWhat);
            // Placed by the taskbar (under Wine: the work area's corner) with the margin of its scale.
            RECT rc;
            ::GetWindowRect(hDlg, &rc);
            RECT rcTaskbar = {0, 0, 0, 0};
            if (HWND hTaskbar = ::FindWindowA("Shell_TrayWnd", nullptr)) ::GetWindowRect(hTaskbar, &rcTaskbar);
            RECT rcDesktop;
            ::GetWindowRect(::GetDesktopWindow(), &rcDesktop);
            RECT rcWorkArea = rcDesktop;
            ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &rcWorkArea, 0);
            const RECT rcPlaced = PlaceAboveTaskbar(rcTaskbar, rc, rcDesktop, rcWorkArea, row.nTaskbarMargin);
            EXPECT_EQ(rc.left, rcPlaced.left) << strWhat;
            EXPECT_EQ(rc.top, rcPlaced.top) << strWhat;
            ExpectScaledControl(hDlg, IDC_BTN_UPGRADE, RECT{132, 194, 212, 224}, nDpi, strWhat);
            ExpectScaledControl(hDlg, IDC_BTN_LATER, RECT{230, 194, 310, 224}, nDpi, strWhat);
            ExpectScaledControl(hDlg, IDC_BTN_CLOSE, RECT{309, 2, 347, 25}, nDpi, strWhat);
            ASSERT_TRUE(MoveWindowTo(hDlg, 40, 40));
            ::Sleep(300);
            ScreenImage shot = CaptureWindow(hDlg);
            EXPECT_TRUE(shot.SavePng(ScreenshotDir() + "notify-" + strPercent + ".png"));
            ExpectSkinnedLook(hDlg, shot, nDpi, IDC_TXT_CURVERSION, RGB(13, 61, 102), strWhat);
            if (nDpi != 96) ExpectDragBand(hDlg, nDpi, strWhat);  // 100 %: ut_dlgnotify
            ClickControl(hDlg, IDC_BTN_LATER);
            DWORD dwCode = 0;
            EXPECT_TRUE(process.Wait(10000, &dwCode)) << strWhat;
            EXPECT_EQ(dwCode, static_cast<DWORD>(IDNO)) << strWhat;
        }

        // The update dialog offering the new version.
        {
            const std::string strWhat = "update dialog at " + strPercent + " %";
            ASSERT_TRUE(inst.Serve());
            UiProcess process;
            ASSERT_TRUE(inst.StartUpdate(process, ""));
            HWND hDlg = FindTopWindow(kUpdateTitle, 20000, process.Id());
            ASSERT_TRUE(hDlg) << strWhat;
            ExpectWindowSize(hDlg, SIZE{430, 231}, nDpi, strWhat);
            ExpectScaledControl(hDlg, IDC_PIC_ICON, RECT{12, 53, 96, 137}, nDpi, strWhat);
            ExpectScaledControl(hDlg, IDC_PIC_HEADING, RECT{111, 53, 243, 73}, nDpi, strWhat);
            ExpectScaledControl(hDlg, IDC_PROGRESS, RECT{105, 86, 405, 98}, nDpi, strWhat);
            ExpectScaledControl(hDlg, IDC_BTN_UPDATE, RECT{249, 194, 329, 224}, nDpi, strWhat);
            ExpectScaledControl(hDlg, IDC_BTN_CLOSE, RECT{339, 194, 419, 224}, nDpi, strWhat);
            ExpectScaledControl(hDlg, IDC_BTN_CLOSEX, RECT{386, 3, 425, 26}, nDpi, strWhat);
            ASSERT_TRUE(MoveWindowTo(hDlg, 40, 40));
            ::Sleep(300);
            ScreenImage shot = CaptureWindow(hDlg);
            EXPECT_TRUE(shot.SavePng(ScreenshotDir() + "update-" + strPercent + ".png"));
            ExpectSkinnedLook(hDlg, shot, nDpi, IDC_TXT_MESSAGE, RGB(51, 51, 51), strWhat);
            ClickControl(hDlg, IDC_BTN_CLOSE);
            EXPECT_TRUE(process.Wait(10000, nullptr)) << strWhat;
        }
    }
}

}  // namespace
