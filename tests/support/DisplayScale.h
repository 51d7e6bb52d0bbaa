#pragma once
// The display scale of the programs a test starts. Wine takes the desktop's
// DPI from HKCU\Control Panel\Desktop "LogPixels" when a process starts, so
// programs started while a ScopedLogPixels lives run at its DPI, while the
// test process keeps the DPI it started with; no wineserver restart and no
// prefix of its own are needed. The old value comes back (or the value goes,
// if there was none) when the object goes away; scripts/test also sets 96
// before every run, in case a test was killed inside the scope.
#include <windows.h>

class ScopedLogPixels {
public:
    explicit ScopedLogPixels(UINT nDpi);
    ~ScopedLogPixels();
    ScopedLogPixels(const ScopedLogPixels&) = delete;
    ScopedLogPixels& operator=(const ScopedLogPixels&) = delete;

    // False when the value could not be written.
    bool IsSet() const { return m_bSet; }

private:
    bool m_bSet = false;
    bool m_bHadValue = false;
    DWORD m_dwOld = 0;
};
