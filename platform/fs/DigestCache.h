#pragma once
// Digests of the files below one directory, kept between runs so that a file
// whose contents cannot have changed is not read again.
//
// A file counts as unchanged when all Windows tells about it is as it was when
// it was hashed: size, last-write time, change time, volume serial number and
// file index. The volume is the root directory's (one query per cache: see
// GetFileIdentity); a volume mounted below the root shares it. Every write and every time set moves the change time, so bytes
// put back under their old last-write time are still noticed; a file replaced
// by another has another index. A digest kept for 7 days is taken again from
// the bytes, and a file whose times are unset or ahead of the clock is always
// read. Anything else - no entry, an entry that differs
// in any of these, a cache file that is missing, damaged or was made for
// another directory or algorithm - means the file is hashed from its bytes, as
// without a cache: a kept digest is only ever what hashing gave for the same file.
//
// The cache file holds one section per directory and algorithm. Save() rewrites
// this object's section with the entries used since construction and keeps the
// others; it replaces the file atomically, and a cache that cannot be written
// costs the next run its hashing, nothing else.
#include <windows.h>

#include <cstdint>
#include <string>
#include <unordered_map>

#include "platform/fs/FileDigest.h"

struct S_FileIdentity {
    uint64_t nSize = 0;
    uint64_t nLastWrite = 0;   // FILETIME, 100 ns units
    uint64_t nChange = 0;      // FILETIME, 100 ns units
    uint64_t nVolume = 0;
    uint64_t nIndex = 0;

    bool operator==(const S_FileIdentity& other) const {
        return nSize == other.nSize && nLastWrite == other.nLastWrite && nChange == other.nChange &&
               nVolume == other.nVolume && nIndex == other.nIndex;
    }
    bool operator!=(const S_FileIdentity& other) const { return !(*this == other); }
};

// identity := what the open file tells, with nVolume as its volume's serial
// number. False when it cannot tell all of it, or it is a directory.
bool GetFileIdentity(HANDLE hFile, uint64_t nVolume, S_FileIdentity& identity);

class CDigestCache {
public:
    // pszAlgorithm: a BCrypt algorithm name (BCRYPT_MD5_ALGORITHM, BCRYPT_SHA256_ALGORITHM).
    // strCacheFile: the cache's path; empty keeps nothing (every file is read).
    // strRootPath: the directory, ending in '\', that the names are relative to.
    CDigestCache(const wchar_t* pszAlgorithm, const std::string& strCacheFile, const std::string& strRootPath);
    CDigestCache(const CDigestCache&) = delete;
    CDigestCache& operator=(const CDigestCache&) = delete;

    // strDigest := digest of root + strName (lower-case hexadecimal); empty and -1
    // when the file cannot be opened or read.
    long GetFileDigest(const std::string& strName, std::string& strDigest);

    // Writes the cache file. False when it could not be written (nothing else changes).
    bool Save();

    // Files whose bytes were read since construction.
    unsigned long FilesRead() const { return m_nFilesRead; }

private:
    struct S_Entry {
        S_FileIdentity identity;
        std::string strDigest;
        uint64_t nHashed = 0;   // FILETIME of the hashing; too old or ahead of the clock: hashed again
        bool bUsed = false;     // written back by Save()
    };

    void Load();

    CFileDigest m_digest;
    std::string m_strAlgorithm;
    std::string m_strCacheFile;
    std::string m_strRootPath;
    uint64_t m_nVolume = 0;   // the root's volume serial number
    std::unordered_map<std::string, S_Entry> m_entries;   // by name
    std::string m_strOtherSections;                      // other directories' sections, as read
    bool m_bDirty = false;                               // the file does not say what m_entries does
    unsigned long m_nFilesRead = 0;
    std::string m_strPath;     // reused for every file
    std::wstring m_wstrPath;
};
