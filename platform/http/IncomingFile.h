#pragma once
// The temporary file a body streams into, in the target's directory; deleted
// unless committed over the target.
#include <windows.h>

#include <string>

#include "platform/base/Win32Handles.h"

class CIncomingFile {
public:
    explicit CIncomingFile(const char* pszTarget);
    ~CIncomingFile();
    CIncomingFile(const CIncomingFile&) = delete;
    CIncomingFile& operator=(const CIncomingFile&) = delete;

    bool IsOpen() const { return static_cast<bool>(m_hFile); }
    bool Write(const char* pData, DWORD cb);
    // Moves the file over the target, then closes it. Renaming through the open
    // handle spares reopening the file by name, which is slow under Wine.
    bool Commit(const char* pszTarget);

private:
    UniqueFile m_hFile;
    std::string m_strPath;
};
