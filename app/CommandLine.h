#pragma once
// The updater's command line: -silent, -t:<kind>, -d:<data-set directory>.
#include <string>
#include <vector>

struct S_CommandLine {
    bool bSilent = false;
    int nUpdateType = 1;            // 1: the program files; anything else: the data set strUpdateName
    std::string strUpdateName;      // directory below the application directory, UTF-8
};

// Examines the arguments after the program name, left to right; later -t: and -d:
// win, anything unrecognised is ignored. Pure: no state, no side effects.
S_CommandLine ParseCommandLine(const std::vector<std::string>& vecArgs);
