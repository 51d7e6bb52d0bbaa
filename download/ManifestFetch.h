#pragma once
// The one way a manifest is fetched, by the silent program update, the silent
// data update and the update dialog alike.
//
// Without a PublicKey in Config.dat this is just the fetch of the manifest
// (nothing else is asked of the server). With one, the manifest and its
// ".sig" are fetched together, and the manifest counts as fetched only when
// the signature is of it for the path it was asked at ("/<kind>/<name>"), by
// one of the keys, has not expired and is not older than the newest one this
// installation accepted for that manifest, and every file section has a
// SHA256 (manifest/ManifestSignature.h). A refused pair is deleted from the
// staging directory and the next server of the list is asked for both; when
// none has a pair that passes, the caller goes on as for a server that could
// not be reached. A PublicKey that cannot be read fetches nothing at all.
//
// Every answer is bounded: a manifest above kMaxManifestBytes and a ".sig"
// above kMaxSignatureBytes are refused as they arrive, and each must come
// within ManifestAnswerLimitMs() from one server, else the next one is asked.
#include <string>

#include <vector>

#include "manifest/ManifestSignature.h"
#include "platform/http/UpdateIntf.h"

class IFailureSink;

struct S_ManifestRequest {
    int nUpdateType = 0;
    CQOVAUpdateIntf* pUpdateIntf = nullptr;
    std::string strAppPath;        // Config.dat's directory, ending in '\'
    std::string strDownloadPath;   // staging directory, ending in '\'
    std::string strManifestName;   // "UpdateConfig.ini" or "config.ini"
    EManifestLayout layout = EManifestLayout::Program;
    std::string strRecordName;     // [Signature] key (SignatureRecordName)
    std::string strStateDir;       // where accepted manifests are kept, ending in '\'; empty: none kept
    const IFailureSink* pLog = nullptr;   // the run's log: deletions that fail; null: told to nobody
};

// How a manifest fetch ended.
enum class EManifestFetch {
    Accepted,      // staged and usable
    Unavailable,   // no server delivered it (or its .sig)
    Refused,       // delivered, but its signature check failed on every server asked (eSignature: the last one's reason)
    TrustBroken,   // the installation's PublicKey cannot be read: nothing was asked
};

struct S_FetchedManifest {
    EManifestFetch eResult = EManifestFetch::Unavailable;
    ESignatureCheck eSignature = ESignatureCheck::Valid;   // why it was refused
    bool bSigned = false;          // checked against the installation's key:
                                   // staged files are then judged by SHA-256
    std::string strRecordName;
    std::string strSigned;         // the accepted Signed time
    std::string strExpires;        // its Expires (empty: none), checked again right before the install
    std::string strServer;         // "ip:port" that served the manifest taken; empty when none was
    bool bKeptCopy = false;        // Accepted: the server answered 304, the copy kept from before was taken
    bool bConfigDamaged = false;   // TrustBroken: Config.dat itself cannot be read (not only its PublicKey)
    struct S_Refusal {
        std::string strServer;     // "ip:port" that served the manifest
        ESignatureCheck eReason;
    };
    std::vector<S_Refusal> vecRefused;  // each signed manifest refused, in the order the servers were asked
    S_TransferFailure failure;     // why the last fetch of the manifest or its .sig failed; None when none did
};

// How long a manifest, or its .sig, may take from one server: 120 s. The test
// environment variable QOVA_TEST_MANIFEST_LIMIT_MS (milliseconds) can only
// shorten it, so that the bound is testable without waiting two minutes.
unsigned long ManifestAnswerLimitMs();

// The [Signature] key of a manifest: "Program" for the program files; the
// data set's directory name for its "config.ini" ("." for an empty name); the
// name, '\' and the manifest's name for any other manifest of a data set (the
// update dialog's "UpdateConfig.ini"), so that two manifests of one data set,
// signed at different times, never refuse each other.
std::string SignatureRecordName(int nUpdateType, const std::string& strUpdateName, const std::string& strManifestName);

// True when the manifest is staged and may be used; fetched tells how.
bool FetchManifest(const S_ManifestRequest& request, S_FetchedManifest& fetched);

// After an update that put every listed file in place (or found nothing to
// do): the manifest's Signed becomes the newest this installation accepted,
// so no older signed manifest is taken again. Nothing for an unsigned one.
void RecordAcceptedManifest(const std::string& strAppPath, const S_FetchedManifest& fetched);
