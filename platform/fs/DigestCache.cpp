#include "platform/fs/DigestCache.h"

#include <vector>

#include "platform/base/Text.h"
#include "platform/base/Win32Handles.h"
#include "platform/fs/DirectoryEx.h"
#include "platform/fs/FileContents.h"

namespace {

const char kHeader[] = "QOVA digest cache 2\r\n";
const char kSectionMark[] = "@\t";
// A file changed within this long before it was hashed may be written again
// within the same tick of the file system's clock, leaving its times as they
// were: its digest is not kept (the next run hashes it again).
constexpr uint64_t kSettleTime = 10000000;   // 1 s in FILETIME units
// Damage that leaves the times alone (a bad sector, a write through a mapped
// view, a tool that restores times) is caught by hashing every file again
// after this long, whatever the cache says.
constexpr uint64_t kMaxEntryAge = 7ull * 24 * 3600 * 10000000;   // 7 days in FILETIME units

uint64_t NowFileTime() {
    FILETIME ftNow;
    GetSystemTimeAsFileTime(&ftNow);
    return (static_cast<uint64_t>(ftNow.dwHighDateTime) << 32) | ftNow.dwLowDateTime;
}

// Times that are unset or ahead of the clock say nothing about the contents.
bool TimesAreSound(const S_FileIdentity& id, uint64_t nNow) {
    return id.nLastWrite != 0 && id.nChange != 0 && id.nLastWrite <= nNow && id.nChange <= nNow;
}

std::string Hex(uint64_t n) {
    char szText[17];
    int i = 16;
    szText[i] = '\0';
    do {
        szText[--i] = "0123456789abcdef"[n & 0xF];
        n >>= 4;
    } while (n != 0);
    return std::string(szText + i);
}

bool ParseHex(const std::string& strText, uint64_t& n) {
    if (strText.empty() || strText.size() > 16) return false;
    n = 0;
    for (char c : strText) {
        int nDigit;
        if (c >= '0' && c <= '9') nDigit = c - '0';
        else if (c >= 'a' && c <= 'f') nDigit = c - 'a' + 10;
        else return false;
        n = (n << 4) | static_cast<uint64_t>(nDigit);
    }
    return true;
}

std::vector<std::string> Split(const std::string& strLine, char cSeparator) {
    std::vector<std::string> vecFields;
    size_t nStart = 0;
    for (;;) {
        const size_t nEnd = strLine.find(cSeparator, nStart);
        vecFields.push_back(strLine.substr(nStart, nEnd - nStart));
        if (nEnd == std::string::npos) return vecFields;
        nStart = nEnd + 1;
    }
}

// "<algorithm>\t<root>\t<count>": what the section's checksum covers with its lines.
std::string SectionKey(const std::string& strAlgorithm, const std::string& strRoot) {
    return strAlgorithm + "\t" + strRoot;
}

std::string EntryLine(const std::string& strName, const S_FileIdentity& id, const std::string& strDigest,
                      uint64_t nHashed) {
    return strName + "\t" + Hex(id.nSize) + "\t" + Hex(id.nLastWrite) + "\t" + Hex(id.nChange) + "\t" +
           Hex(id.nVolume) + "\t" + Hex(id.nIndex) + "\t" + strDigest + "\t" + Hex(nHashed) + "\r\n";
}

bool ParseEntry(const std::string& strLine, std::string& strName, S_FileIdentity& id, std::string& strDigest,
                uint64_t& nHashed) {
    const std::vector<std::string> vecFields = Split(strLine, '\t');
    if (vecFields.size() != 8 || vecFields[0].empty() || vecFields[6].empty()) return false;
    for (char c : vecFields[6]) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    strName = vecFields[0];
    strDigest = vecFields[6];
    return ParseHex(vecFields[1], id.nSize) && ParseHex(vecFields[2], id.nLastWrite) &&
           ParseHex(vecFields[3], id.nChange) && ParseHex(vecFields[4], id.nVolume) &&
           ParseHex(vecFields[5], id.nIndex) && ParseHex(vecFields[7], nHashed);
}

// Tabs and line breaks would break the format: such a root is never cached.
bool IsStorable(const std::string& strText) { return strText.find_first_of("\t\r\n") == std::string::npos; }

}  // namespace

