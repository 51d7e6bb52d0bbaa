#include "app/InstallationLock.h"

#include "platform/base/Text.h"
#include "platform/crypto/EcdsaP256.h"
#include "platform/fs/PathCheck.h"

namespace {

// The path the file system gives the opened directory, else the full path.
std::wstring ResolvedPath(const std::string& strAppDir) {
    std::wstring wstrFinal;
    if (FinalDirectoryPath(strAppDir, wstrFinal)) return wstrFinal;
    std::string strFull;
    return Utf8ToWide(FullPath(strAppDir, strFull) ? strFull : strAppDir);
}

// One spelling for every way the same directory may be written.
std::wstring CanonicalKey(std::wstring wstrPath) {
    if (wstrPath.compare(0, 8, L"\\\\?\\UNC\\") == 0) wstrPath = L"\\\\" + wstrPath.substr(8);
    else if (wstrPath.compare(0, 4, L"\\\\?\\") == 0) wstrPath = wstrPath.substr(4);
    while (!wstrPath.empty() && (wstrPath.back() == L'\\' || wstrPath.back() == L'/')) wstrPath.pop_back();
    return FoldedCase(wstrPath);
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
