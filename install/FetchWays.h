#pragma once
// The fetch stage's choice of way per file (docs/patches.md): a patch whose
// base is the installed file, else the compressed copy, else the file itself,
// each through the transport's FetchFiles with the way's listed size as its
// bound. Patches and copies are staged under their own names (the remote
// name below the staging directory), then applied or decompressed into the
// file's staged name and checked as the check stage will; a way that fails
// anywhere (not on any server, damaged, the installed file changed, a result
// that is not the manifest's) is logged and left for the next one in another
// round of FetchFiles, until the file itself, whose failure ends the fetch.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "manifest/UpdateFileInfo.h"
#include "platform/http/UpdateIntf.h"

class CStagedFileCheck;
class CUpdateLog;

enum class EFetchWay { Patch, Copy, File };
const char* FetchWayText(EFetchWay eWay);

struct S_FetchWaysSetup {
    unsigned int nUpdateType = 0;
    CQOVAUpdateIntf* pTransport = nullptr;
    std::string strTargetPath;     // the installed files (references of patches)
    std::string strDownloadPath;   // staging directory
    bool bSigned = false;          // SHA-256 digests and Sha256 delta entries only
};

struct S_FetchWaysResult {
    unsigned long long nTaken = 0;   // bytes of every way fetched, fallen back from or not
    unsigned long long nFull = 0;    // SIZE of the files fetched
    S_TransferFailure failure;       // why a file could not be fetched at all
};

// The way a file is on and its size (the transport's bound).
struct S_FileWay {
    EFetchWay eWay = EFetchWay::File;
    size_t iPatch = 0;                        // with Patch: index into delta.vecPatches
    unsigned long long nSize = kUnknownSize;  // the way's bytes
};

class CFetchWays {
public:
    // pCheck judges a result as the check stage will (null: no result passes).
    CFetchWays(const S_FetchWaysSetup& setup, CStagedFileCheck* pCheck, const CUpdateLog& log);

    // Chooses the first way of each file (reads the installed file's digest
    // where a patch is listed).
    void Plan(const std::vector<S_UpdateFileInfo>& vecFiles);

    // Fetches every planned file into its staged name; false when a file
    // itself was not delivered (or the fetch was stopped): result.failure.
    // The transport's reports go to hNotifyWnd (none when null), and
    // (n, UPDATE_NOTIFY_STAGED) once the first n files of the list are staged.
    bool Run(S_FetchWaysResult& result, HWND hNotifyWnd, UINT nNotifyMsg, const std::function<bool()>& fnStopRequested);

private:
    std::string Remote(size_t i) const;
    std::string Local(size_t i) const { return m_setup.strDownloadPath + Remote(i); }
    std::string Staged(size_t i) const { return m_setup.strDownloadPath + m_vecFiles[i].strFileName; }
    // Applies or decompresses a stored patch or copy; the reason when it failed.
    bool Finish(size_t i, std::string& strReason);
    void FallBack(size_t i, const std::string& strReason);
    std::string InstalledDigest(size_t i);
    void MarkStaged(size_t i, HWND hNotifyWnd, UINT nNotifyMsg);
    // One round: every pending file on its current way. False: the fetch failed
    // (result.failure says why); otherwise vecPending holds the next round's files.
    bool FetchRound(std::vector<size_t>& vecPending, S_FetchWaysResult& result, HWND hNotifyWnd, UINT nNotifyMsg,
                    const std::function<bool()>& fnStopRequested);
    // A file the round stored: counted and logged, a patch or copy made into the
    // release's file. False: it falls back to its next way, for the next round.
    bool TakeStored(size_t i, S_FetchWaysResult& result, HWND hNotifyWnd, UINT nNotifyMsg);

    S_FetchWaysSetup m_setup;
    CStagedFileCheck* m_pCheck;
    const CUpdateLog& m_log;
    std::vector<S_UpdateFileInfo> m_vecFiles;
    std::vector<S_FileWay> m_vecWays;   // the way each file is on now
    std::vector<std::string> m_vecBase;    // the installed digest a patch was chosen for
    std::vector<char> m_vecStaged;         // per file: under its staged name
    size_t m_nReported = 0;                // files of the list staged without a gap
};
