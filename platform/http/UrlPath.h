#pragma once
// URLs of the files on the update servers:
//   http://<address>:<port>/<kind>/<segment>/<segment>...
// The name's '\' (or '/') separators become '/', each segment is the name's
// UTF-8, percent-encoded except the RFC 3986 unreserved characters
// (A-Z a-z 0-9 - . _ ~).
#include <string>

// "/<kind>/<encoded name>" for a UTF-8 name. False for a name that is empty,
// is not valid UTF-8 or has no GBK spelling (no manifest can hold it), or has a "." or ".." segment (it would name another file once
// the URL is normalised).
bool BuildRemoteUrlPath(unsigned int nUpdateType, const char* pszRemoteFile, std::string& strUrlPath);

// Port 0 means the default: 80, or 443 for HTTPS.
unsigned short EffectiveServerPort(unsigned short nServerPort, bool bSecure = false);
