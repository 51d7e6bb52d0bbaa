#include "platform/ini/ConfigFile.h"

#include "platform/fs/FileContents.h"

CConfigFile::CConfigFile(std::string strFilePath) {
    std::string strText;
    // A missing or unreadable file reads as a file without sections.
    if (ReadWholeFile(strFilePath, strText) == FileReadResult::Read) m_doc.Parse(strText);
}

long CConfigFile::ReadString(std::string strSection, std::string strKey, std::string strDefault,
                             std::string& strValue) {
    return m_doc.ReadString(strSection, strKey, strDefault, strValue);
}

int CConfigFile::ReadInteger(std::string strSection, std::string strKey, int nDefault) {
    return m_doc.ReadInteger(strSection, strKey, nDefault);
}

long CConfigFile::ReadSection(std::string strSection, std::vector<std::string>& vecKeys) {
    vecKeys = m_doc.KeyNames(strSection);
    return static_cast<long>(vecKeys.size());
}

long CConfigFile::ReadSections(std::vector<std::string>& vecSections) {
    vecSections = m_doc.SectionNames();
    return static_cast<long>(vecSections.size());
}
