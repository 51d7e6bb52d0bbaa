#pragma once
// The client configuration in the application directory: installed version,
// region, the update servers (resolved to dotted IPv4 text) and the proxy flag.
#include <string>
#include <vector>

#include "platform/http/UpdateIntf.h"

// Reads Config.dat and UserConfig.dat of strAppPath (ending in '\'). The first
// server is always appended, with an empty address when it does not resolve;
// the second only when it resolves. A server may be written "https://host"
// (bSecure, port 0 then 443) or "http://host"; a bare host is plain HTTP. Ports keep their low 16 bits. Missing files
// give empty strings, port 0 and the proxy flag on.
void ReadClientConfig(const std::string& strAppPath, std::string& strVersion, std::string& strRegion,
                      std::vector<S_UpdateSerivceAddr>& vecServers, bool& bUseProxy);
// Files fetched at once (UserConfig.dat [Server] Connections): 4 when missing,
// clamped to 1..8.
unsigned int ReadConnectionCount(const std::string& strAppPath);

// The same for the directory of the running program.
void ReadClientConfig(std::string& strVersion, std::string& strRegion,
                      std::vector<S_UpdateSerivceAddr>& vecServers, bool& bUseProxy);

// strAddress := strHost when it already is an address (taken as it is), else the
// first IPv4 address of the host name. Empty input empties strAddress; a failed
// lookup leaves it as it was. True when strAddress now holds an address.
bool ResolveHostAddress(const std::string& strHost, std::string& strAddress);
