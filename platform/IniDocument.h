#pragma once
// INI text parsed once into sections and keys in file order, looked up through
// an index. Free of Windows calls so it can be built natively and fuzzed.
//
// Conventions of Windows profile files: section and key names compare without
// regard to ASCII letter case; blanks around names and values are trimmed;
// lines starting with ';' are comments. Bytes >= 0x80 are never case-folded,
// so GBK names match exactly.
#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

class IniDocument {
public:
    void Parse(const std::string& strText);
    std::string Serialize() const;
    void Clear();

    // nullptr when the section or key is missing.
    const std::string* Find(const std::string& strSection, const std::string& strKey) const;
    bool HasSection(const std::string& strSection) const;
    void Set(const std::string& strSection, const std::string& strKey, const std::string& strValue);

    std::vector<std::string> SectionNames() const;
    std::vector<std::string> KeyNames(const std::string& strSection) const;

private:
    struct Entry {
        std::string strKey;
        std::string strValue;
    };
    struct Section {
        std::string strName;
        std::vector<Entry> vecEntries;
        std::unordered_map<std::string, std::size_t> mapIndex;   // folded key -> entry
    };
    std::vector<Section> m_vecSections;
    std::unordered_map<std::string, std::size_t> m_mapIndex;     // folded name -> section
};
