#pragma once
// INI text parsed once into sections and keys in file order, looked up through
// an index. Free of Windows calls so it can be built natively and fuzzed.
//
// Conventions of Windows profile files: section and key names compare without
// regard to ASCII letter case; blanks around names and values are trimmed;
// lines starting with ';' are comments. Bytes >= 0x80 are never case-folded,
// so GBK names match exactly.
//
// The details, as this reader settles them:
// - Text is GBK: a byte 0x81-0xFE and its trail byte form one character, so a
//   trail byte that looks like ']' or 'A' is never a bracket or folded.
// - Lines end in LF or CRLF; a UTF-8 byte-order mark at the very start is skipped.
// - Blanks are spaces and tabs. Comments are whole lines whose first non-blank
//   is ';'. '#' is not a comment marker (as in Windows profile files), but a
//   "# note" line has no '=' and is ignored like every line that has none.
//   Nothing is stripped from inside a value: "a ; b" and "\"q\"" stay as written.
// - "[name]" opens a section; text after the first ']' is ignored. A line that
//   starts with '[' but has no ']', or whose name ends in a lead byte without its
//   trail byte, opens nothing, and the keys after it, up to the next section, are
//   ignored, as are keys before the first section.
// - "key=value" splits at the first '='; an empty key is ignored.
// - A repeated key: the first occurrence wins and the later ones are dropped.
//   A repeated section continues the first one, so its keys are added to it.
// - Lookups fold and trim the names they are given the same way.
// - Serialize() writes "[name]" and "key=value" lines ending in CRLF, a blank
//   line between sections; comments and ignored lines are not kept.
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
    // Adds or replaces a value, creating the section as needed. Names and value are
    // trimmed, so the document holds what reading Serialize() back would give.
    // False, and nothing changes, when the text could not be read back as written:
    // an empty name, a line break or NUL anywhere, ']' in the section name, '=' in
    // the key, a key starting with ';' or '[', a name ending in a lone lead byte.
    bool Set(const std::string& strSection, const std::string& strKey, const std::string& strValue);
    static bool IsStorable(const std::string& strSection, const std::string& strKey, const std::string& strValue);

    // Integer values as Windows profile files read them: an optional sign and the
    // leading decimal digits ("80", "+7", "-3", "12abc" = 12); out of range values
    // are clamped to int; "0x10" reads as 0. False, nValue untouched, when no digit
    // leads ("", "abc", "-", " - 1").
    static bool ParseInteger(const std::string& strValue, int& nValue);

    // The lookups both configuration classes offer: the value, or the default
    // (with -1) when the key is missing; the integer, or the default when the key
    // is missing or no digit leads.
    long ReadString(const std::string& strSection, const std::string& strKey, const std::string& strDefault,
                    std::string& strValue) const;
    int ReadInteger(const std::string& strSection, const std::string& strKey, int nDefault) const;

    std::vector<std::string> SectionNames() const;
    std::vector<std::string> KeyNames(const std::string& strSection) const;

private:
    struct Entry {
        std::string strKey;
        std::string strValue;
        std::string strIndexKey;   // folded and trimmed
    };
    // Most sections hold a handful of keys (a manifest's file sections): those
    // are searched entry by entry, which spares a hash map per section; a map
    // is built once a section grows past kLinearEntries.
    static constexpr std::size_t kLinearEntries = 16;
    struct Section {
        std::string strName;
        std::vector<Entry> vecEntries;
        std::unordered_map<std::string, std::size_t> mapIndex;   // folded key -> entry, for large sections
    };
    static constexpr std::size_t kNoEntry = static_cast<std::size_t>(-1);
    static std::size_t EntryIndex(const Section& section, const std::string& strIndexKey);
    Section* FindSection(const std::string& strSection);
    const Section* FindSection(const std::string& strSection) const;
    Section& AddSection(const std::string& strName);
    static void AddEntry(Section& section, const std::string& strKey, const std::string& strValue);

    std::vector<Section> m_vecSections;
    std::unordered_map<std::string, std::size_t> m_mapIndex;     // folded name -> section
};
