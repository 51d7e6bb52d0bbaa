#include "support/DirectoryLinks.h"

#include <windows.h>
#include <winioctl.h>

#include <cstring>
#include <vector>

#include "platform/base/Text.h"
#include "platform/base/Win32Handles.h"

namespace {

// Junction through FSCTL_SET_REPARSE_POINT (the layout of the mount-point reparse buffer).
bool CreateJunction(const std::string& strLink, const std::string& strTarget) {
    if (!CreateDirectoryA(strLink.c_str(), nullptr)) return false;
    wchar_t wszTarget[MAX_PATH];
    const int nChars = MultiByteToWideChar(CP_ACP, 0, strTarget.c_str(), -1, wszTarget, MAX_PATH);
    if (nChars <= 0) return false;
    const std::wstring strSubst = L"\\??\\" + std::wstring(wszTarget);
    const USHORT cbSubst = static_cast<USHORT>(strSubst.size() * sizeof(wchar_t));
    std::vector<BYTE> vecBuf(8 + 8 + cbSubst + 2 * sizeof(wchar_t), 0);
    BYTE* p = vecBuf.data();
    *reinterpret_cast<DWORD*>(p) = IO_REPARSE_TAG_MOUNT_POINT;
    *reinterpret_cast<USHORT*>(p + 4) = static_cast<USHORT>(vecBuf.size() - 8);
    USHORT* pHeader = reinterpret_cast<USHORT*>(p + 8);
    pHeader[0] = 0;                                            // substitute name offset
    pHeader[1] = cbSubst;                                      // substitute name length
    pHeader[2] = static_cast<USHORT>(cbSubst + sizeof(wchar_t));   // print name offset
    pHeader[3] = 0;                                            // print name length
    std::memcpy(p + 16, strSubst.data(), cbSubst);
    UniqueFile hDir(CreateFileA(strLink.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    DWORD dwBytes = 0;
    const bool bOk = hDir && DeviceIoControl(hDir.get(), FSCTL_SET_REPARSE_POINT, vecBuf.data(),
                                             static_cast<DWORD>(vecBuf.size()), nullptr, 0, &dwBytes, nullptr);
    hDir.reset();
    if (!bOk) RemoveDirectoryA(strLink.c_str());
    return bOk;
}

// Host path of a Windows path under Wine; empty elsewhere.
std::string HostPath(const std::string& strPath) {
    using UnixNameFn = char*(CDECL*)(LPCWSTR);
    auto pfnUnixName = reinterpret_cast<UnixNameFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    wchar_t wszPath[MAX_PATH];
    if (!pfnUnixName || MultiByteToWideChar(CP_ACP, 0, strPath.c_str(), -1, wszPath, MAX_PATH) <= 0) return "";
    char* pszUnix = pfnUnixName(wszPath);
    if (!pszUnix) return "";
    std::string strUnix = pszUnix;
    HeapFree(GetProcessHeap(), 0, pszUnix);
    return strUnix;
}

// Starts a host program under Wine and polls until bDone() holds: Wine gives no
// waitable handle for a host process.
template <typename Done>
bool RunHostCommand(const char* pszProgram, std::string strCommand, Done bDone) {
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(pszProgram, &strCommand[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        return false;
    }
    UniqueHandle hProcess(pi.hProcess);
    UniqueHandle hThread(pi.hThread);
    for (int i = 0; i < 100 && !bDone(); ++i) Sleep(50);
    return bDone();
}

}  // namespace

bool IsReparsePoint(const std::string& strPath) {
    const DWORD dwAttr = GetFileAttributesW(Utf8ToWide(strPath).c_str());
    return dwAttr != INVALID_FILE_ATTRIBUTES && (dwAttr & FILE_ATTRIBUTE_REPARSE_POINT);
}

DirectoryLinks::~DirectoryLinks() {
    for (const std::string& strLink : m_vecHostLinks) {
        if (!IsReparsePoint(strLink)) continue;
        RunHostCommand("Z:\\bin\\rm", "rm \"" + HostPath(strLink) + "\"", [&] { return !IsReparsePoint(strLink); });
    }
}

std::string DirectoryLinks::Create(const std::string& strLink, const std::string& strTarget) {
    const DWORD dwFlags = SYMBOLIC_LINK_FLAG_DIRECTORY | 0x2;   // ALLOW_UNPRIVILEGED_CREATE
    if (CreateSymbolicLinkA(strLink.c_str(), strTarget.c_str(), dwFlags) && IsReparsePoint(strLink)) {
        return "symbolic link";
    }
    if (CreateJunction(strLink, strTarget) && IsReparsePoint(strLink)) return "junction";
    const std::string strHostLink = HostPath(strLink);
    const std::string strHostTarget = HostPath(strTarget);
    if (strHostLink.empty() || strHostTarget.empty()) return "";
    m_vecHostLinks.push_back(strLink);
    if (RunHostCommand("Z:\\bin\\ln", "ln -s \"" + strHostTarget + "\" \"" + strHostLink + "\"",
                       [&] { return IsReparsePoint(strLink); })) {
        return "host symbolic link";
    }
    return "";
}
