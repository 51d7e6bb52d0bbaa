// The dialog framework and the skin widgets: their geometry as tables, a real
// dialog on the update template run in this process, and the showcase dialog
// of every widget looked at on the screen.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <stdexcept>
#include <string>

#include "platform/dialog/AfxString.h"
#include "platform/dialog/MessageMap.h"
#include "platform/skin/ImageButtonX.h"
#include "platform/skin/ImageDialog.h"
#include "platform/skin/PNGPicture.h"
#include "platform/skin/ProgressBar.h"
#include "platform/skin/SkinContrast.h"
#include "platform/skin/SkinLayout.h"
#include "platform/skin/StaticText.h"
#include "support/Screenshot.h"
#include "support/TempDir.h"
#include "support/UiDriver.h"
#include "ui/resource.h"

namespace {

std::string Spans(const std::vector<SkinSpan>& spans) {
    std::string s;
    for (const SkinSpan& sp : spans)
        s += std::to_string(sp.nSrc) + "+" + std::to_string(sp.nSrcLen) + ">" + std::to_string(sp.nDst) + "+" +
             std::to_string(sp.nDstLen) + " ";
    return s;
}

TEST(SkinLayout, PictureSpansKeepBordersAndCoverTheTarget) {
    const struct {
        int nType, nImage, nTarget;
        const char* pszExpected;
    } cases[] = {
        {2, 230, 230, "0+230>0+230 "},
        {2, 230, 231, "0+115>0+115 115+1>115+1 115+115>116+115 "},  // one middle line repeated
        {2, 350, 360, "0+175>0+175 175+1>175+10 175+175>185+175 "},
        {2, 230, 228, "0+114>0+114 116+114>114+114 "},              // two middle lines dropped
        {2, 1, 5, "0+1>0+4 0+1>4+1 "},
        {1, 230, 231, "0+230>0+231 "},                              // stretched
        {2, 0, 10, ""},
        {2, 10, 0, ""},
    };
    for (const auto& c : cases) {
        std::vector<SkinSpan> spans = SkinAxisSpans(c.nType, c.nImage, c.nTarget);
        EXPECT_EQ(Spans(spans), c.pszExpected) << c.nType << " " << c.nImage << " -> " << c.nTarget;
        int nNext = 0;
        for (const SkinSpan& sp : spans) {
            EXPECT_EQ(sp.nDst, nNext);
            EXPECT_GE(sp.nSrc, 0);
            EXPECT_LE(sp.nSrc + sp.nSrcLen, c.nImage);
            nNext = sp.nDst + sp.nDstLen;
        }
        if (!spans.empty()) EXPECT_EQ(nNext, c.nTarget);
    }
}

TEST(SkinLayout, FacesAreCentredAtOneToOneOrShrunkWhenMuchLarger) {
    const struct {
        int cxImage, cyImage, cxBox, cyBox;
        RECT expected;
    } cases[] = {
        {73, 28, 80, 30, {3, 1, 76, 29}},   // button face in a 53 x 20 unit button
        {39, 22, 38, 23, {0, 0, 39, 22}},   // close mark one pixel wider: kept at 1:1
        {39, 22, 37, 22, {-1, 0, 38, 22}},  // two wider: still 1:1, clipped evenly
        {100, 50, 50, 50, {0, 12, 50, 37}}, // far too wide: shrunk to the width
        {50, 100, 50, 50, {12, 0, 37, 50}}, // far too tall: shrunk to the height
        {0, 10, 20, 20, {0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        RECT rc = SkinFitImage(c.cxImage, c.cyImage, c.cxBox, c.cyBox);
        EXPECT_TRUE(EqualRect(&rc, &c.expected)) << c.cxImage << "x" << c.cyImage << " in " << c.cxBox << "x" << c.cyBox
                                                 << ": " << rc.left << "," << rc.top << "," << rc.right << "," << rc.bottom;
    }
}

TEST(SkinLayout, FillWidthIsClampedAndNeverDividesByZero) {
    const struct {
        int nLower, nUpper, nPos, nWidth, nExpected;
    } cases[] = {
        {0, 5, 2, 300, 120}, {0, 5, 5, 300, 300}, {0, 5, 0, 300, 0},   {0, 5, 9, 300, 300},
        {0, 5, -3, 300, 0},  {0, 0, 0, 300, 0},   {0, 0, 7, 300, 0},   {5, 1, 3, 300, 0},
        {10, 20, 15, 300, 150}, {0, 100, 33, 300, 99},                 // rounds down
        {INT_MIN, INT_MAX, 0, 300, 150}, {0, INT_MAX, INT_MAX, 300, 300}, {0, 3, 1, 0, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SkinFillWidth(c.nLower, c.nUpper, c.nPos, c.nWidth), c.nExpected)
            << c.nLower << ".." << c.nUpper << " @" << c.nPos;
}

std::string Pieces(const std::vector<SkinFillPiece>& pieces) {
    std::string s;
    const char* names = "LMR";
    for (const SkinFillPiece& p : pieces)
        s += std::string(1, names[p.part]) + std::to_string(p.nSrcX) + ">" + std::to_string(p.nDstX) + "+" +
             std::to_string(p.nWidth) + " ";
    return s;
}

TEST(SkinLayout, FillIsLeftEndTiledMiddleAndRightEnd) {
    const struct {
        int nFill;
        const char* pszExpected;
    } cases[] = {
        {0, ""},
        {32, "L0>0+10 M0>10+5 M0>15+5 M0>20+2 R0>22+10 "},  // last tile cut
        {20, "L0>0+10 R0>10+10 "},
        {25, "L0>0+10 M0>10+5 R0>15+10 "},
        {7, "L0>0+4 R7>4+3 "},  // narrower than both ends: the outer parts of each
        {1, "L0>0+1 "},
    };
    for (const auto& c : cases) EXPECT_EQ(Pieces(SkinFillPieces(c.nFill, 10, 5, 10)), c.pszExpected) << c.nFill;
}

TEST(CString, HoldsUtf8TextAndComparesBytes) {
    CString empty;
    CString fromNull(static_cast<const char*>(nullptr));
    CString version("4.0.1007.0715");
    CString chinese("当前版本：");
    EXPECT_TRUE(empty.IsEmpty());
    EXPECT_TRUE(fromNull.IsEmpty());
    EXPECT_EQ(version.GetLength(), 13);
    EXPECT_EQ(chinese.GetLength(), 15);  // five characters, three UTF-8 bytes each
    EXPECT_TRUE(version == "4.0.1007.0715");
    EXPECT_TRUE("4.0.1007.0715" == version);
    EXPECT_TRUE(version != "4.0.1007.0716");
    EXPECT_FALSE(version == CString("4.0.1007.071"));
    CString joined = chinese + version;
    EXPECT_STREQ(static_cast<const char*>(joined), "当前版本：4.0.1007.0715");
    version = std::string("x");
    EXPECT_STREQ(version.GetString(), "x");
}

TEST(PngResource, EveryImageOfTheDialogsLoadsAtItsSizeAtEveryScale) {
    const struct {
        UINT nId;
        bool bPng;
        int cx, cy;  // at 100 %
    } cases[] = {
        {IDP_NOTIFY_FACE, true, 350, 230},    {IDP_UPDATE_FACE, true, 430, 230},
        {IDP_BTN_NORMAL, true, 73, 28},       {IDP_BTN_HOVER, true, 73, 28},
        {IDP_BTN_PRESSED, true, 73, 28},      {IDP_CLOSEX_NORMAL, true, 39, 22},
        {IDP_CLOSEX_HOVER, true, 39, 22},     {IDP_CLOSEX_PRESSED, true, 39, 22},
        {IDP_ICON_OFFER, true, 84, 84},       {IDP_ICON_UPTODATE, true, 80, 80},
        {IDP_HEAD_OFFER, true, 132, 20},      {IDP_HEAD_UPTODATE, true, 132, 20},
        {IDP_HEAD_DOWNLOADING, true, 214, 20}, {IDP_HEAD_INSTALLING, true, 214, 20},
        {IDB_PROGRESS_TRACK, false, 300, 12}, {IDB_PROGRESS_LEFT, false, 10, 12},
        {IDB_PROGRESS_MIDDLE, false, 5, 12},  {IDB_PROGRESS_RIGHT, false, 10, 12},
    };
    // The drawing at 100 + 25 k % has the id + 100 k and the size times the scale, rounded half up.
    for (int k = 0; k <= 4; ++k) {
        const int nPercent = 100 + 25 * k;
        for (const auto& c : cases) {
            const UINT nId = c.nId + 100 * k;
            CAlphaBitmap image;
            ASSERT_TRUE(c.bPng ? image.LoadPng(nId, nullptr) : image.LoadBitmap(nId, nullptr)) << nId;
            EXPECT_EQ(image.Width(), (c.cx * nPercent + 50) / 100) << nId;
            EXPECT_EQ(image.Height(), (c.cy * nPercent + 50) / 100) << nId;
        }
    }
    CAlphaBitmap missing;
    EXPECT_FALSE(missing.LoadPng(12345, nullptr));
    EXPECT_FALSE(missing.LoadPng(IDB_PROGRESS_TRACK, nullptr));  // a BITMAP, not a PNG
    EXPECT_FALSE(missing.IsLoaded());
}

// A dialog on the update template whose initialisation and handlers a test supplies.
class CProbeDialog : public CImageDialog {
public:
    CProbeDialog() : CImageDialog(IDD_UPDATE, nullptr) {}

    std::function<void(CProbeDialog&)> m_fnInit;
    CString m_strMessage = "探针消息";
    CString m_strMissing;
    bool m_bExchangeMissing = false;
    int m_nClicks = 0;
    CImageButtonX m_btnUpdate;
    CProgressBar m_progress;
    CPNGPicture m_picIcon;
    CStaticText m_txtMessage;

    using CDialog::UpdateData;

protected:
    void DoDataExchange(CDataExchange* pDX) override {
        CImageDialog::DoDataExchange(pDX);
        DDX_Text(pDX, IDC_TXT_MESSAGE, m_strMessage);
        if (m_bExchangeMissing) DDX_Text(pDX, 4242, m_strMissing);
        DDX_Control(pDX, IDC_BTN_UPDATE, m_btnUpdate);
        DDX_Control(pDX, IDC_PROGRESS, m_progress);
        DDX_Control(pDX, IDC_PIC_ICON, m_picIcon);
        DDX_Control(pDX, IDC_TXT_MESSAGE, m_txtMessage);
    }
    BOOL OnInitDialog() override {
        CImageDialog::OnInitDialog();
        SetBackPicture(2, IDP_UPDATE_FACE, nullptr, false);
        if (m_fnInit) m_fnInit(*this);
        return TRUE;
    }
    bool OnMessage(UINT nMsg, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override {
        static const MessageMap<CProbeDialog> map = {
            MapBnClicked<CProbeDialog>(IDC_BTN_UPDATE, &CProbeDialog::OnUpdate),
            MapMessage<CProbeDialog>(WM_APP + 7, &CProbeDialog::OnAnswer),
            MapMessage<CProbeDialog>(WM_APP + 8, &CProbeDialog::OnThrow),
        };
        return map.Dispatch(*this, nMsg, wParam, lParam, pResult) ||
               CImageDialog::OnMessage(nMsg, wParam, lParam, pResult);
    }

private:
    void OnUpdate() { ++m_nClicks; }
    LRESULT OnAnswer(WPARAM wParam, LPARAM lParam) { return static_cast<LRESULT>(wParam + lParam); }
    LRESULT OnThrow(WPARAM, LPARAM) { throw std::runtime_error("handler failed"); }
};

int CountColor(const ScreenImage& image, COLORREF color) {
    int n = 0;
    for (int y = 0; y < image.Height(); ++y)
        for (int x = 0; x < image.Width(); ++x) n += image.ColorAt(x, y) == color;
    return n;
}

bool IsGreen(COLORREF c) { return GetGValue(c) > GetRValue(c) + 40 && GetGValue(c) > GetBValue(c) + 40; }

TEST(DialogFramework, ExchangesDataBindsWidgetsAndEndsWithTheResult) {
    CProbeDialog dlg;
    dlg.m_fnInit = [](CProbeDialog& d) {
        // The exchange ran before OnInitDialog's own steps.
        EXPECT_EQ(ControlText(d.m_hWnd, IDC_TXT_MESSAGE), "探针消息");
        EXPECT_EQ(d.m_btnUpdate.m_hWnd, ::GetDlgItem(d.m_hWnd, IDC_BTN_UPDATE));
        EXPECT_EQ(d.GetDlgItem(IDC_BTN_UPDATE), &d.m_btnUpdate);
        EXPECT_EQ(CWnd::FromHandlePermanent(d.m_hWnd), &d);
        CWnd* pQuestion = d.GetDlgItem(IDC_TXT_QUESTION);
        ASSERT_TRUE(pQuestion);
        EXPECT_EQ(pQuestion, d.GetDlgItem(IDC_TXT_QUESTION));  // one wrapper per control
        EXPECT_EQ(d.GetDlgItem(4242), nullptr);
        pQuestion->ShowWindow(SW_HIDE);
        EXPECT_FALSE(pQuestion->IsWindowVisible());

        ::SetWindowTextW(::GetDlgItem(d.m_hWnd, IDC_TXT_MESSAGE), L"改过的消息");
        EXPECT_TRUE(d.UpdateData(TRUE));
        EXPECT_TRUE(d.m_strMessage == "改过的消息");
        d.m_bExchangeMissing = true;
        EXPECT_FALSE(d.UpdateData(FALSE));  // a missing control is reported, not a crash

        // The message map: clicks by id, results of private messages and of WM_CTLCOLOR*.
        ::SendMessageA(d.m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_BTN_UPDATE, BN_CLICKED), 0);
        ::SendMessageA(d.m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_BTN_CLOSE, BN_CLICKED), 0);
        EXPECT_EQ(d.m_nClicks, 1);
        EXPECT_EQ(::SendMessageA(d.m_hWnd, WM_APP + 7, 40, 2), 42);
        EXPECT_EQ(::SendMessageA(d.m_hWnd, WM_APP + 8, 0, 0), 0);  // a throwing handler is contained
        HDC hdc = ::GetDC(d.m_hWnd);
        LRESULT brush = ::SendMessageA(d.m_hWnd, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(hdc),
                                       reinterpret_cast<LPARAM>(::GetDlgItem(d.m_hWnd, IDC_TXT_QUESTION)));
        ::ReleaseDC(d.m_hWnd, hdc);
        EXPECT_EQ(reinterpret_cast<HGDIOBJ>(brush), ::GetStockObject(NULL_BRUSH));

        ::SendMessageA(d.m_hWnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);  // Enter: nothing
        EXPECT_TRUE(::IsWindow(d.m_hWnd));
        d.EndDialog(4321);
    };
    EXPECT_EQ(dlg.DoModal(), 4321);
    // The window is gone and every binding with it.
    EXPECT_EQ(dlg.m_hWnd, nullptr);
    EXPECT_EQ(dlg.m_btnUpdate.m_hWnd, nullptr);
    EXPECT_EQ(dlg.m_txtMessage.m_hWnd, nullptr);
    // The object can be shown again: the new controls are bound afresh.
    dlg.m_bExchangeMissing = false;
    dlg.m_fnInit = [](CProbeDialog& d) {
        EXPECT_EQ(ControlText(d.m_hWnd, IDC_TXT_MESSAGE), "改过的消息");
        EXPECT_EQ(d.m_txtMessage.m_hWnd, ::GetDlgItem(d.m_hWnd, IDC_TXT_MESSAGE));
        d.EndDialog(IDNO);
    };
    EXPECT_EQ(dlg.DoModal(), IDNO);
}

TEST(DialogFramework, EscapeEndsWithCancel) {
    CProbeDialog dlg;
    dlg.m_fnInit = [](CProbeDialog& d) { ::PostMessageA(d.m_hWnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0); };
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
}

TEST(SkinWidgets, DrawThemselvesOverTheFace) {
    CProbeDialog dlg;
    dlg.m_fnInit = [](CProbeDialog& d) {
        // Picture: takes the picture's size; a missing one is reported.
        EXPECT_TRUE(d.m_picIcon.SetPicture(IDP_ICON_OFFER, nullptr));
        RECT rc;
        d.m_picIcon.GetClientRect(&rc);
        EXPECT_EQ(rc.right, 84);
        EXPECT_EQ(rc.bottom, 84);
        EXPECT_TRUE(d.m_picIcon.SetPicture(IDP_ICON_UPTODATE, nullptr));
        d.m_picIcon.GetClientRect(&rc);
        EXPECT_EQ(rc.right, 80);
        EXPECT_FALSE(d.m_picIcon.SetPicture(54321, nullptr));

        // Progress bar: green up to the filled width, the grey track after it.
        EXPECT_TRUE(d.m_progress.SetBmpResource(IDB_PROGRESS_TRACK, IDB_PROGRESS_LEFT, IDB_PROGRESS_MIDDLE,
                                                IDB_PROGRESS_RIGHT));
        d.m_progress.GetClientRect(&rc);
        const struct {
            int nLower, nUpper, nPos;
        } bars[] = {{0, 5, 2}, {0, 100, 73}, {0, 0, 0}, {0, 5, 9}};
        for (const auto& b : bars) {
            d.m_progress.SetRange(b.nLower, b.nUpper);
            d.m_progress.SetProgress(b.nPos);
            int nFilled = SkinFillWidth(b.nLower, b.nUpper, b.nPos, rc.right);
            EXPECT_EQ(d.m_progress.GetFilledWidth(), nFilled);
            ScreenImage bar = PrintClient(d.m_progress.m_hWnd);
            int y = bar.Height() / 2;
            if (nFilled > 4) {
                EXPECT_TRUE(IsGreen(bar.ColorAt(nFilled / 2, y))) << b.nPos;
                EXPECT_TRUE(IsGreen(bar.ColorAt(nFilled - 4, y))) << b.nPos;
            }
            if (nFilled < rc.right - 4) {
                EXPECT_FALSE(IsGreen(bar.ColorAt(nFilled + 2, y))) << b.nPos;
                EXPECT_FALSE(IsGreen(bar.ColorAt(rc.right - 6, y))) << b.nPos;
            }
        }

        // Text: drawn in its colour; a changed text replaces the old one.
        const COLORREF kProbe = RGB(200, 20, 30);
        d.m_txtMessage.SetTextColor(kProbe);
        d.m_txtMessage.SetBold(true);
        d.m_txtMessage.SetWindowText("一二三四五六七八");
        EXPECT_GT(CountColor(PrintClient(d.m_txtMessage.m_hWnd), kProbe), 20);
        d.m_txtMessage.SetWindowText("");
        EXPECT_EQ(CountColor(PrintClient(d.m_txtMessage.m_hWnd), kProbe), 0);
        LOGFONTA lf = {};
        d.m_txtMessage.SetFontSize(12, 0);
        ::GetObjectA(d.m_txtMessage.GetDrawFont(), sizeof(lf), &lf);
        EXPECT_EQ(lf.lfHeight, -12);
        EXPECT_EQ(lf.lfWeight, FW_BOLD);
        d.m_txtMessage.SetHoverCursor(::LoadCursorA(nullptr, MAKEINTRESOURCEA(32649)));
        EXPECT_TRUE(::GetWindowLongPtrA(d.m_txtMessage.m_hWnd, GWL_STYLE) & SS_NOTIFY);

        // Button: owner-drawn, caption in the colour of its state, hover tracked.
        EXPECT_EQ(::GetWindowLongPtrA(d.m_btnUpdate.m_hWnd, GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW);
        d.m_btnUpdate.SetNormalImage(IDP_BTN_NORMAL, nullptr);
        d.m_btnUpdate.SetOverImage(IDP_BTN_HOVER, nullptr);
        d.m_btnUpdate.SetSelectImage(IDP_BTN_PRESSED, nullptr);
        d.m_btnUpdate.SetTextColor(1, RGB(51, 51, 51));
        d.m_btnUpdate.SetTextColor(2, RGB(255, 255, 255));
        d.m_btnUpdate.SetTextColor(7, RGB(1, 2, 3));  // no such state: ignored
        EXPECT_EQ(d.m_btnUpdate.GetTextColor(2), RGB(255, 255, 255));
        d.m_btnUpdate.SetShowText(false);
        EXPECT_EQ(CountColor(PrintClient(d.m_btnUpdate.m_hWnd), RGB(51, 51, 51)), 0);
        d.m_btnUpdate.SetShowText(true);
        EXPECT_GT(CountColor(PrintClient(d.m_btnUpdate.m_hWnd), RGB(51, 51, 51)), 10);
        EXPECT_EQ(d.m_btnUpdate.GetDrawState(), CImageButtonX::kNormal);
        ::SendMessageA(d.m_btnUpdate.m_hWnd, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
        ScreenImage hover = PrintClient(d.m_btnUpdate.m_hWnd);
        EXPECT_EQ(d.m_btnUpdate.GetDrawState(), CImageButtonX::kHover);
        EXPECT_GT(CountColor(hover, RGB(255, 255, 255)), 10);

        // Focus cue: hidden until the keyboard is used, always in high contrast, where texts take the system's colour.
        const struct { int nHighContrast; WORD wUiState; bool bCue; } cues[] = {{0, UIS_SET, false}, {0, UIS_CLEAR, true}, {1, UIS_SET, true}};
        d.m_txtMessage.SetWindowText("一二三四五六七八");
        for (const auto& q : cues) {
            SkinForceHighContrast(q.nHighContrast);
            ::SendMessageW(d.m_hWnd, WM_CHANGEUISTATE, MAKEWPARAM(q.wUiState, UISF_HIDEFOCUS), 0);
            ::SetFocus(d.m_progress.m_hWnd);
            const ScreenImage unfocused = PrintClient(d.m_btnUpdate.m_hWnd);
            ::SetFocus(d.m_btnUpdate.m_hWnd);
            const ScreenImage focused = PrintClient(d.m_btnUpdate.m_hWnd);
            const int nPixels = focused.Width() * focused.Height();
            EXPECT_EQ(!std::equal(focused.Data(), focused.Data() + nPixels, unfocused.Data()), q.bCue) << q.nHighContrast << " " << q.wUiState;
            EXPECT_GT(CountColor(PrintClient(d.m_txtMessage.m_hWnd), q.nHighContrast ? ::GetSysColor(COLOR_WINDOWTEXT) : kProbe), 20);
            if (q.nHighContrast) EXPECT_EQ(focused.ColorAt(0, 0), ::GetSysColor(COLOR_BTNTEXT));  // a system button's frame
        }
        SkinForceHighContrast(-1);
        d.EndDialog(IDOK);
    };
    EXPECT_EQ(dlg.DoModal(), IDOK);
}

// The showcase program: every widget of the update dialog on its template.
TEST(SkinShowcase, LooksFinishedAndRepaintsCleanly) {
    UiProcess process;
    ASSERT_TRUE(process.Start("\"" + TestProgramDir() + "SkinShowcaseGui.exe\""));
    HWND hDlg = FindTopWindow("QOVA皮肤控件", 15000, process.Id());
    ASSERT_TRUE(hDlg);
    RECT rc;
    ::GetWindowRect(hDlg, &rc);
    EXPECT_NEAR(rc.right - rc.left, 430, 1);
    EXPECT_NEAR(rc.bottom - rc.top, 231, 1);
    ASSERT_TRUE(MoveWindowTo(hDlg, 100, 100));
    ::Sleep(300);
    ScreenImage shot = CaptureWindow(hDlg);
    ASSERT_FALSE(shot.IsEmpty());
    EXPECT_TRUE(shot.SavePng(ScreenshotDir() + "skin-showcase.png"));

    // The bar at 2 of 5 is green over two fifths of its width.
    RECT rcBar = ControlRect(hDlg, IDC_PROGRESS);
    int y = (rcBar.top + rcBar.bottom) / 2;
    int nGreen = 0;
    for (int x = rcBar.left; x < rcBar.right; ++x) nGreen += IsGreen(shot.ColorAt(x, y));
    EXPECT_NEAR(nGreen, (rcBar.right - rcBar.left) * 2 / 5, 3);
    // The icon took its picture's size.
    RECT rcIcon = ControlRect(hDlg, IDC_PIC_ICON);
    EXPECT_EQ(rcIcon.right - rcIcon.left, 84);

    // Switching to the up-to-date state: smaller icon, hidden offer, new message.
    COLORREF body = shot.ColorAt(rcIcon.left + 82, rcIcon.bottom + 20);
    ::SendMessageA(hDlg, WM_APP + 1, 0, 0);
    ::Sleep(300);
    ScreenImage after = CaptureWindow(hDlg);
    EXPECT_TRUE(after.SavePng(ScreenshotDir() + "skin-showcase-uptodate.png"));
    EXPECT_FALSE(ControlVisible(hDlg, IDC_BTN_UPDATE));
    EXPECT_FALSE(ControlVisible(hDlg, IDC_TXT_QUESTION));
    EXPECT_EQ(ControlText(hDlg, IDC_TXT_MESSAGE), "您安装的QOVA已经是最新版本！");
    // Nothing of the larger old icon is left outside the new one.
    int nLeftover = 0;
    for (int yy = rcIcon.top; yy < rcIcon.bottom; ++yy)
        for (int x = rcIcon.left + 81; x < rcIcon.left + 84; ++x) nLeftover += after.ColorAt(x, yy) != body;
    EXPECT_EQ(nLeftover, 0);
    // Nothing of the question line is left where it was.
    RECT rcQuestion = ControlRect(hDlg, IDC_TXT_QUESTION);
    int nDark = 0;
    for (int yy = rcQuestion.top; yy < rcQuestion.bottom; ++yy)
        for (int x = rcQuestion.left; x < rcQuestion.right; ++x) nDark += GetRValue(after.ColorAt(x, yy)) < 150;
    EXPECT_EQ(nDark, 0);

    // A shorter text leaves no trace of a longer one.
    ::SendMessageW(::GetDlgItem(hDlg, IDC_TXT_MESSAGE), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"短"));
    ::Sleep(300);
    ScreenImage shorter = CaptureWindow(hDlg);
    RECT rcMessage = ControlRect(hDlg, IDC_TXT_MESSAGE);
    int nText = 0, nTrail = 0;
    for (int yy = rcMessage.top; yy < rcMessage.bottom; ++yy) {
        for (int x = rcMessage.left; x < rcMessage.left + 12; ++x) nText += GetRValue(shorter.ColorAt(x, yy)) < 150;
        for (int x = rcMessage.left + 14; x < rcMessage.right; ++x) nTrail += GetRValue(shorter.ColorAt(x, yy)) < 150;
    }
    EXPECT_GT(nText, 5);
    EXPECT_EQ(nTrail, 0);

    ClickControl(hDlg, IDC_BTN_CLOSE);
    DWORD dwCode = 0;
    EXPECT_TRUE(process.Wait(10000, &dwCode));
    EXPECT_EQ(dwCode, static_cast<DWORD>(IDOK));
}

}  // namespace
