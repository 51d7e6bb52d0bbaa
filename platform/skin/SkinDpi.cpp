#include "platform/skin/SkinDpi.h"

namespace {

const UINT kDrawnDpis[] = {96, 120, 144, 168, 192};
const UINT kArtworkIdStep = 100;

// Windows 10 API taken from user32 at run time: older systems (and Wine) may lack it.
template <typename Fn>
Fn User32Function(const char* pszName) {
    HMODULE hUser32 = ::GetModuleHandleW(L"user32.dll");
    return hUser32 ? reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(hUser32, pszName))) : nullptr;
}

}  // namespace

UINT SkinSystemDpi() {
    HDC hdc = ::GetDC(nullptr);
    const int nDpi = hdc ? ::GetDeviceCaps(hdc, LOGPIXELSY) : 0;
    if (hdc) ::ReleaseDC(nullptr, hdc);
    return nDpi > 0 ? static_cast<UINT>(nDpi) : kSkinDesignDpi;
}

UINT SkinWindowDpi(HWND hWnd) {
    typedef UINT(WINAPI * GetDpiForWindowFn)(HWND);
    static const GetDpiForWindowFn pfnGetDpiForWindow = User32Function<GetDpiForWindowFn>("GetDpiForWindow");
    const UINT nDpi = hWnd && pfnGetDpiForWindow ? pfnGetDpiForWindow(hWnd) : 0;
    return nDpi ? nDpi : SkinSystemDpi();
}

void SkinTakeOverDialogScaling(HWND hDlg) {
    typedef BOOL(WINAPI * SetDialogDpiChangeBehaviorFn)(HWND, int, int);
    static const SetDialogDpiChangeBehaviorFn pfnSet =
        User32Function<SetDialogDpiChangeBehaviorFn>("SetDialogDpiChangeBehavior");
    const int kDisableAll = 1;  // DDC_DISABLE_ALL
    if (pfnSet) pfnSet(hDlg, kDisableAll, kDisableAll);
}

SkinArtwork SkinArtworkFor(UINT nId, UINT nDpi) {
    for (UINT i = 0; i < sizeof(kDrawnDpis) / sizeof(kDrawnDpis[0]); ++i)
        if (nDpi <= kDrawnDpis[i]) return SkinArtwork{nId + i * kArtworkIdStep, kDrawnDpis[i]};
    const UINT nLast = sizeof(kDrawnDpis) / sizeof(kDrawnDpis[0]) - 1;
    return SkinArtwork{nId + nLast * kArtworkIdStep, kDrawnDpis[nLast]};
}
