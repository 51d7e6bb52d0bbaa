// Winsock before windows.h, which would otherwise pull in the old winsock.h.
#define _WINSOCK_DEPRECATED_NO_WARNINGS
#include <winsock2.h>

#include "config/ClientConfig.h"

#include <cstring>

#include "platform/base/Win32Handles.h"
#include "platform/fs/DirectoryEx.h"
#include "platform/ini/CryptConfigFile.h"

namespace {

const WORD kWinsockVersion = 0x0002;   // 2.0
const int kDefaultConnections = 4;
const int kMaxConnections = 8;

}  // namespace

void ReadClientConfig(const std::string& strAppPath, std::string& strVersion, std::string& strRegion,
                      std::vector<S_UpdateSerivceAddr>& vecServers, bool& bUseProxy) {
    CCryptConfigFile config(strAppPath + "Config.dat", "");
    config.ReadString("Update", "Version", "", strVersion);
    config.ReadString("Update", "Region", "", strRegion);

    // Each entry starts fresh: a failed lookup leaves the address as it was.
    std::string strHost;
    config.ReadString("Update", "ServerIP", "", strHost);
    S_UpdateSerivceAddr first;
    ResolveHostAddress(strHost, first.strServerIP);
    first.nServerPort = static_cast<unsigned short>(config.ReadInteger("Update", "ServerPort", 0));
    vecServers.push_back(first);

    std::string strHost2;
    config.ReadString("Update", "ServerIP2", "", strHost2);
    S_UpdateSerivceAddr second;
    const bool bSecondResolved = ResolveHostAddress(strHost2, second.strServerIP);
    second.nServerPort = static_cast<unsigned short>(config.ReadInteger("Update", "ServerPort2", 0));
    if (bSecondResolved) vecServers.push_back(second);

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
