#pragma once
// The build's UpdateTool.exe run as a publisher runs it: arguments as typed,
// standard input from a file, standard output and error captured.
#include <windows.h>

#include <string>
#include <vector>

#include "support/TempDir.h"

struct ToolRun {
    DWORD dwExit = 0xFFFFFFFF;   // also when the tool could not be run: strError says why
    std::string strOutput;
    std::string strError;
};

// strArgs as on a command line (UTF-8; the tool receives UTF-16). Input and
// captures are tmp's tool-in.txt, tool-out.txt and tool-err.txt.
ToolRun RunTool(const TempDir& tmp, const std::string& strArgs, const std::string& strInput = "");
// Arguments one by one; an empty one or one with a blank is quoted.
ToolRun RunToolArgs(const TempDir& tmp, const std::vector<std::string>& vecArgs, const std::string& strInput = "");
