#include "support/ProcessStart.h"

#include <cstdio>

#include "platform/base/Text.h"

bool StartProcess(const wchar_t* pszExe, std::wstring wstrCommand, BOOL bInheritHandles, DWORD dwFlags,
                  STARTUPINFOW& si, PROCESS_INFORMATION& pi) {
    for (int nTry = 1;; ++nTry) {
        std::wstring wstrLine = wstrCommand;   // CreateProcessW may write into it
        if (CreateProcessW(pszExe, &wstrLine[0], nullptr, nullptr, bInheritHandles, dwFlags, nullptr, nullptr, &si,
                           &pi)) {
            return true;
        }
        const DWORD dwError = GetLastError();
        if (dwError != ERROR_INTERNAL_ERROR || nTry == 3) {
            SetLastError(dwError);
            return false;
        }
        std::fprintf(stderr, "StartProcess: the child died in Wine's start-up (error 1359), start %d of 3: %s\n", nTry,
                     WideToUtf8(wstrCommand).c_str());
    }
}
