#pragma once
// The one command-line splitter of Update.exe and UpdateTool.exe.
#include <string>
#include <vector>

// Splits a command line as Windows does and converts each argument after the
// program name to UTF-8 (never through the system's code page); an empty
// argument ("") is kept.
std::vector<std::string> SplitCommandLine(const wchar_t* pszCommandLine);
// SplitCommandLine of this process's command line.
std::vector<std::string> GetCommandLineArguments();
