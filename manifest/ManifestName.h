#pragma once
#include <string>

// Update kind 1 is the program itself; every other kind is a data set.
constexpr int kProgramUpdateType = 1;
inline bool IsProgramUpdate(int nUpdateType) { return nUpdateType == kProgramUpdateType; }

// The manifest of the program, and of a data set.
constexpr char kProgramManifestName[] = "UpdateConfig.ini";
constexpr char kDataManifestName[] = "config.ini";

// True when a file name taken from a manifest stays below the directory it is
// appended to: not empty, not absolute (no leading '\' or '/', no drive, no
// "\\server"), no ':' anywhere (drives, alternate streams), no ".." segment
// with either separator, no control character, no device name ("NUL",
// "com1.txt") as a segment, no segment ending in '.' or a space (Windows trims
// them: "a.dll." is "a.dll"), no segment in the form of a short 8.3 alias (up
// to six characters, '~', digits, an extension of up to three: "PROGRA~1",
// "a~1.dll"), which may name another file. The name is UTF-8 (as the
// configuration files hand it out); one that a GBK manifest cannot hold is
// refused, as is one that was not valid GBK in the file (the manifest reader
// leaves it out).
bool IsSafeManifestName(const std::string& strName);

// True when a data-set name (-d:) may be appended to the application directory:
// empty (the application directory itself), or a relative name that stays below
// it as IsSafeManifestName says and that Config.dat [Signature] can hold as a
// key of its own (no '=', no leading ';', '[' or blank). The staging directory built from it is deleted
// after an update, so a name that climbed out (-d:..) would take the
// installation with it.
bool IsSafeUpdateName(const std::string& strName);
