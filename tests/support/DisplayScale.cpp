#include "support/DisplayScale.h"

#include "platform/base/Win32Handles.h"

namespace {
const char kDesktopKey[] = "Control Panel\\Desktop";
const char kLogPixels[] = "LogPixels";

bool WriteLogPixels(HKEY hKey, DWORD dwDpi) {
    return ::RegSetValueExA(hKey, kLogPixels, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwDpi), sizeof(dwDpi)) ==
           ERROR_SUCCESS;
}
}  // namespace

ScopedLogPixels::ScopedLogPixels(UINT nDpi) {
    UniqueHKey key;
    if (::RegCreateKeyExA(HKEY_CURRENT_USER, kDesktopKey, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr,
                          key.put(), nullptr) != ERROR_SUCCESS)
        return;
    DWORD dwType = 0;
    DWORD cbOld = sizeof(m_dwOld);
    m_bHadValue = ::RegQueryValueExA(key.get(), kLogPixels, nullptr, &dwType, reinterpret_cast<BYTE*>(&m_dwOld),
                                     &cbOld) == ERROR_SUCCESS &&
                  dwType == REG_DWORD;
    m_bSet = WriteLogPixels(key.get(), nDpi);
}

ScopedLogPixels::~ScopedLogPixels() {
    if (!m_bSet) return;
    UniqueHKey key;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, kDesktopKey, 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS) return;
    if (m_bHadValue) WriteLogPixels(key.get(), m_dwOld);
    else ::RegDeleteValueA(key.get(), kLogPixels);
}
