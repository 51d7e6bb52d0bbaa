#pragma once
// The configuration files' road between the program's UTF-8 and their stored
// GBK (code page 936), shared by CConfigFile and CCryptConfigFile. The
// document holds the stored bytes; names and values change form here only.
#include <string>
#include <vector>

#include "platform/ini/IniDocument.h"

// The value as UTF-8. A section or key that GBK cannot spell is missing, and so
// is a value that is not valid GBK: strValue := strDefault, -1.
long ReadStoredString(const IniDocument& doc, const std::string& strSection, const std::string& strKey,
                      const std::string& strDefault, std::string& strValue);
int ReadStoredInteger(const IniDocument& doc, const std::string& strSection, const std::string& strKey,
                      int nDefault);
// The stored names as UTF-8, in order; a name that is not valid GBK names
// nothing the program could ask for again and is left out.
std::vector<std::string> DecodedNames(const std::vector<std::string>& vecStored);
std::vector<std::string> StoredKeyNames(const IniDocument& doc, const std::string& strSection);
// Sets the GBK spelling of the UTF-8 names and value. False, and nothing
// changes, when one of them has no GBK spelling or IniDocument::Set refuses it.
bool SetStored(IniDocument& doc, const std::string& strSection, const std::string& strKey,
               const std::string& strValue);
