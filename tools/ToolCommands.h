#pragma once
// The subcommands of UpdateTool. Each receives the arguments after its own name
// (argv[0] is the first of them) and returns the process exit code. Standard
// output is binary: text is written as stored (GBK), lines end in "\n".
//
// config and md5: 0 done, 1 a negative answer (a missing key), 2 bad usage or an
// unreadable or damaged file, with one line on stderr.

// config dump FILE | get FILE SECTION KEY | set FILE SECTION KEY VALUE | import FILE
int RunConfigCommand(int argc, char** argv);
// md5 FILE: the digest exactly as CMD5 makes it, then "\n".
int RunMd5Command(int argc, char** argv);
