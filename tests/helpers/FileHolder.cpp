// Holds a file open as a running program holds its image, until killed or
// told to stop. Usage:
//   FileHolder FILE SHARE READY_FILE [HOLD_MS]
// SHARE is "rd" (FILE_SHARE_READ | FILE_SHARE_DELETE: the file can be renamed
// but not replaced, like a running executable) or "r" (FILE_SHARE_READ only:
// it can be neither renamed nor deleted). Once the file is open, READY_FILE is
// created; when READY_FILE + ".stop" appears, the file is let go and the
// program ends; with HOLD_MS, also once that many milliseconds have passed
// (a virus scanner's brief look). Exit codes: 0 let go, 2 bad usage, 3 the file could not be opened.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    if ((argc != 4 && argc != 5) || (std::strcmp(argv[2], "rd") != 0 && std::strcmp(argv[2], "r") != 0)) {
        std::fprintf(stderr, "usage: FileHolder FILE rd|r READY_FILE [HOLD_MS]\n");
        return 2;
    }
    const DWORD dwShare = std::strcmp(argv[2], "rd") == 0 ? FILE_SHARE_READ | FILE_SHARE_DELETE : FILE_SHARE_READ;
    HANDLE hFile = CreateFileA(argv[1], GENERIC_READ, dwShare, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "FileHolder: cannot open %s (error %lu)\n", argv[1], GetLastError());
        return 3;
    }
    HANDLE hReady = CreateFileA(argv[3], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hReady != INVALID_HANDLE_VALUE) CloseHandle(hReady);

    const std::string strStop = std::string(argv[3]) + ".stop";
    const DWORD dwHoldMs = argc == 5 ? static_cast<DWORD>(std::strtoul(argv[4], nullptr, 10)) : INFINITE;
    const DWORD dwStart = GetTickCount();
    while (GetFileAttributesA(strStop.c_str()) == INVALID_FILE_ATTRIBUTES &&
           (dwHoldMs == INFINITE || GetTickCount() - dwStart < dwHoldMs))
        Sleep(20);
    CloseHandle(hFile);
    return 0;
}
