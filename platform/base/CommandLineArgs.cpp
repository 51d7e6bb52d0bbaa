#include "platform/base/CommandLineArgs.h"

#include <windows.h>
#include <shellapi.h>

#include "platform/base/Text.h"
#include "platform/base/Win32Handles.h"

std::vector<std::string> SplitCommandLine(const wchar_t* pszCommandLine) {
    std::vector<std::string> vecArgs;
    int nArgs = 0;
    LPWSTR* ppArgs = CommandLineToArgvW(pszCommandLine, &nArgs);
    if (!ppArgs) return vecArgs;
    ScopeExit freeArgs([ppArgs] { LocalFree(ppArgs); });
    for (int i = 1; i < nArgs; ++i) vecArgs.push_back(WideToUtf8(ppArgs[i]));
    return vecArgs;
}

std::vector<std::string> GetCommandLineArguments() { return SplitCommandLine(GetCommandLineW()); }
