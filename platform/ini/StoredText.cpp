#include "platform/ini/StoredText.h"

#include "platform/base/Text.h"

long ReadStoredString(const IniDocument& doc, const std::string& strSection, const std::string& strKey,
                      const std::string& strDefault, std::string& strValue) {
    std::string strStoredSection;
    std::string strStoredKey;
    if (Utf8ToGbk(strSection, strStoredSection) && Utf8ToGbk(strKey, strStoredKey)) {
        if (const std::string* pValue = doc.Find(strStoredSection, strStoredKey)) {
            if (GbkToUtf8(*pValue, strValue)) return 0;
        }
    }
    strValue = strDefault;
    return -1;
}

int ReadStoredInteger(const IniDocument& doc, const std::string& strSection, const std::string& strKey,
                      int nDefault) {
    std::string strStoredSection;
    std::string strStoredKey;
    if (!Utf8ToGbk(strSection, strStoredSection) || !Utf8ToGbk(strKey, strStoredKey)) return nDefault;
    return doc.ReadInteger(strStoredSection, strStoredKey, nDefault);
}

std::vector<std::string> DecodedNames(const std::vector<std::string>& vecStored) {
    std::vector<std::string> vecNames;
    vecNames.reserve(vecStored.size());
    std::string strName;
    for (const std::string& strStored : vecStored) {
        if (GbkToUtf8(strStored, strName)) vecNames.push_back(strName);
    }
    return vecNames;
}

std::vector<std::string> StoredKeyNames(const IniDocument& doc, const std::string& strSection) {
    std::string strStoredSection;
    if (!Utf8ToGbk(strSection, strStoredSection)) return std::vector<std::string>();
    return DecodedNames(doc.KeyNames(strStoredSection));
}

bool SetStored(IniDocument& doc, const std::string& strSection, const std::string& strKey,
               const std::string& strValue) {
    std::string strStoredSection;
    std::string strStoredKey;
    std::string strStoredValue;
    return Utf8ToGbk(strSection, strStoredSection) && Utf8ToGbk(strKey, strStoredKey) &&
           Utf8ToGbk(strValue, strStoredValue) && doc.Set(strStoredSection, strStoredKey, strStoredValue);
}
