#pragma once
// Move-only owner of a WinHTTP handle (session, connection or request).
#include <windows.h>
#include <winhttp.h>

#include "platform/base/Win32Handles.h"

struct WinHttpCloseHandleFn {
    void operator()(HINTERNET h) const { ::WinHttpCloseHandle(h); }
};

// The User-Agent of every session the program opens.
constexpr const wchar_t kUserAgent[] = L"QOVAUpdate/4.0";

using UniqueInternet = UniqueAny<HINTERNET, WinHttpCloseHandleFn, nullptr>;
