#include "platform/ConfigFile.h"

#include "platform/FileContents.h"

CConfigFile::CConfigFile(std::string strFilePath) {
    std::string strText;
    // A missing or unreadable file reads as a file without sections.
    if (ReadWholeFile(strFilePath, strText) == FileReadResult::Read) m_doc.Parse(strText);
}

long CConfigFile::ReadString(std::string strSection, std::string strKey, std::string strDefault,
                             std::string& strValue) {
    const std::string* pValue = m_doc.Find(strSection, strKey);
    if (!pValue) {
        strValue = strDefault;
        return -1;
    }
    strValue = *pValue;
    return 0;
}

int CConfigFile::ReadInteger(std::string strSection, std::string strKey, int nDefault) {
    const std::string* pValue = m_doc.Find(strSection, strKey);
    int nValue = nDefault;
    if (pValue) IniDocument::ParseInteger(*pValue, nValue);
    return nValue;
}

long CConfigFile::ReadSection(std::string strSection, std::vector<std::string>& vecKeys) {
    vecKeys = m_doc.KeyNames(strSection);
    return static_cast<long>(vecKeys.size());
}

long CConfigFile::ReadSections(std::vector<std::string>& vecSections) {
    vecSections = m_doc.SectionNames();
    return static_cast<long>(vecSections.size());
}
