#pragma once
// Checks a staged (downloaded) file against its manifest entry before anything
// is installed from it. One object serves one run: it holds the run's single
// CMD5 and remembers the digests it computed for reuse, so a file is digested
// at most once.
#include <map>
#include <string>

#include "manifest/UpdateFileInfo.h"
#include "platform/fs/MD5.h"

class CStagedFileCheck {
public:
    CStagedFileCheck() = default;
    CStagedFileCheck(const CStagedFileCheck&) = delete;
    CStagedFileCheck& operator=(const CStagedFileCheck&) = delete;

    // The reuse rule for a copy left by an earlier, interrupted run: true when
    // strStagedPath exists and its digest equals info.strMD5 byte for byte
    // (letter case counts). A file found reusable must not be changed for the
    // rest of the run: its digest is remembered for IsIntact.
    bool IsReusable(const std::string& strStagedPath, const S_UpdateFileInfo& info);

    // The install gate: true when strStagedPath exists, its digest equals
    // info.strMD5 without regard to letter case (an empty "MD5" cannot be
    // checked and is accepted) and, when info.strSize is not empty, its size in
    // bytes equals that decimal number (text that is not a plain decimal number
    // never matches).
    bool IsIntact(const std::string& strStagedPath, const S_UpdateFileInfo& info);

private:
    std::map<std::string, std::string> m_mapReusedDigests;   // staged path -> digest
    CMD5 m_md5;
};

// Hex digests equal when letter case is ignored (ASCII only, lengths equal).
bool IsSameDigestText(const std::string& strA, const std::string& strB);
// True when strSize is a plain decimal number (digits only, no sign or blank)
// equal to nBytes.
bool IsSizeText(const std::string& strSize, unsigned long long nBytes);
