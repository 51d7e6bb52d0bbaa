// Holds a file open as a running program holds its image, until killed or
// told to stop. Usage:
//   FileHolder FILE SHARE READY_FILE
// SHARE is "rd" (FILE_SHARE_READ | FILE_SHARE_DELETE: the file can be renamed
// but not replaced, like a running executable) or "r" (FILE_SHARE_READ only:
// it can be neither renamed nor deleted). Once the file is open, READY_FILE is
// created; when READY_FILE + ".stop" appears, the file is let go and the
// program ends. Exit codes: 0 let go, 2 bad usage, 3 the file could not be opened.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

int main() {
    // The paths may name any folder: taken as UTF-16, never through the code page.
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc != 4 || (std::wcscmp(argv[2], L"rd") != 0 && std::wcscmp(argv[2], L"r") != 0)) {
        std::fprintf(stderr, "usage: FileHolder FILE rd|r READY_FILE\n");
        return 2;
    }
    const DWORD dwShare = std::wcscmp(argv[2], L"rd") == 0 ? FILE_SHARE_READ | FILE_SHARE_DELETE : FILE_SHARE_READ;
    HANDLE hFile = CreateFileW(argv[1], GENERIC_READ, dwShare, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "FileHolder: cannot open the file (error %lu)\n", GetLastError());
        return 3;
    }
    HANDLE hReady = CreateFileW(argv[3], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hReady != INVALID_HANDLE_VALUE) CloseHandle(hReady);

    const std::wstring strStop = std::wstring(argv[3]) + L".stop";
    while (GetFileAttributesW(strStop.c_str()) == INVALID_FILE_ATTRIBUTES) Sleep(100);
    CloseHandle(hFile);
    return 0;
}
