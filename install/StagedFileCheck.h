#pragma once
// Checks a staged (downloaded) file against its manifest entry before anything
// is installed from it. One object serves one run and holds its single digest
// object. The install gate hashes every file again, also one judged reusable
// moments or (in the dialog) minutes before: the staging directory may have
// been written to since.
//
// A release whose manifest was signed is judged by SHA-256 ("SHA256") and
// SIZE: MD5 does not pin a file's contents (colliding files can be made), so
// in that mode "MD5" is not looked at. Any other release is judged by "MD5"
// and SIZE as the rules below say.
#include <windows.h>

#include <string>
#include <vector>

#include "manifest/UpdateFileInfo.h"
#include "platform/fs/FileDigest.h"

// What the install gate found of a staged file.
enum class EStagedState {
    Intact,       // IsIntact
    Mismatch,     // missing, or not the manifest's size or digest
    Unreadable,   // there, but it could not be read (held, access denied): nothing known of its contents
};

enum class EStagedDigest {
    Md5,      // an unsigned manifest
    Sha256,   // a signed manifest
};

class CStagedFileCheck {
public:
    explicit CStagedFileCheck(EStagedDigest digest = EStagedDigest::Md5);
    CStagedFileCheck(const CStagedFileCheck&) = delete;
    CStagedFileCheck& operator=(const CStagedFileCheck&) = delete;

    // The reuse rule for a copy left by an earlier, interrupted run. MD5: true
    // when strStagedPath exists and its digest equals info.strMD5 byte for
    // byte (letter case counts). SHA-256: true when it passes IsIntact.
    bool IsReusable(const std::string& strStagedPath, const S_UpdateFileInfo& info);

    // The install gate: true when strStagedPath exists, when info.strSize is
    // not empty its size in bytes equals that decimal number (text that is not
    // a plain decimal number never matches), and its digest equals the
    // manifest's without regard to letter case. MD5: an empty "MD5" cannot be
    // checked and is accepted. SHA-256: an empty "SHA256" never matches.
    bool IsIntact(const std::string& strStagedPath, const S_UpdateFileInfo& info);
    // IsIntact, telling a file that could not be read (dwError, the Win32
    // error) from one that is not the manifest's.
    EStagedState Judge(const std::string& strStagedPath, const S_UpdateFileInfo& info, DWORD& dwError);

private:
    // IsIntact, handing out the digest it computed (empty when none was needed).
    bool PassesGate(const std::string& strStagedPath, const S_UpdateFileInfo& info, std::string& strDigest);
    std::string DigestOf(const std::string& strStagedPath);

    EStagedDigest m_eDigest;
    DWORD m_dwReadError = 0;   // why the last PassesGate could not read its file (0: it could)
    CFileDigest m_digest;
};

// The files of vecChanged, in order, whose staged copy (strDownloadPath +
// name) an earlier, interrupted run did not already leave as IsReusable wants it.
std::vector<S_UpdateFileInfo> SelectFilesToFetch(CStagedFileCheck& check, const std::string& strDownloadPath,
                                                 const std::vector<S_UpdateFileInfo>& vecChanged);

// Hex digests equal when letter case is ignored (ASCII only, lengths equal).
bool IsSameDigestText(const std::string& strA, const std::string& strB);
// True when strSize is a plain decimal number (digits only, no sign or blank)
// equal to nBytes.
bool IsSizeText(const std::string& strSize, unsigned long long nBytes);