bool GetFileIdentity(HANDLE hFile, uint64_t nVolume, S_FileIdentity& identity) {
    // GetFileInformationByHandle would tell all of it, but its volume query
    // costs about a millisecond per file under Wine, several times the reading
    // of a small file; so the volume comes from the root once per cache, the
    // times and size from the file's basic and standard information, and the
    // file index from its internal information (the same number, a few
    // microseconds).
    using NtQueryInformationFileFn = LONG(WINAPI*)(HANDLE, void*, void*, ULONG, int);
    static const NtQueryInformationFileFn s_query = reinterpret_cast<NtQueryInformationFileFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationFile")));
    const int kFileInternalInformation = 6;
    struct {
        LONG_PTR nStatus;
        ULONG_PTR nInformation;
    } ioStatus = {};
    LARGE_INTEGER liIndex = {};
    FILE_BASIC_INFO basic = {};
    FILE_STANDARD_INFO standard = {};
    if (!s_query || s_query(hFile, &ioStatus, &liIndex, sizeof(liIndex), kFileInternalInformation) < 0 ||
        !GetFileInformationByHandleEx(hFile, FileBasicInfo, &basic, sizeof(basic)) ||
        !GetFileInformationByHandleEx(hFile, FileStandardInfo, &standard, sizeof(standard)) || standard.Directory) {
        return false;
    }
    identity.nSize = static_cast<uint64_t>(standard.EndOfFile.QuadPart);
    identity.nLastWrite = static_cast<uint64_t>(basic.LastWriteTime.QuadPart);
    identity.nChange = static_cast<uint64_t>(basic.ChangeTime.QuadPart);
    identity.nVolume = nVolume;
    identity.nIndex = static_cast<uint64_t>(liIndex.QuadPart);
    // A file system without a change time or stable index (FAT) cannot show
    // every change: such files are always read.
    return identity.nChange != 0 && identity.nIndex != 0;
}

