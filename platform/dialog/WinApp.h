#pragma once
// The application object: one global instance whose InitInstance does the work.
// InitInstance returning FALSE ends the program without a message loop.
#include <windows.h>

#include <string>

class CWinApp {
public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual BOOL InitInstance();
    virtual int Run();            // message loop, entered only when InitInstance returns TRUE
    virtual int ExitInstance();

    // Names the registry key under HKCU\Software that would hold the program's
    // settings; kept only as a name, the program stores no settings there.
    void SetRegistryKey(const char* pszRegistryKey);
    const std::string& GetRegistryKey() const { return m_strRegistryKey; }

    HINSTANCE m_hInstance = nullptr;

private:
    std::string m_strRegistryKey;
};

CWinApp* AfxGetApp();
HINSTANCE AfxGetInstanceHandle();
// Entry from WinMain: runs the one application object.
int AfxWinMain(HINSTANCE hInstance);
