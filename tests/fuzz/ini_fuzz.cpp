// libFuzzer harness for the INI reader/writer, built natively (see scripts/fuzz-ini).
// Besides crashes and sanitizer reports it checks the reader's own promises:
// what it serializes reads back to the same document, every listed name is found,
// and Set either refuses or stores a value that reads back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/ini/IniDocument.h"

namespace {

void Check(bool bCondition) {
    if (!bCondition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    const std::string strText(reinterpret_cast<const char*>(pData), nSize);
    IniDocument doc;
    doc.Parse(strText);

    const std::string strSerialized = doc.Serialize();
    IniDocument reread;
    reread.Parse(strSerialized);
    Check(reread.Serialize() == strSerialized);

    for (const std::string& strSection : doc.SectionNames()) {
        Check(doc.HasSection(strSection));
        for (const std::string& strKey : doc.KeyNames(strSection)) {
            const std::string* pValue = doc.Find(strSection, strKey);
            Check(pValue != nullptr);
            const std::string* pReread = reread.Find(strSection, strKey);
            Check(pReread != nullptr && *pReread == *pValue);
            int nValue = 0;
            IniDocument::ParseInteger(*pValue, nValue);
        }
    }

    // The input split in three as section, key and value for Set.
    const size_t nFirst = nSize / 3;
    const size_t nSecond = 2 * nSize / 3;
    const std::string strSection = strText.substr(0, nFirst);
    const std::string strKey = strText.substr(nFirst, nSecond - nFirst);
    const std::string strValue = strText.substr(nSecond);
    IniDocument edited;
    edited.Parse(strSerialized);
    const std::string strBefore = edited.Serialize();
    if (edited.Set(strSection, strKey, strValue)) {
        IniDocument check;
        check.Parse(edited.Serialize());
        const std::string* pStored = check.Find(strSection, strKey);
        const std::string* pInMemory = edited.Find(strSection, strKey);
        Check(pStored != nullptr && pInMemory != nullptr && *pStored == *pInMemory);
    } else {
        Check(edited.Serialize() == strBefore);
    }
    return 0;
}
