#include "tools/ToolConsole.h"

#include <windows.h>

#include <algorithm>
#include <cstdarg>

#include "platform/base/CommandLineArgs.h"
#include "platform/base/Text.h"

namespace {

// The console behind the stream, or nullptr when the stream is redirected.
HANDLE ConsoleOf(std::FILE* pStream) {
    const HANDLE h = GetStdHandle(pStream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD dwMode = 0;
    return (h != INVALID_HANDLE_VALUE && h && GetConsoleMode(h, &dwMode)) ? h : nullptr;
}

bool WriteConsoleText(HANDLE hConsole, const std::wstring& strWide) {
    size_t nDone = 0;
    while (nDone < strWide.size()) {
        DWORD dwWritten = 0;
        const DWORD dwChunk = static_cast<DWORD>(std::min<size_t>(strWide.size() - nDone, 16384));
        if (!WriteConsoleW(hConsole, strWide.data() + nDone, dwChunk, &dwWritten, nullptr) || dwWritten == 0) {
            return false;
        }
        nDone += dwWritten;
    }
    return true;
}

bool WriteBytes(std::FILE* pStream, const std::string& strBytes) {
    return std::fwrite(strBytes.data(), 1, strBytes.size(), pStream) == strBytes.size() && std::fflush(pStream) == 0;
}

bool WriteText(std::FILE* pStream, const std::string& strUtf8) {
    if (HANDLE hConsole = ConsoleOf(pStream)) {
        std::fflush(pStream);
        return WriteConsoleText(hConsole, Utf8ToWide(strUtf8));
    }
    return WriteBytes(pStream, Utf8ToGbkLossy(strUtf8));
}

}  // namespace

std::vector<std::string> ToolArguments() { return GetCommandLineArguments(); }

void ToolPrintf(std::FILE* pStream, const char* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    va_list argsCopy;
    va_copy(argsCopy, args);
    const int nLen = std::vsnprintf(nullptr, 0, pszFormat, args);
    va_end(args);
    if (nLen > 0) {
        std::string strText(static_cast<size_t>(nLen) + 1, '\0');
        std::vsnprintf(&strText[0], strText.size(), pszFormat, argsCopy);
        strText.resize(static_cast<size_t>(nLen));
        WriteText(pStream, strText);   // best effort: a message that cannot be shown has nowhere else to go
    }
    va_end(argsCopy);
}

bool WriteOutText(const std::string& strUtf8) { return WriteText(stdout, strUtf8); }

bool WriteOutStored(const std::string& strGbk) {
    if (HANDLE hConsole = ConsoleOf(stdout)) {
        std::string strUtf8;
        if (!GbkToUtf8(strGbk, strUtf8)) strUtf8 = strGbk;   // not GBK: show what can be shown
        std::fflush(stdout);
        return WriteConsoleText(hConsole, Utf8ToWide(strUtf8));
    }
    return WriteBytes(stdout, strGbk);
}
