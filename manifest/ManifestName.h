#pragma once
#include <string>

// True when a file name taken from a manifest stays below the directory it is
// appended to: not empty, not absolute (no leading '\' or '/', no drive, no
// "\\server"), no ':' anywhere (drives, alternate streams), no ".." segment
// with either separator, no control character, no device name ("NUL",
// "com1.txt") as a segment, no segment ending in '.' or a space (Windows trims
// them: "a.dll." is "a.dll"), no segment in the form of a short 8.3 alias (up
// to six characters, '~', digits, an extension of up to three: "PROGRA~1",
// "a~1.dll"), which may name another file. The name is read as code page 936 text, so a GBK
// trail byte 0x5C is part of its character, not a separator; a name that is
// not valid GBK is refused.
bool IsSafeManifestName(const std::string& strName);

// True when a data-set name (-d:) may be appended to the application directory:
// empty (the application directory itself), or a relative name that stays below
// it as IsSafeManifestName says. The staging directory built from it is deleted
// after an update, so a name that climbed out (-d:..) would take the
// installation with it.
bool IsSafeUpdateName(const std::string& strName);
