#pragma once
// Copies of accepted manifests (and their ".sig") kept in the road's state
// directory with the ETag their answer carried, so that the next fetch asks
// "only if changed" and a server with nothing new answers 304 in a few
// hundred bytes instead of the manifest. An answer without an ETag is not
// kept: a Last-Modified date cannot tell a restored older manifest from the
// kept newer one, so such a server gets a full fetch every time.
//
// A kept copy stands for the server's answer only: it is staged and checked
// exactly as a fetched one (with a key, the signature again, Expires included).
// One that is missing, damaged or fails its check is discarded, and the fetch
// is made in full.
#include <string>
#include <vector>

class IFailureSink;

class CKeptManifests {
public:
    // The kept copies of vecNames (fetched for update kind nUpdateType) in
    // strStateDir; an empty strStateDir keeps none. A kept copy that cannot be
    // deleted is told to pLog (may be null).
    CKeptManifests(const std::string& strStateDir, int nUpdateType, const std::vector<std::string>& vecNames,
                   const IFailureSink* pLog);

    // One per name: the validator to send, empty where no usable copy is kept.
    const std::vector<std::string>& Conditions() const { return m_vecConditions; }
    // A fetch begins: what the last one did is forgotten.
    void Begin();
    // Name i was answered 304: its kept copy is staged at strLocalPath. False
    // when it cannot be written.
    bool Restore(size_t i, const std::string& strLocalPath);
    // Name i was fetched; strValidator is what its answer carried.
    void Fetched(size_t i, const std::string& strValidator);
    // Some name of the last fetch came from a kept copy.
    bool UsedKept() const;
    // The staged names were accepted: those fetched are kept with their validators.
    void KeepAccepted(const std::string& strDownloadPath);
    // A kept copy failed its check: every one is forgotten, the next fetch is in full.
    void Discard();

private:
    struct S_Kept {
        std::string strPath;        // the kept file
        std::string strValidator;   // of the kept copy; empty: none
        std::string strBody;
        bool bRestored = false;     // the last fetch staged the kept copy
        bool bFetched = false;      // the last fetch brought a new copy
        std::string strAnswer;      // its validator
    };
    std::vector<S_Kept> m_vecKept;
    std::vector<std::string> m_vecConditions;
    std::vector<std::string> m_vecNames;
    const IFailureSink* m_pLog;
};
