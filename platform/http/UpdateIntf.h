#pragma once
// The transport to the update servers (WinHTTP).
//
// Wire protocol: GET http://<strServerIP>:<nServerPort>/<nUpdateType>/<name>, the
// name's '\' separators turned into '/', each segment converted from code page 936
// to UTF-8 and percent-encoded. Port 0 means 80. Servers are tried in list order.
#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

struct S_UpdateSerivceAddr {
    std::string strServerIP;          // dotted IPv4 text; empty when unresolved
    unsigned short nServerPort = 0;
};

class CQOVAUpdateIntf {
public:
    CQOVAUpdateIntf(const std::vector<S_UpdateSerivceAddr>& vecServers, bool bUseProxy);
    ~CQOVAUpdateIntf();
    CQOVAUpdateIntf(const CQOVAUpdateIntf&) = delete;
    CQOVAUpdateIntf& operator=(const CQOVAUpdateIntf&) = delete;

    // Fetches one file into pszLocalFile (replaced only when complete). -1 on failure.
    // With a window, sends nNotifyMsg (bytes so far, total) at most every 64 KiB or
    // 100 ms, and exactly one (size, size) once the file is in place.
    int GetRemoteFile(unsigned int nUpdateType, const char* pszRemoteFile, const char* pszLocalFile,
                      HWND hNotifyWnd, unsigned int nNotifyMsg);

    // Makes a transfer in flight on another thread give up promptly (-1); later
    // calls fail at once. Safe to call from any thread.
    void Abort();

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};
