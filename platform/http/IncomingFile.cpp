#include "platform/http/IncomingFile.h"

#include <shlwapi.h>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// The full UTF-16 path of a narrow one, as the A functions read it; empty on failure.
std::wstring FullPathW(const char* pszPath) {
    int cch = MultiByteToWideChar(CP_ACP, 0, pszPath, -1, nullptr, 0);
    if (cch <= 0) return std::wstring();
    std::wstring wstrPath(cch, L'\0');
    MultiByteToWideChar(CP_ACP, 0, pszPath, -1, &wstrPath[0], cch);
    DWORD cchFull = GetFullPathNameW(wstrPath.c_str(), 0, nullptr, nullptr);
    if (cchFull == 0) return std::wstring();
    std::wstring wstrFull(cchFull, L'\0');
    cchFull = GetFullPathNameW(wstrPath.c_str(), cchFull, &wstrFull[0], nullptr);
    if (cchFull == 0 || cchFull >= wstrFull.size()) return std::wstring();
    wstrFull.resize(cchFull);
    return wstrFull;
}

}  // namespace

CIncomingFile::CIncomingFile(const char* pszTarget) {
    static LONG s_nCounter = 0;
    const char* pszName = PathFindFileNameA(pszTarget);  // character-aware: GBK trail bytes may be '\'
    std::string strDir(pszTarget, pszName - pszTarget);
    for (int nTry = 0; nTry < 100 && !m_hFile; ++nTry) {
        char szName[64];
        std::snprintf(szName, sizeof(szName), "~qova%lx-%lx.tmp", GetCurrentProcessId(),
                      static_cast<unsigned long>(InterlockedIncrement(&s_nCounter)));
        std::string strPath = strDir + szName;
        m_hFile.reset(CreateFileA(strPath.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
        if (m_hFile) {
            m_strPath = std::move(strPath);
        } else if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) {
            break;
        }
    }
}

CIncomingFile::~CIncomingFile() {
    if (m_strPath.empty()) return;
    m_hFile.reset();
    DeleteFileA(m_strPath.c_str());  // best effort: nothing else can be done about it here
}

bool CIncomingFile::Write(const char* pData, DWORD cb) {
    DWORD cbWritten = 0;
    return WriteFile(m_hFile.get(), pData, cb, &cbWritten, nullptr) && cbWritten == cb;
}

bool CIncomingFile::Commit(const char* pszTarget) {
    std::wstring wstrTarget = FullPathW(pszTarget);
    if (wstrTarget.empty()) return false;
    DWORD cbInfo = static_cast<DWORD>(sizeof(FILE_RENAME_INFO) + wstrTarget.size() * sizeof(wchar_t));
    std::unique_ptr<char[]> pInfo(new char[cbInfo]());
    auto* pRename = reinterpret_cast<FILE_RENAME_INFO*>(pInfo.get());
    pRename->ReplaceIfExists = TRUE;
    pRename->RootDirectory = nullptr;
    pRename->FileNameLength = static_cast<DWORD>(wstrTarget.size() * sizeof(wchar_t));
    std::memcpy(pRename->FileName, wstrTarget.c_str(), (wstrTarget.size() + 1) * sizeof(wchar_t));
    if (!SetFileInformationByHandle(m_hFile.get(), FileRenameInfo, pRename, cbInfo)) return false;
    m_hFile.reset();
    m_strPath.clear();
    return true;
}
