#include "platform/ini/ConfigFile.h"

#include "platform/base/Text.h"
#include "platform/fs/FileContents.h"
#include "platform/ini/StoredText.h"

CConfigFile::CConfigFile(std::string strFilePath) {
    std::string strText;
    // A missing or unreadable file reads as a file without sections.
    if (ReadWholeFile(strFilePath, strText) == FileReadResult::Read) m_doc.Parse(strText);
}

const std::string* CConfigFile::FindValue(const std::string& strSection, const std::string& strKey) const {
    std::string strStoredSection, strStoredKey;
    if (!Utf8ToGbk(strSection, strStoredSection) || !Utf8ToGbk(strKey, strStoredKey)) return nullptr;
    return m_doc.Find(strStoredSection, strStoredKey);
}

long CConfigFile::ReadString(std::string strSection, std::string strKey, std::string strDefault,
                             std::string& strValue) {
    return ReadStoredString(m_doc, strSection, strKey, strDefault, strValue);
}

int CConfigFile::ReadInteger(std::string strSection, std::string strKey, int nDefault) {
    return ReadStoredInteger(m_doc, strSection, strKey, nDefault);
}

long CConfigFile::ReadSection(std::string strSection, std::vector<std::string>& vecKeys) {
    vecKeys = StoredKeyNames(m_doc, strSection);
    return static_cast<long>(vecKeys.size());
}

long CConfigFile::ReadSections(std::vector<std::string>& vecSections) {
    vecSections = DecodedNames(m_doc.SectionNames());
    return static_cast<long>(vecSections.size());
}
