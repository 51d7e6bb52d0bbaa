#pragma once
// Names that are never part of a release: the client's own state, and what a
// publisher's folder gathers besides the release. Names are UTF-8, relative to
// the installation (or the data set's directory), with '\' or '/' separators.
#include <string>

// True for the installation's own state: Config.dat, UserConfig.dat and
// UpdateRecord.dat at the top, anything below UPDATE\ or UpdateState\, and *.bak, *.part and
// *.part.tag files anywhere (ASCII letter case ignored). A release carrying
// them would hand every client the publisher's server, region or key.
// Update.exe itself is not state: it stays updatable.
bool IsClientStateName(const std::string& strRelativeName);

// Why the publisher tool leaves a file of a release folder out, or nullptr
// when it is listed: the client's own state (above), Thumbs.db and
// desktop.ini anywhere, and *.sig files (signatures go beside the manifest).
const char* ReleaseLeftOutReason(const std::string& strRelativeName);

// True when strPattern ('*' any run of characters, '?' one character, ASCII
// letter case ignored, '/' taken as '\') matches strRelativeName or one of the
// folders it lies in: "*.pdb", "bin\*.map", "logs".
bool MatchesReleasePattern(const std::string& strPattern, const std::string& strRelativeName);
