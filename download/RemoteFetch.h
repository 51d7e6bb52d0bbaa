#pragma once
// Fetching a list of files into a staging directory in the caller's thread.
#include <string>
#include <vector>

class CQOVAUpdateIntf;
struct S_TransferFailure;
struct S_FileBound;

// Fetches each name of vecNames (update kind nUpdateType) to strDownloadPath +
// name, creating its directory first, without progress reports, as many at a
// time as the transport's connections (one: in list order, one after the
// other). Stops at the first failed fetch with false; files fetched before it
// stay staged. An empty list is true without touching the transport; a null
// transport, or a name that would leave the staging directory, is false before
// any request. On false, *pFailure (when given) says why. vecBounds: empty, or
// one per name (the manifest's SIZE, the bounds of a manifest and its .sig).
bool GetRemoteFiles(int nUpdateType, CQOVAUpdateIntf* pUpdateIntf, const std::string& strDownloadPath,
                    const std::vector<std::string>& vecNames, S_TransferFailure* pFailure = nullptr,
                    const std::vector<S_FileBound>& vecBounds = std::vector<S_FileBound>());
