#include <climits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/ini/IniDocument.h"
#include "support/TempDir.h"

using Names = std::vector<std::string>;

namespace {

std::string ValueOr(const IniDocument& doc, const std::string& strSection, const std::string& strKey,
                    const char* pszMissing) {
    const std::string* pValue = doc.Find(strSection, strKey);
    return pValue ? *pValue : pszMissing;
}

// The document holds the stored form, GBK; the sources are UTF-8.
std::string G(const std::string& strUtf8) { return Gbk(strUtf8); }

}  // namespace

TEST(IniDocument, LookupTable) {
    const std::string strText =
        "\xEF\xBB\xBF" +               // byte-order mark, skipped
        G("orphan=before any section\r\n"
        "[Update]\r\n"
        "Version = 4.0.1007.0715 \r\n"
        "\tRegion\t=\t城市\t\r\n"
        "; Version=commented out\r\n"
        "# note without equals sign\r\n"
        "#hash=not a comment\r\n"
        "Empty=\r\n"
        "Quoted=\"a ; b\"\r\n"
        "Equals=a=b=c\r\n"
        "=no key\r\n"
        "version=second occurrence loses\r\n"
        "[ 誠 ]\n"                       // LF only, blanks around the name
        "診=值\n"
        "Ab=gbk\n"
        "[Broken\n"
        "lost=1\n"
        "[Update] trailing text\n"
        "Added=later\n"
        "Region=later duplicate\n"
        "[Last]\n"
        "NoNewline=end");
    IniDocument doc;
    doc.Parse(strText);

    struct Case {
        const char* pszSection;
        const char* pszKey;
        const char* pszExpected;   // "<missing>" when Find must give nullptr
    };
    const Case cases[] = {
        {"Update", "Version", "4.0.1007.0715"},
        {"UPDATE", "version", "4.0.1007.0715"},
        {" Update ", " Version ", "4.0.1007.0715"},
        {"Update", "Region", "城市"},
        {"Update", "Empty", ""},
        {"Update", "Quoted", "\"a ; b\""},
        {"Update", "Equals", "a=b=c"},
        {"Update", "#hash", "not a comment"},
        {"Update", "; Version", "<missing>"},
        {"Update", "Added", "later"},
        {"Update", "orphan", "<missing>"},
        {"Update", "lost", "<missing>"},
        {"Update", "", "<missing>"},
        {"誠", "診", "值"},
        {"誠", "Ab", "gbk"},
        {"誠", "AB", "gbk"},
        {"Broken", "lost", "<missing>"},
        {"Last", "NoNewline", "end"},
        {"Missing", "Version", "<missing>"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(G(c.pszExpected), ValueOr(doc, G(c.pszSection), G(c.pszKey), "<missing>"))
            << "[" << c.pszSection << "] " << c.pszKey;
    }
    EXPECT_EQ((Names{"Update", G("誠"), "Last"}), doc.SectionNames());
    EXPECT_EQ((Names{"Version", "Region", "#hash", "Empty", "Quoted", "Equals", "Added"}), doc.KeyNames("update"));
    EXPECT_EQ(Names{}, doc.KeyNames("Broken"));
    EXPECT_TRUE(doc.HasSection("LAST"));
    EXPECT_FALSE(doc.HasSection("Broken"));
}

// GBK characters whose trail byte is an ASCII letter or a bracket must neither be
// folded nor end a section name. 侃 is D9 A9; 乇 is 81 41 ('A'); 乗 is 81 5D (']').
TEST(IniDocument, GbkTrailBytesAreNeverFoldedOrTakenForSyntax) {
    IniDocument doc;
    doc.Parse("[\x81\x5D]\r\nk=bracket\r\n[s]\r\n\x81\x41=upper\r\n\x81\x61=lower\r\n");
    EXPECT_EQ((Names{"\x81\x5D", "s"}), doc.SectionNames());
    EXPECT_EQ("bracket", ValueOr(doc, "\x81\x5D", "k", "<missing>"));
    // 0x81 0x41 and 0x81 0x61 are two different characters, not one name in two cases.
    EXPECT_EQ((Names{"\x81\x41", "\x81\x61"}), doc.KeyNames("s"));
    EXPECT_EQ("upper", ValueOr(doc, "s", "\x81\x41", "<missing>"));
    EXPECT_EQ("lower", ValueOr(doc, "s", "\x81\x61", "<missing>"));
}

// A lead byte without a valid trail byte stands alone: it must not swallow the
// '=' after it, and a section name ending in one (which would swallow the ']'
// when written back) opens no section.
TEST(IniDocument, LoneLeadBytesNeverSwallowSyntax) {
    IniDocument doc;
    doc.Parse("[s]\r\n\xEF=\xEF\r\n\xEF\x20k=\x81\r\n[\x96 ]\r\nlost=1\r\n[t\x96\x20]\r\n");
    EXPECT_EQ((Names{"s"}), doc.SectionNames());
    EXPECT_EQ((Names{"\xEF", "\xEF\x20k"}), doc.KeyNames("s"));
    EXPECT_EQ("\xEF", ValueOr(doc, "s", "\xEF", "<missing>"));
    EXPECT_EQ("\x81", ValueOr(doc, "s", "\xEF k", "<missing>"));

    IniDocument edited;
    EXPECT_FALSE(edited.Set("\x96", "k", "v"));
    EXPECT_FALSE(edited.Set("t\x96 ", "k", "v"));
    EXPECT_TRUE(edited.Set("s", "\xEF", "\xEF"));
    IniDocument reread;
    reread.Parse(edited.Serialize());
    EXPECT_EQ("\xEF", ValueOr(reread, "s", "\xEF", "<missing>"));
    EXPECT_EQ(edited.Serialize(), reread.Serialize());
}

TEST(IniDocument, SetAndSerializeRoundTrip) {
    IniDocument doc;
    doc.Parse("; comment\n[Update]\nVersion=1\n\n[Other]\nx=y\n");
    EXPECT_TRUE(doc.Set("update", "VERSION", "2"));   // replaces, keeps the stored spelling
    EXPECT_TRUE(doc.Set("Update", "Region", G(" 城市 ")));
    EXPECT_TRUE(doc.Set(G("誠"), G("診"), G("誠\\")));
    EXPECT_TRUE(doc.Set("Other", "empty", ""));

    const std::string strText = doc.Serialize();
    EXPECT_EQ(G("[Update]\r\nVersion=2\r\nRegion=城市\r\n\r\n"
                "[Other]\r\nx=y\r\nempty=\r\n\r\n"
                "[誠]\r\n診=誠\\\r\n"),
              strText);

    IniDocument reread;
    reread.Parse(strText);
    EXPECT_EQ(strText, reread.Serialize());
    EXPECT_EQ(G("城市"), ValueOr(reread, "Update", "Region", "<missing>"));
    EXPECT_EQ(G("誠\\"), ValueOr(reread, G("誠"), G("診"), "<missing>"));

    IniDocument empty;
    EXPECT_EQ("", empty.Serialize());
    doc.Clear();
    EXPECT_EQ("", doc.Serialize());
    EXPECT_EQ(nullptr, doc.Find("Update", "Version"));
}

// Whatever cannot be read back as written is refused, so a value can never
// inject lines or sections into the file.
TEST(IniDocument, SetRefusesWhatCannotBeReadBack) {
    struct Case {
        std::string strSection, strKey, strValue;
    };
    const Case refused[] = {
        {"", "k", "v"},
        {"  ", "k", "v"},
        {"s", "", "v"},
        {"s", "k", "a\r\n[Update]\r\nVersion=9"},
        {"s", "k", "a\nb"},
        {"s", "k", std::string("a\0b", 3)},
        {"s\n", "k", "v"},
        {"a]b", "k", "v"},
        {"s", "a=b", "v"},
        {"s", ";k", "v"},
        {"s", "[k", "v"},
        {"s", "k\r", "v"},
    };
    for (const Case& c : refused) {
        IniDocument doc;
        doc.Parse("[s]\nk=old\n");
        EXPECT_FALSE(doc.Set(c.strSection, c.strKey, c.strValue)) << c.strSection << "/" << c.strKey;
        EXPECT_EQ("[s]\r\nk=old\r\n", doc.Serialize()) << c.strSection << "/" << c.strKey;
    }
    // A ']' that is a GBK trail byte in a section name is fine.
    IniDocument doc;
    EXPECT_TRUE(doc.Set("\x81\x5D", "k", "v"));
}

TEST(IniDocument, ParseIntegerTable) {
    struct Case {
        const char* pszText;
        bool bOk;
        int nValue;
    };
    const Case cases[] = {
        {"80", true, 80},
        {" 443 ", true, 443},
        {"+7", true, 7},
        {"-3", true, -3},
        {"0", true, 0},
        {"007", true, 7},
        {"12abc", true, 12},
        {"1.5", true, 1},
        {"0x10", true, 0},
        {"2147483647", true, INT_MAX},
        {"2147483648", true, INT_MAX},
        {"-2147483648", true, INT_MIN},
        {"-99999999999999999999", true, INT_MIN},
        {"99999999999999999999999999", true, INT_MAX},
        {"", false, 0},
        {"abc", false, 0},
        {"-", false, 0},
        {"+", false, 0},
        {"- 1", false, 0},
        {"--1", false, 0},
        {"城市", false, 0},
    };
    for (const Case& c : cases) {
        int nValue = -12345;
        EXPECT_EQ(c.bOk, IniDocument::ParseInteger(c.pszText, nValue)) << c.pszText;
        EXPECT_EQ(c.bOk ? c.nValue : -12345, nValue) << c.pszText;
    }
}

TEST(IniDocument, LargeManifestIsIndexed) {
    std::string strText = "[Files]\r\n";
    for (int i = 0; i < 10000; ++i) strText += "file" + std::to_string(i) + ".dll=" + std::to_string(i) + "\r\n";
    IniDocument doc;
    doc.Parse(strText);
    ASSERT_EQ(10000u, doc.KeyNames("Files").size());
    EXPECT_EQ("file9999.dll", doc.KeyNames("Files").back());
    for (int i = 0; i < 10000; i += 997) {
        EXPECT_EQ(std::to_string(i), ValueOr(doc, "files", ("FILE" + std::to_string(i) + ".DLL").c_str(), "<missing>"));
    }
}
