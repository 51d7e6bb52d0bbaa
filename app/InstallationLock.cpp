#include "app/InstallationLock.h"

#include <vector>

#include "platform/base/Text.h"
#include "platform/crypto/EcdsaP256.h"

namespace {

// The path the file system gives the opened directory, else the full path.
std::wstring ResolvedPath(const std::string& strAppDir) {
    const std::wstring wstrDir = Utf8ToWide(strAppDir);
    UniqueFile hDir(CreateFileW(wstrDir.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    std::vector<wchar_t> buffer(MAX_PATH);
    for (int nTry = 0; hDir && nTry < 2; ++nTry) {
        const DWORD cch = GetFinalPathNameByHandleW(hDir.get(), buffer.data(), static_cast<DWORD>(buffer.size()),
                                                    FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (cch == 0) break;
        if (cch < buffer.size()) return std::wstring(buffer.data(), cch);
        buffer.resize(cch + 1);
    }
    const DWORD cch = GetFullPathNameW(wstrDir.c_str(), 0, nullptr, nullptr);
    if (cch == 0) return wstrDir;
    buffer.assign(cch, L'\0');
    const DWORD cchFull = GetFullPathNameW(wstrDir.c_str(), cch, buffer.data(), nullptr);
    return cchFull > 0 && cchFull < cch ? std::wstring(buffer.data(), cchFull) : wstrDir;
}

// One spelling for every way the same directory may be written.
std::wstring CanonicalKey(std::wstring wstrPath) {
    if (wstrPath.compare(0, 8, L"\\\\?\\UNC\\") == 0) wstrPath = L"\\\\" + wstrPath.substr(8);
    else if (wstrPath.compare(0, 4, L"\\\\?\\") == 0) wstrPath = wstrPath.substr(4);
    while (!wstrPath.empty() && (wstrPath.back() == L'\\' || wstrPath.back() == L'/')) wstrPath.pop_back();
    // Upper case as the invariant culture maps it, which is how names compare on NTFS.
    if (!wstrPath.empty() && wstrPath.size() < 0x7FFFFFFF) {
        std::wstring wstrUpper(wstrPath.size(), L'\0');
        const int cch = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wstrPath.c_str(),
                                      static_cast<int>(wstrPath.size()), &wstrUpper[0],
                                      static_cast<int>(wstrUpper.size()), nullptr, nullptr, 0);
        if (cch == static_cast<int>(wstrPath.size())) wstrPath = wstrUpper;
    }
    return wstrPath;
}

}  // namespace

std::wstring InstallationLockName(const std::string& strAppDir) {
    const std::wstring wstrKey = CanonicalKey(ResolvedPath(strAppDir));
    std::string strDigest;
    // Hashed as UTF-16 bytes; a failed hash still names a lock, just a coarser one.
    Sha256Of(std::string(reinterpret_cast<const char*>(wstrKey.data()), wstrKey.size() * sizeof(wchar_t)), strDigest);
    static const wchar_t kHex[] = L"0123456789abcdef";
    std::wstring wstrName = L"Global\\QOVAUpdate.";
    for (size_t i = 0; i < 16; ++i) {
        const unsigned char c = i < strDigest.size() ? static_cast<unsigned char>(strDigest[i]) : 0;
        wstrName += kHex[c >> 4];
        wstrName += kHex[c & 0x0F];
    }
    return wstrName;
}

bool CInstallationLock::Acquire(const std::string& strAppDir) {
    HANDLE hMutex = CreateMutexW(nullptr, FALSE, InstallationLockName(strAppDir).c_str());
    if (!hMutex) return GetLastError() != ERROR_ACCESS_DENIED;
    // A lock abandoned by a killed run is ours now: the journal tells what it left.
    const DWORD dwWait = WaitForSingleObject(hMutex, 0);
    if (dwWait != WAIT_OBJECT_0 && dwWait != WAIT_ABANDONED) {
        CloseHandle(hMutex);
        return false;
    }
    m_hMutex.reset(hMutex);
    return true;
}
