#include <windows.h>

#include "app/UpdateApp.h"
#include "platform/dialog/WinApp.h"

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

CUpdateApp theApp;

namespace {

// The program lives in the directory whose DLLs it replaces: libraries it loads
// later must come from the system directory, never from beside the executable
// or from the working directory.
void RestrictDllSearchToSystem() {
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    // Looked up at run time: older systems without the update lack it.
    if (HMODULE hKernel = GetModuleHandleW(L"kernel32.dll")) {
        FARPROC pProc = GetProcAddress(hKernel, "SetDefaultDllDirectories");
        if (pProc) {
            auto pSetDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void (*)()>(pProc));
            pSetDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
        }
    }
    SetDllDirectoryW(L"");
}

}  // namespace

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int) {
    RestrictDllSearchToSystem();
    return AfxWinMain(hInstance);
}
