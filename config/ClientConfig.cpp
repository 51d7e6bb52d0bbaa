// Winsock before windows.h, which would otherwise pull in the old winsock.h.
#define _WINSOCK_DEPRECATED_NO_WARNINGS
#include <winsock2.h>

#include "config/ClientConfig.h"

#include <cstring>

#include "platform/base/Text.h"
#include "platform/base/Win32Handles.h"
#include "platform/fs/DirectoryEx.h"
#include "platform/ini/CryptConfigFile.h"

namespace {

const WORD kWinsockVersion = 0x0002;   // 2.0
const int kDefaultConnections = 4;
const int kMaxConnections = 8;

// A configured server: "host", "http://host" or "https://host" (scheme in any
// letter case); the address resolved from the host, the port as configured.
S_UpdateSerivceAddr ReadServer(CCryptConfigFile& config, const char* pszHostKey, const char* pszPortKey,
                               bool& bResolved) {
    S_UpdateSerivceAddr server;
    config.ReadString("Update", pszHostKey, "", server.strHost);
    for (const char* pszScheme : {"http://", "https://"}) {
        const size_t nLen = std::strlen(pszScheme);
        if (server.strHost.size() >= nLen && SameTextIgnoringCase(server.strHost.substr(0, nLen), pszScheme)) {
            server.bSecure = nLen == 8;
            server.strHost.erase(0, nLen);
            break;
        }
    }
    bResolved = ResolveHostAddress(server.strHost, server.strServerIP);
    server.nServerPort = static_cast<unsigned short>(config.ReadInteger("Update", pszPortKey, 0));
    return server;
}

}  // namespace

void ReadClientConfig(const std::string& strAppPath, std::string& strVersion, std::string& strRegion,
                      std::vector<S_UpdateSerivceAddr>& vecServers, bool& bUseProxy) {
    CCryptConfigFile config(strAppPath + "Config.dat", "");
    config.ReadString("Update", "Version", "", strVersion);
    config.ReadString("Update", "Region", "", strRegion);

    // Each entry starts fresh: a failed lookup leaves the address as it was.
    bool bResolved = false;
    vecServers.push_back(ReadServer(config, "ServerIP", "ServerPort", bResolved));
    const S_UpdateSerivceAddr second = ReadServer(config, "ServerIP2", "ServerPort2", bResolved);
    if (bResolved) vecServers.push_back(second);

    config.Initialize(strAppPath + "UserConfig.dat", "");
    bUseProxy = config.ReadInteger("Server", "UseProxy", 1) != 0;
}

unsigned int ReadConnectionCount(const std::string& strAppPath) {
    CCryptConfigFile config(strAppPath + "UserConfig.dat", "");
    const int nConnections = config.ReadInteger("Server", "Connections", kDefaultConnections);
    return static_cast<unsigned int>(nConnections < 1 ? 1 : nConnections > kMaxConnections ? kMaxConnections : nConnections);
}

void ReadClientConfig(std::string& strVersion, std::string& strRegion,
                      std::vector<S_UpdateSerivceAddr>& vecServers, bool& bUseProxy) {
    std::string strAppPath;
    CDirectoryEx::GetApplicationPath(strAppPath);
    ReadClientConfig(strAppPath, strVersion, strRegion, vecServers, bUseProxy);
}

bool ResolveHostAddress(const std::string& strHost, std::string& strAddress) {
    if (strHost.empty()) {
        strAddress.clear();
        return false;
    }
    if (inet_addr(strHost.c_str()) != INADDR_NONE) {
        strAddress = strHost;
        return true;
    }

    WSADATA wsaData;
    if (WSAStartup(kWinsockVersion, &wsaData) != 0) return false;
    // Only a successful start is balanced: a cleanup without one would take
    // a reference that another user of Winsock in this process holds.
    ScopeExit cleanup([] { WSACleanup(); });

    const hostent* pHost = gethostbyname(strHost.c_str());
    if (!pHost || pHost->h_addrtype != AF_INET || pHost->h_length != sizeof(in_addr) || !pHost->h_addr_list ||
        !pHost->h_addr_list[0]) {
        return false;
    }
    in_addr address;
    std::memcpy(&address, pHost->h_addr_list[0], sizeof(address));
    const char* pszDotted = inet_ntoa(address);
    if (!pszDotted) return false;
    strAddress = pszDotted;
    return true;
}
