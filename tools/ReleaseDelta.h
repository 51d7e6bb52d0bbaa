#pragma once
// The patches and compressed copies a release is published with
// ("manifest ... --delta-from OLD_DIR"): for every file a compressed copy, for
// every file that differs from the same-named file of an earlier release a
// patch from it. A copy is kept when it saves at least 10 % against the file, a
// patch when it saves at least 10 % against the next better way (the kept copy,
// else the file). Kept ones go to DIR\UPDATE\delta\, named after their digests
// (manifest/FileDelta.h), and are never overwritten.
#include <string>
#include <vector>

#include "manifest/FileDelta.h"

// Files above this get no patch: making one holds both files and the suffix
// array in memory (about 5 bytes per old byte and 3 per new one).
constexpr unsigned long long kMaxPatchedFileSize = 1ULL << 30;

struct S_ReleaseFile {
    std::string strName;              // below the release folder, '\'-separated (UTF-8)
    unsigned long long nSize = 0;
    std::string strDigest;            // in the manifest's digest kind (the SHA-256 with a key, else the MD5)
    S_FileDelta delta;                // filled by PublishReleaseDeltas
};

struct S_ReleaseDeltaOptions {
    std::string strRoot;                 // the release folder, ending in '\'
    std::vector<std::string> vecFrom;    // earlier releases' folders, ending in '\'
    std::vector<std::string> vecShown;   // the same as given on the command line, for the report
    bool bSha256 = false;                // digests: SHA-256 (signed release) or MD5
};

// Makes the patches and copies (two at once, within 10 times the largest
// earlier file's memory, at least 1 GiB), writes the kept ones, fills
// each file's delta and prints per file and in total the bytes a client with
// each earlier release takes. Output is the same for the same inputs. False
// with strError when an earlier release or the store cannot be read or written.
bool PublishReleaseDeltas(const S_ReleaseDeltaOptions& options, std::vector<S_ReleaseFile>& vecFiles,
                          std::string& strError);
