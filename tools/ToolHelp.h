#pragma once
// The help UpdateTool prints for "help", "--help" and "COMMAND --help".

// The detailed help of one command (usage with every option, required ones
// marked, and an example), or nullptr when there is none beyond its usage line.
const char* CommandHelpText(const char* pszCommand);
