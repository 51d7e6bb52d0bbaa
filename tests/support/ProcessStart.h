#pragma once
// CreateProcessW for the programs the tests start. Wine 8 now and then fails
// a start with ERROR_INTERNAL_ERROR (1359): the new process died inside Wine's
// own start-up, before it reported itself started and so before any code of
// the program ran (seen about once in a few thousand starts, each time right
// after another child ended). That start is made again, at most twice, and said on
// stderr; any other failure comes back as it is, GetLastError() with it.
#include <windows.h>

#include <string>

bool StartProcess(const wchar_t* pszExe, std::wstring wstrCommand, BOOL bInheritHandles, DWORD dwFlags,
                  STARTUPINFOW& si, PROCESS_INFORMATION& pi);
