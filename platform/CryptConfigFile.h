#pragma once
// The product's encrypted INI files (Config.dat, UserConfig.dat, UpdateRecord.dat):
// AES-GCM through BCrypt, a small versioned header, written atomically.
#include <string>

#include "platform/IniDocument.h"

class CCryptConfigFile {
public:
    // strKey empty: the product's built-in key; otherwise a key derived from strKey.
    CCryptConfigFile(std::string strFilePath, std::string strKey);
    ~CCryptConfigFile();
    CCryptConfigFile(const CCryptConfigFile&) = delete;
    CCryptConfigFile& operator=(const CCryptConfigFile&) = delete;

    // Works on another file from now on.
    void Initialize(std::string strFilePath, std::string strKey);

    long ReadString(std::string strSection, std::string strKey, std::string strDefault, std::string& strValue);
    int ReadInteger(std::string strSection, std::string strKey, int nDefault);
    // Each write is stored at once (temporary file, then moved over the old one).
    // Refused (-1) when the file exists but cannot be decrypted or authenticated,
    // so a damaged file is never overwritten.
    long WriteString(std::string strSection, std::string strKey, std::string strValue);
    long WriteInteger(std::string strSection, std::string strKey, int nValue);

    // For the support tool: the whole decrypted INI text, and its replacement.
    std::string GetText() const;
    long ReplaceText(const std::string& strText);
    // True when the file exists but failed to decrypt or authenticate.
    bool IsDamaged() const;
    // True when the file existed and was read.
    bool Exists() const;

private:
    class Impl;
    std::string m_strFilePath;
    std::string m_strKey;
    IniDocument m_doc;
    bool m_bExists = false;
    bool m_bDamaged = false;
};
