#pragma once
// Read-only access to a plain INI file (the manifests). The file is parsed once
// at construction; every lookup goes through an index. The file is GBK (code
// page 936); names and values are UTF-8 here (platform/ini/StoredText.h).
#include <string>
#include <vector>

#include "platform/ini/IniDocument.h"

class CConfigFile {
public:
    // A missing or unreadable file behaves as a file without sections.
    explicit CConfigFile(std::string strFilePath);

    // strValue := the value, or strDefault when the section or key is missing. 0 when found, -1 otherwise.
    long ReadString(std::string strSection, std::string strKey, std::string strDefault, std::string& strValue);
    // The stored value in place, without copying it (the per-file loop of the
    // comparisons): for values that are ASCII by format, such as digests.
    // nullptr when the section or key is missing. Valid while this object lives.
    const std::string* FindValue(const std::string& strSection, const std::string& strKey) const;
    // The value parsed as a decimal integer, or nDefault when missing or not a number.
    int ReadInteger(std::string strSection, std::string strKey, int nDefault);
    // vecKeys := key names of the section in file order (empty when missing). Count of keys.
    long ReadSection(std::string strSection, std::vector<std::string>& vecKeys);
    // vecSections := names of all sections in file order. Count of sections.
    long ReadSections(std::vector<std::string>& vecSections);

private:
    IniDocument m_doc;
};
