#include "platform/skin/SkinContrast.h"

namespace {
int g_nForcedHighContrast = -1;
}  // namespace

void SkinForceHighContrast(int nMode) { g_nForcedHighContrast = nMode; }

bool SkinHighContrast() {
    if (g_nForcedHighContrast >= 0) return g_nForcedHighContrast != 0;
    HIGHCONTRASTW hc = {};
    hc.cbSize = sizeof(hc);
    return ::SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(hc), &hc, 0) && (hc.dwFlags & HCF_HIGHCONTRASTON);
}

COLORREF SkinTextColor(COLORREF crSkin, int nSysColor) {
    return SkinHighContrast() ? ::GetSysColor(nSysColor) : crSkin;
}
