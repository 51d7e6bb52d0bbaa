#pragma once
// The running main client, QOVAClient.exe beside Update.exe: asked to close
// before its files are replaced, and started again afterwards.
#include <windows.h>

#include <string>

class IFailureSink;

// Sends WM_CLOSE to the client's window (class "QOVACLIENT") when one exists;
// returns once the client has handled it, without waiting for its exit.
void CloseMainClient();

// Starts strAppPath + "QOVAClient.exe" after nDelayMs, giving a client asked
// to close the time to go; no wait and no start when the file is missing. A
// start that fails goes to pLog with its error.
void StartMainClient(const std::string& strAppPath, DWORD nDelayMs, const IFailureSink* pLog);
