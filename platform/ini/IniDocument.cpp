#include "platform/ini/IniDocument.h"

#include <climits>

#include "platform/base/Text.h"

namespace {

// The stored text is GBK: the one GBK splitter says where each character ends.
std::size_t CharLength(const char* p, const char* pEnd) { return GbkCharSize(p, pEnd); }
bool IsLeadByte(unsigned char c) { return IsGbkLeadByte(c); }

// First single-byte character c in [p, pEnd), or pEnd.
const char* FindChar(const char* p, const char* pEnd, char c) {
    while (p < pEnd && *p != c) p += CharLength(p, pEnd);
    return p;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// True when the text ends in a lead byte that has no trail byte of its own.
bool EndsWithLoneLeadByte(const char* p, const char* pEnd) {
    const char* pLast = nullptr;
    for (; p < pEnd; p += CharLength(p, pEnd)) pLast = p;
    return pLast && pEnd - pLast == 1 && IsLeadByte(static_cast<unsigned char>(*pLast));
}

// Trail bytes are never blanks (they are >= 0x40), so bytewise trimming is safe.
void Trim(const char*& pBegin, const char*& pEnd) {
    while (pBegin < pEnd && IsBlank(*pBegin)) ++pBegin;
    while (pEnd > pBegin && IsBlank(pEnd[-1])) --pEnd;
}

std::string Trimmed(const std::string& str) {
    const char* pBegin = str.data();
    const char* pEnd = pBegin + str.size();
    Trim(pBegin, pEnd);
    return std::string(pBegin, pEnd);
}

// ASCII letters folded to lower case, character by character: a trail byte in
// 'A'-'Z' belongs to a GBK character and is left alone.
std::string Folded(const std::string& str) {
    std::string strFolded = str;
    const char* pBegin = str.data();
    const char* pEnd = pBegin + str.size();
    for (const char* p = pBegin; p < pEnd;) {
        const std::size_t n = CharLength(p, pEnd);
        if (n == 1 && *p >= 'A' && *p <= 'Z') strFolded[static_cast<std::size_t>(p - pBegin)] = static_cast<char>(*p - 'A' + 'a');
        p += n;
    }
    return strFolded;
}

// The index key of a section or key name.
std::string IndexKey(const std::string& str) { return Folded(Trimmed(str)); }

bool HasLineBreakOrNul(const std::string& str) {
    return str.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

}  // namespace

void IniDocument::Clear() {
    m_vecSections.clear();
    m_mapIndex.clear();
}

IniDocument::Section* IniDocument::FindSection(const std::string& strSection) {
    auto it = m_mapIndex.find(IndexKey(strSection));
    return it == m_mapIndex.end() ? nullptr : &m_vecSections[it->second];
}

const IniDocument::Section* IniDocument::FindSection(const std::string& strSection) const {
    auto it = m_mapIndex.find(IndexKey(strSection));
    return it == m_mapIndex.end() ? nullptr : &m_vecSections[it->second];
}

IniDocument::Section& IniDocument::AddSection(const std::string& strName) {
    auto result = m_mapIndex.emplace(IndexKey(strName), m_vecSections.size());
    if (result.second) {
        m_vecSections.push_back(Section{strName, {}, {}});
    }
    return m_vecSections[result.first->second];
}

std::size_t IniDocument::EntryIndex(const Section& section, const std::string& strIndexKey) {
    if (!section.mapIndex.empty()) {
        auto it = section.mapIndex.find(strIndexKey);
        return it == section.mapIndex.end() ? kNoEntry : it->second;
    }
    for (std::size_t i = 0; i < section.vecEntries.size(); ++i) {
        if (section.vecEntries[i].strIndexKey == strIndexKey) return i;
    }
    return kNoEntry;
}

void IniDocument::AddEntry(Section& section, const std::string& strKey, const std::string& strValue) {
    std::string strIndexKey = IndexKey(strKey);
    if (EntryIndex(section, strIndexKey) != kNoEntry) return;   // the first occurrence of a key wins
    section.vecEntries.push_back(Entry{strKey, strValue, std::move(strIndexKey)});
    if (!section.mapIndex.empty()) {
        section.mapIndex.emplace(section.vecEntries.back().strIndexKey, section.vecEntries.size() - 1);
    } else if (section.vecEntries.size() > kLinearEntries) {
        for (std::size_t i = 0; i < section.vecEntries.size(); ++i) {
            section.mapIndex.emplace(section.vecEntries[i].strIndexKey, i);
        }
    }
}

void IniDocument::Parse(const std::string& strText) {
    Clear();
    const char* p = strText.data();
    const char* pTextEnd = p + strText.size();
    if (strText.compare(0, 3, "\xEF\xBB\xBF") == 0) p += 3;

    Section* pSection = nullptr;
    while (p < pTextEnd) {
        const char* pLineEnd = p;
        while (pLineEnd < pTextEnd && *pLineEnd != '\n') ++pLineEnd;   // '\n' is never a trail byte
        const char* pNext = pLineEnd < pTextEnd ? pLineEnd + 1 : pLineEnd;
        if (pLineEnd > p && pLineEnd[-1] == '\r') --pLineEnd;
        const char* pBegin = p;
        const char* pEnd = pLineEnd;
        p = pNext;
        Trim(pBegin, pEnd);
        if (pBegin == pEnd || *pBegin == ';') continue;

        if (*pBegin == '[') {
            const char* pClose = FindChar(pBegin + 1, pEnd, ']');
            if (pClose == pEnd) {
                pSection = nullptr;   // malformed header: its keys belong nowhere
                continue;
            }
            const char* pNameBegin = pBegin + 1;
            const char* pNameEnd = pClose;
            Trim(pNameBegin, pNameEnd);
            // Written back as "[name]", a lone lead byte would take the ']' as its trail byte.
            if (EndsWithLoneLeadByte(pNameBegin, pNameEnd)) {
                pSection = nullptr;
                continue;
            }
            pSection = &AddSection(std::string(pNameBegin, pNameEnd));
            continue;
        }

        if (!pSection) continue;
        const char* pEquals = FindChar(pBegin, pEnd, '=');
        if (pEquals == pEnd) continue;
        const char* pKeyBegin = pBegin;
        const char* pKeyEnd = pEquals;
        const char* pValueBegin = pEquals + 1;
        const char* pValueEnd = pEnd;
        Trim(pKeyBegin, pKeyEnd);
        Trim(pValueBegin, pValueEnd);
        if (pKeyBegin == pKeyEnd) continue;
        AddEntry(*pSection, std::string(pKeyBegin, pKeyEnd), std::string(pValueBegin, pValueEnd));
    }
}

std::string IniDocument::Serialize() const {
    std::string strText;
    for (const Section& section : m_vecSections) {
        if (!strText.empty()) strText += "\r\n";
        strText += "[" + section.strName + "]\r\n";
        for (const Entry& entry : section.vecEntries) {
            strText += entry.strKey;
            strText += '=';
            strText += entry.strValue;
            strText += "\r\n";
        }
    }
    return strText;
}

const std::string* IniDocument::Find(const std::string& strSection, const std::string& strKey) const {
    const Section* pSection = FindSection(strSection);
    if (!pSection) return nullptr;
    const std::size_t nEntry = EntryIndex(*pSection, IndexKey(strKey));
    return nEntry == kNoEntry ? nullptr : &pSection->vecEntries[nEntry].strValue;
}

bool IniDocument::HasSection(const std::string& strSection) const { return FindSection(strSection) != nullptr; }

bool IniDocument::IsStorable(const std::string& strSection, const std::string& strKey, const std::string& strValue) {
    const std::string strName = Trimmed(strSection);
    const std::string strKeyName = Trimmed(strKey);
    const std::string strText = Trimmed(strValue);
    if (strName.empty() || strKeyName.empty()) return false;
    if (HasLineBreakOrNul(strSection) || HasLineBreakOrNul(strKey) || HasLineBreakOrNul(strValue)) return false;
    // The lines Serialize would write must read back to exactly this entry; this also
    // catches a ']' or '=' in a name and a lone GBK lead byte that would swallow one.
    IniDocument probe;
    probe.Parse("[" + strName + "]\r\n" + strKeyName + "=" + strText + "\r\n");
    if (probe.m_vecSections.size() != 1) return false;
    const Section& section = probe.m_vecSections.front();
    return section.strName == strName && section.vecEntries.size() == 1 &&
           section.vecEntries.front().strKey == strKeyName && section.vecEntries.front().strValue == strText;
}

bool IniDocument::Set(const std::string& strSection, const std::string& strKey, const std::string& strValue) {
    if (!IsStorable(strSection, strKey, strValue)) return false;
    const std::string strKeyName = Trimmed(strKey);
    Section& section = AddSection(Trimmed(strSection));
    const std::size_t nEntry = EntryIndex(section, IndexKey(strKeyName));
    if (nEntry == kNoEntry) {
        AddEntry(section, strKeyName, Trimmed(strValue));
    } else {
        section.vecEntries[nEntry].strValue = Trimmed(strValue);
    }
    return true;
}

bool IniDocument::ParseInteger(const std::string& strValue, int& nValue) {
    const std::string strText = Trimmed(strValue);
    std::size_t i = 0;
    bool bNegative = false;
    if (i < strText.size() && (strText[i] == '+' || strText[i] == '-')) bNegative = strText[i++] == '-';
    if (i >= strText.size() || strText[i] < '0' || strText[i] > '9') return false;
    const long long nLimit = bNegative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    long long nMagnitude = 0;
    for (; i < strText.size() && strText[i] >= '0' && strText[i] <= '9'; ++i) {
        nMagnitude = nMagnitude * 10 + (strText[i] - '0');
        if (nMagnitude > nLimit) nMagnitude = nLimit;   // clamp, and keep reading the digits
    }
    nValue = static_cast<int>(bNegative ? -nMagnitude : nMagnitude);
    return true;
}

long IniDocument::ReadString(const std::string& strSection, const std::string& strKey,
                             const std::string& strDefault, std::string& strValue) const {
    const std::string* pValue = Find(strSection, strKey);
    strValue = pValue ? *pValue : strDefault;
    return pValue ? 0 : -1;
}

int IniDocument::ReadInteger(const std::string& strSection, const std::string& strKey, int nDefault) const {
    const std::string* pValue = Find(strSection, strKey);
    int nValue = nDefault;
    if (pValue) ParseInteger(*pValue, nValue);
    return nValue;
}

std::vector<std::string> IniDocument::SectionNames() const {
    std::vector<std::string> vecNames;
    vecNames.reserve(m_vecSections.size());
    for (const Section& section : m_vecSections) vecNames.push_back(section.strName);
    return vecNames;
}

std::vector<std::string> IniDocument::KeyNames(const std::string& strSection) const {
    std::vector<std::string> vecKeys;
    const Section* pSection = FindSection(strSection);
    if (!pSection) return vecKeys;
    vecKeys.reserve(pSection->vecEntries.size());
    for (const Entry& entry : pSection->vecEntries) vecKeys.push_back(entry.strKey);
    return vecKeys;
}
