#include "support/ToolRun.h"

#include <cstdio>

#include "platform/base/Text.h"
#include "platform/base/Win32Handles.h"
#include "support/ProcessStart.h"

namespace {

const DWORD kToolTimeoutMs = 120000;

UniqueFile OpenInheritable(const std::string& strPath, DWORD dwAccess, DWORD dwDisposition) {
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    return UniqueFile(CreateFileW(Utf8ToWide(strPath).c_str(), dwAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                                  dwDisposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// A run that did not give the tool's own exit code says why on stderr, whatever the caller asserts.
ToolRun Failed(ToolRun run, const std::string& strWhy, const std::string& strArgs) {
    run.strError = "(" + strWhy + ")" + (run.strError.empty() ? "" : "\n" + run.strError);
    std::fprintf(stderr, "RunTool: %s: %s\n", strWhy.c_str(), strArgs.c_str());
    return run;
}

}  // namespace

ToolRun RunTool(const TempDir& tmp, const std::string& strArgs, const std::string& strInput) {
    ToolRun run;
    const std::string strIn = tmp / "tool-in.txt", strOut = tmp / "tool-out.txt", strErr = tmp / "tool-err.txt";
    if (!WriteFileBytes(strIn, strInput)) return Failed(run, "cannot write " + strIn, strArgs);
    {
        UniqueFile hIn = OpenInheritable(strIn, GENERIC_READ, OPEN_EXISTING);
        UniqueFile hOut = OpenInheritable(strOut, GENERIC_WRITE, CREATE_ALWAYS);
        UniqueFile hErr = OpenInheritable(strErr, GENERIC_WRITE, CREATE_ALWAYS);
        if (!hIn || !hOut || !hErr)
            return Failed(run, "cannot open the standard handles: error " + std::to_string(GetLastError()), strArgs);
        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = hIn.get();
        si.hStdOutput = hOut.get();
        si.hStdError = hErr.get();
        PROCESS_INFORMATION pi = {};
        const std::wstring strExe = Utf8ToWide(ProductBinDir() + "UpdateTool.exe");
        std::wstring strCommand = L"\"" + strExe + L"\" " + Utf8ToWide(strArgs);
        // The tool shares this program's console. With CREATE_NO_WINDOW it would
        // get a console of its own, whose host process inherits the three files
        // and outlives the tool for a moment, so the test's directory could not
        // be deleted and stayed behind for a later program with this process id.
        if (!StartProcess(strExe.c_str(), strCommand, TRUE, 0, si, pi)) {
            const DWORD dwError = GetLastError();
            hErr.reset();
            run.strError = ReadFileBytes(strErr);   // what Wine's loader said, if anything
            return Failed(run, "cannot start UpdateTool: error " + std::to_string(dwError), strArgs);
        }
        UniqueHandle hProcess(pi.hProcess);
        UniqueHandle hThread(pi.hThread);
        const DWORD dwStart = GetTickCount();
        if (WaitForSingleObject(hProcess.get(), kToolTimeoutMs) != WAIT_OBJECT_0) {
            TerminateProcess(hProcess.get(), 99);
            WaitForSingleObject(hProcess.get(), 5000);
            return Failed(run, "UpdateTool still running after " + std::to_string(GetTickCount() - dwStart) + " ms",
                          strArgs);
        }
        GetExitCodeProcess(hProcess.get(), &run.dwExit);
    }
    run.strOutput = ReadFileBytes(strOut);
    run.strError = ReadFileBytes(strErr);
    if (run.dwExit == 0xFFFFFFFF) return Failed(run, "UpdateTool itself exited 0xFFFFFFFF", strArgs);
    return run;
}

ToolRun RunToolArgs(const TempDir& tmp, const std::vector<std::string>& vecArgs, const std::string& strInput) {
    std::string strArgs;
    for (const std::string& strArg : vecArgs) {
        if (!strArgs.empty()) strArgs += ' ';
        strArgs += (strArg.empty() || strArg.find(' ') != std::string::npos) ? "\"" + strArg + "\"" : strArg;
    }
    return RunTool(tmp, strArgs, strInput);
}
