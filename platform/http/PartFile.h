#pragma once
// The file a body streams into: "<target>.part" beside the target, moved over
// the target once complete. A transfer that ends early leaves it there with
// the first answer's validator in "<target>.part.tag", so that a later
// transfer (in this run or the next) can ask for the rest with Range and
// If-Range; a part that could not be continued is deleted.
#include <windows.h>

#include <cstdint>
#include <string>

#include "platform/base/Win32Handles.h"

class CPartFile {
public:
    // Nothing on disk is looked at before Open.
    explicit CPartFile(std::string strTarget);
    // Closes the part: kept with its tag when it holds bytes and a validator,
    // else deleted.
    ~CPartFile();
    CPartFile(const CPartFile&) = delete;
    CPartFile& operator=(const CPartFile&) = delete;

    // After Open: bytes on disk and the If-Range value that continues them;
    // nothing to continue when either is empty.
    uint64_t Have() const { return m_nHave; }
    const std::string& Validator() const { return m_strValidator; }
    uint64_t Total() const { return m_nTotal; }

    // Opens (creating) the part; false when it cannot be written. Takes over
    // what an earlier transfer left: a part with its tag (a tag without its
    // part is ignored, and overwritten when a new one is saved).
    bool Open();
    // The answer starts the file over (200) or continues it (206, at Have()).
    // strValidator: the answer's strong ETag, else its Last-Modified, else empty.
    bool StartOver(const std::string& strValidator, uint64_t nTotal);
    bool Continue();
    // Forgets what is on disk: the next attempt starts from nothing.
    void Discard();
    bool Write(const char* pData, DWORD cb);
    // Moves the part over the target, then closes it; the tag goes. On failure
    // the part is deleted: a complete body has nothing left to continue.
    bool Commit();

private:
    void TakeOverTag();
    void SaveTag();
    void DeleteTag();

    std::string m_strTarget, m_strPart, m_strTag;
    UniqueFile m_hFile;
    uint64_t m_nHave = 0;
    uint64_t m_nTotal = 0;
    std::string m_strValidator;
    bool m_bTagOnDisk = false;  // a tag is on disk; it always matches m_strValidator and m_nTotal
    bool m_bDone = false;       // committed or given up: nothing to keep
};
