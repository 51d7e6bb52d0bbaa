#pragma once
// UpdateTool's text road. Arguments arrive as UTF-16 and are UTF-8 inside, as
// everywhere in the program. Text for a console goes out through
// WriteConsoleW, so any name shows as it is; redirected output and standard
// input stay GBK bytes (code page 936), as scripts have always read and fed them.
#include <cstdio>
#include <string>
#include <vector>

// The arguments after the program name, as UTF-8.
std::vector<std::string> ToolArguments();

// printf into pStream (stdout or stderr); UTF-8 text, see above. A character
// GBK cannot spell goes to a redirected stream as '?'.
void ToolPrintf(std::FILE* pStream, const char* pszFormat, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
// UTF-8 text to standard output. False when it could not be written.
bool WriteOutText(const std::string& strUtf8);
// Stored text (GBK bytes) to standard output: a console shows it decoded, a
// redirected output receives the bytes unchanged.
bool WriteOutStored(const std::string& strGbk);
