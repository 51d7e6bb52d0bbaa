#include "platform/ini/CryptConfigFile.h"

#include "platform/fs/FileContents.h"
#include "platform/ini/ConfigCipher.h"
#include "platform/ini/StoredText.h"

CCryptConfigFile::CCryptConfigFile(std::string strFilePath, std::string strKey) {
    Initialize(std::move(strFilePath), std::move(strKey));
}

// Every write is already on disk: nothing is left to flush.
CCryptConfigFile::~CCryptConfigFile() = default;

void CCryptConfigFile::Initialize(std::string strFilePath, std::string strKey) {
    m_strFilePath = std::move(strFilePath);
    m_strKey = std::move(strKey);
    Load();
}

void CCryptConfigFile::Load() {
    m_doc.Clear();
    m_bExists = false;
    m_bDamaged = false;
    std::string strSealed;
    switch (ReadWholeFile(m_strFilePath, strSealed)) {
    case FileReadResult::Missing:
        return;
    case FileReadResult::Failed:
        m_bDamaged = true;
        return;
    case FileReadResult::Read:
        break;
    }
    std::string strText;
    if (OpenConfigText(m_strKey, strSealed, strText) != ConfigOpenResult::Opened) {
        m_bDamaged = true;
        return;
    }
    m_bExists = true;
    m_doc.Parse(strText);
}

long CCryptConfigFile::Store(const IniDocument& doc) {
    std::string strSealed;
    if (!SealConfigText(m_strKey, doc.Serialize(), strSealed)) return -1;
    if (!ReplaceFileContents(m_strFilePath, strSealed)) return -1;
    m_doc = doc;
    m_bExists = true;
    return 0;
}

long CCryptConfigFile::ReadString(std::string strSection, std::string strKey, std::string strDefault,
                                  std::string& strValue) {
    return ReadStoredString(m_doc, strSection, strKey, strDefault, strValue);
}

int CCryptConfigFile::ReadInteger(std::string strSection, std::string strKey, int nDefault) {
    return ReadStoredInteger(m_doc, strSection, strKey, nDefault);
}

long CCryptConfigFile::WriteString(std::string strSection, std::string strKey, std::string strValue) {
    IniDocument probe;
    if (!SetStored(probe, strSection, strKey, strValue)) return -1;   // no GBK spelling, or not storable
    // Apply the change to the file as it is now, so that a change another process
    // made since this object read the file is kept.
    Load();
    if (m_bDamaged) return -1;
    IniDocument doc = m_doc;
    SetStored(doc, strSection, strKey, strValue);
    if (m_bExists && doc.Serialize() == m_doc.Serialize()) return 0;   // already stored
    return Store(doc);
}

long CCryptConfigFile::WriteInteger(std::string strSection, std::string strKey, int nValue) {
    return WriteString(std::move(strSection), std::move(strKey), std::to_string(nValue));
}

std::string CCryptConfigFile::GetText() const { return m_doc.Serialize(); }

long CCryptConfigFile::ReplaceText(const std::string& strText) {
    Load();
    if (m_bDamaged) return -1;
    IniDocument doc;
    doc.Parse(strText);
    return Store(doc);
}

bool CCryptConfigFile::IsDamaged() const { return m_bDamaged; }

bool CCryptConfigFile::Exists() const { return m_bExists; }