CDigestCache::CDigestCache(const wchar_t* pszAlgorithm, const std::string& strCacheFile,
                           const std::string& strRootPath)
    : m_digest(pszAlgorithm), m_strRootPath(strRootPath) {
    for (const wchar_t* p = pszAlgorithm; p && *p; ++p) m_strAlgorithm += static_cast<char>(*p);   // ASCII names
    if (strCacheFile.empty() || !IsStorable(strRootPath) || m_strAlgorithm.empty()) return;
    UniqueFile hRoot(CreateFileW(Utf8ToWide(strRootPath).c_str(), FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    DWORD dwSerial = 0;
    if (!hRoot || !GetVolumeInformationByHandleW(hRoot.get(), nullptr, 0, &dwSerial, nullptr, nullptr, nullptr, 0)) {
        return;
    }
    m_nVolume = dwSerial;
    m_strCacheFile = strCacheFile;
    Load();
}

void CDigestCache::Load() {
    std::string strText;
    if (ReadWholeFile(m_strCacheFile, strText) != FileReadResult::Read ||
        strText.compare(0, sizeof(kHeader) - 1, kHeader) != 0) {
        m_bDirty = true;
        return;
    }
    std::vector<std::string> vecLines = Split(strText.substr(sizeof(kHeader) - 1), '\n');
    if (!vecLines.empty() && vecLines.back().empty()) vecLines.pop_back();   // after the last line break
    for (std::string& strLine : vecLines) {
        if (strLine.empty() || strLine.back() != '\r') {
            m_bDirty = true;
            return;   // torn or edited: nothing after this is trusted
        }
        strLine.pop_back();
    }

    const std::string strOwnKey = SectionKey(m_strAlgorithm, m_strRootPath);
    bool bOwnSeen = false;
    for (size_t i = 0; i < vecLines.size();) {
        // "@\t<algorithm>\t<root>\t<count>\t<checksum>", then <count> entry lines.
        const std::vector<std::string> vecHead = Split(vecLines[i], '\t');
        uint64_t nCount = 0;
        uint64_t nChecksum = 0;
        if (vecLines[i].compare(0, 2, kSectionMark) != 0 || vecHead.size() != 5 || !ParseHex(vecHead[3], nCount) ||
            !ParseHex(vecHead[4], nChecksum) || nCount > vecLines.size() - i - 1) {
            m_bDirty = true;
            return;
        }
        const std::string strKey = SectionKey(vecHead[1], vecHead[2]);
        std::string strBody;
        for (size_t n = 0; n < nCount; ++n) strBody += vecLines[i + 1 + n] + "\r\n";
        const bool bIntact = ContentChecksum(strKey + "\t" + vecHead[3] + "\r\n" + strBody) == nChecksum;
        const bool bOwn = strKey == strOwnKey;
        if (!bIntact || (bOwn && bOwnSeen)) {
            m_bDirty = true;   // dropped: the next Save() leaves it out
        } else if (!bOwn) {
            m_strOtherSections += vecLines[i] + "\r\n" + strBody;
        } else {
            bOwnSeen = true;
            std::unordered_map<std::string, S_Entry> entries;
            for (size_t n = 0; n < nCount; ++n) {
                std::string strName;
                S_Entry entry;
                if (!ParseEntry(vecLines[i + 1 + n], strName, entry.identity, entry.strDigest, entry.nHashed)) {
                    entries.clear();
                    m_bDirty = true;
                    break;
                }
                entries[strName] = entry;
            }
            m_entries.swap(entries);
        }
        i += 1 + static_cast<size_t>(nCount);
    }
}

long CDigestCache::GetFileDigest(const std::string& strName, std::string& strDigest) {
    strDigest.clear();
    m_strPath.assign(m_strRootPath).append(strName);
    m_wstrPath = Utf8ToWide(m_strPath);
    UniqueFile hFile(CreateFileW(m_wstrPath.c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!hFile) return -1;

    S_FileIdentity before;
    const uint64_t nNow = NowFileTime();
    const bool bKnown = !m_strCacheFile.empty() && GetFileIdentity(hFile.get(), m_nVolume, before) &&
                        TimesAreSound(before, nNow);
    if (bKnown) {
        const auto it = m_entries.find(strName);
        if (it != m_entries.end()) {
            const uint64_t nHashed = it->second.nHashed;
            if (it->second.identity == before && nHashed <= nNow && nNow - nHashed < kMaxEntryAge) {
                it->second.bUsed = true;
                strDigest = it->second.strDigest;
                return 0;
            }
            m_entries.erase(it);
            m_bDirty = true;
        }
    }

    ++m_nFilesRead;
    if (m_digest.GetOpenFileDigest(hFile.get(), strDigest) != 0) return -1;
    if (!bKnown) return 0;

    // Kept under the identity taken before the read: a write during the read
    // moves the change time of a settled file away from it, so the next run reads
    // the file again.
    const uint64_t nLatest = before.nChange > before.nLastWrite ? before.nChange : before.nLastWrite;
    if (nLatest < nNow && nNow - nLatest >= kSettleTime) {
        S_Entry& entry = m_entries[strName];
        entry.identity = before;
        entry.strDigest = strDigest;
        entry.nHashed = nNow;
        entry.bUsed = true;
        m_bDirty = true;
    }
    return 0;
}

bool CDigestCache::Save() {
    if (m_strCacheFile.empty()) return false;
    bool bAllUsed = true;
    std::string strBody;
    uint64_t nCount = 0;
    for (const auto& item : m_entries) {
        if (!item.second.bUsed || !IsStorable(item.first)) {
            bAllUsed = false;
            continue;
        }
        strBody += EntryLine(item.first, item.second.identity, item.second.strDigest, item.second.nHashed);
        ++nCount;
    }
    if (!m_bDirty && bAllUsed) return true;   // the file already says exactly this

    const std::string strKey = SectionKey(m_strAlgorithm, m_strRootPath);
    const std::string strCount = Hex(nCount);
    const std::string strText = std::string(kHeader) + m_strOtherSections + kSectionMark + strKey + "\t" +
                                strCount + "\t" + Hex(ContentChecksum(strKey + "\t" + strCount + "\r\n" + strBody)) + "\r\n" +
                                strBody;
    CDirectoryEx::CreateParentDirectory(m_strCacheFile);
    if (!ReplaceFileContents(m_strCacheFile, strText, false)) return false;   // a torn file fails its checksums
    m_bDirty = false;
    return true;
}
