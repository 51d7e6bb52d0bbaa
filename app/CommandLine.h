#pragma once
// The updater's command line: -silent, -t:<kind>, -d:<data-set directory>;
// /?, -?, -h or --help for its usage.
#include <string>
#include <vector>

struct S_CommandLine {
    bool bSilent = false;
    int nUpdateType = 1;            // 1: the program files; anything else: the data set strUpdateName
    std::string strUpdateName;      // directory below the application directory, UTF-8
    bool bHelp = false;             // the usage is asked for: nothing else happens
};

// Examines the arguments after the program name, left to right; later -t: and -d:
// win, anything unrecognised is ignored. Pure: no state, no side effects.
S_CommandLine ParseCommandLine(const std::vector<std::string>& vecArgs);

// The usage Update.exe prints for bHelp: the switches, what each road does
// and the exit codes of a silent run. UTF-8, lines ending in "\r\n".
std::string CommandLineUsage();
