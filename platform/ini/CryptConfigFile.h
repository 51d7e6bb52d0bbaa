#pragma once
// The product's encrypted INI files (Config.dat, UserConfig.dat, UpdateRecord.dat):
// AES-GCM through BCrypt, a small versioned header, written atomically. The
// text inside is GBK (code page 936); names and values are UTF-8 here, and a
// write of a text GBK cannot spell (䶮) is refused (platform/ini/StoredText.h).
#include <windows.h>

#include <string>

#include "platform/ini/IniDocument.h"

// commdlg.h maps ReplaceText to ReplaceTextA, which would rename the member below
// in some translation units and not in others. Once windows.h is in, it stays out.
#ifdef ReplaceText
#undef ReplaceText
#endif

class CCryptConfigFile {
public:
    // strKey empty: the product's built-in key; otherwise a key derived from strKey.
    CCryptConfigFile(std::string strFilePath, std::string strKey);
    ~CCryptConfigFile();
    CCryptConfigFile(const CCryptConfigFile&) = delete;
    CCryptConfigFile& operator=(const CCryptConfigFile&) = delete;

    // Works on another file from now on.
    void Initialize(std::string strFilePath, std::string strKey);

    // Reads see the file as it was read at construction, Initialize or the last write.
    // A missing, unreadable or damaged file reads as empty.

    long ReadString(std::string strSection, std::string strKey, std::string strDefault, std::string& strValue);
    int ReadInteger(std::string strSection, std::string strKey, int nDefault);
    // Each write is stored at once (temporary file, then moved over the old one),
    // applied to the file as it is on disk at that moment, and creates the file when
    // missing (not its directory). Refused (-1) when the file exists but cannot be
    // read, decrypted or authenticated, so a damaged file is never overwritten; also
    // when the names or value cannot be stored (see IniDocument::Set).
    long WriteString(std::string strSection, std::string strKey, std::string strValue);
    long WriteInteger(std::string strSection, std::string strKey, int nValue);

    // For the support tool: the whole decrypted INI text as stored (GBK bytes), and
    // its replacement, also GBK (parsed
    // and stored in the form Serialize gives; refused like writes for a damaged file).
    std::string GetText() const;
    long ReplaceText(const std::string& strText);
    // True when the file exists but could not be read, decrypted or authenticated.
    bool IsDamaged() const;
    // True when the file existed and was read.
    bool Exists() const;

private:
    void Load();
    long Store(const IniDocument& doc);

    std::string m_strFilePath;
    std::string m_strKey;
    IniDocument m_doc;
    bool m_bExists = false;
    bool m_bDamaged = false;
};
