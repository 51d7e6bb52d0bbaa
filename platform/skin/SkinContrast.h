#pragma once
// What the skin gives back to the system for people who cannot use its
// pictures and colours: with Windows' high-contrast mode on, faces give way
// to the system's colours (texts stay readable whatever the scheme), and the
// focus cue is always shown (SkinShowsFocusCue, ImageDialog.h).
#include <windows.h>

// SPI_GETHIGHCONTRAST reports HCF_HIGHCONTRASTON, or what SkinForceHighContrast fixed.
bool SkinHighContrast();
// 1 on, 0 off, -1 (the default) the system's, for this process: the skin can
// be seen in either mode where the system's cannot be switched (Wine).
void SkinForceHighContrast(int nMode);
// crSkin, or the system colour nSysColor (COLOR_WINDOWTEXT, COLOR_BTNTEXT, ...) in high contrast.
COLORREF SkinTextColor(COLORREF crSkin, int nSysColor);
