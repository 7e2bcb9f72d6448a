// SPDX-License-Identifier: MIT
#include "GbkCodec.h"
#include "GbkText.h"

#include <gtest/gtest.h>

namespace {

QByteArray gbk(const char* utf8)
{
    return Gbk::encode(QString::fromUtf8(utf8));
}

// 園 is 0x88 0x40 and 顯 0xEF 0x40: their trail byte is '@'.
TEST(GbkText, SearchesStepByCharacters)
{
    ASSERT_EQ(gbk("園"), QByteArray("\x88\x40"));
    struct Case
    {
        QByteArray text;
        char c;
        qsizetype first;
        qsizetype last;
    };
    const Case cases[] = {
        {gbk("園張"), '@', -1, -1},
        {gbk("張園"), '@', -1, -1},
        {gbk("園@顯"), '@', 2, 2},
        {gbk("a@b@園"), '@', 1, 3},
        {"", '@', -1, -1},
        {"\x88", '@', -1, -1}, // a cut lead byte at the end is one character
        {"\x88\x40<x>", '<', 2, 2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Gbk::indexOfChar(c.text, c.c), c.first) << c.text.toHex().constData();
        EXPECT_EQ(Gbk::lastIndexOfChar(c.text, c.c), c.last) << c.text.toHex().constData();
        EXPECT_EQ(Gbk::containsChar(c.text, c.c), c.first >= 0);
    }
    EXPECT_EQ(Gbk::indexOf(gbk("a//b"), "//"), 1);
    EXPECT_EQ(Gbk::indexOf(gbk("園//"), "//"), 2);
    EXPECT_EQ(Gbk::indexOf(gbk("x//y//"), "//", 2), 4);
}

TEST(GbkText, BlanksAndAsciiCase)
{
    EXPECT_FALSE(Gbk::containsBlank(gbk("張園")));
    EXPECT_TRUE(Gbk::containsBlank(gbk("張 園")));
    EXPECT_TRUE(Gbk::containsBlank(QByteArray("a\tb")));

    // 俛 is 0x82 0x61: its trail byte is 'a' and must not be upper-cased.
    const QByteArray mixed = gbk("ab俛c");
    ASSERT_EQ(mixed.mid(2, 2), QByteArray("\x82\x61"));
    EXPECT_EQ(Gbk::upperAscii(mixed), QByteArray("AB\x82\x61\x43"));

    EXPECT_TRUE(Gbk::equalFoldAscii("Duty Desk", "DUTY desk"));
    EXPECT_FALSE(Gbk::equalFoldAscii(QByteArray("\x82\x61"), QByteArray("\x82\x41")));
    EXPECT_FALSE(Gbk::equalFoldAscii("ab", "abc"));
    EXPECT_EQ(Gbk::byteLength(QString::fromUtf8("張a")), 3);
}

// The derived table against the letter ranges of the code page: each lower-case row folds onto its upper-case
// row, and no other double-byte character changes.
TEST(GbkText, FoldCaseTakesEveryLetterToItsUpperCase)
{
    const struct
    {
        unsigned lower;
        unsigned upper;
        unsigned count;
    } rows[] = {
        {0xA3E1, 0xA3C1, 26}, // full-width Latin
        {0xA6C1, 0xA6A1, 24}, // Greek
        {0xA7D1, 0xA7A1, 33}, // Cyrillic
        {0xA2A1, 0xA2F1, 10}, // Roman numerals
    };
    unsigned expectedChanged = 0;
    for (const auto& row : rows) {
        for (unsigned i = 0; i < row.count; ++i) {
            const unsigned lower = row.lower + i;
            const unsigned upper = row.upper + i;
            EXPECT_EQ(Gbk::foldDoubleByte(lower >> 8, lower & 0xFF), upper) << std::hex << lower;
            EXPECT_EQ(Gbk::foldDoubleByte(upper >> 8, upper & 0xFF), upper) << std::hex << upper;
        }
        expectedChanged += row.count;
    }
    unsigned changed = 0;
    for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
        for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
            changed += Gbk::foldDoubleByte(lead, trail) != (lead << 8 | trail) ? 1 : 0;
        }
    }
    EXPECT_EQ(changed, expectedChanged);

    // Whole texts: ASCII letters too; trail bytes, four-byte characters and a cut lead byte stay as they are.
    EXPECT_EQ(Gbk::foldCase(gbk("ａ相Ⅰ段")), gbk("Ａ相Ⅰ段"));
    EXPECT_EQ(Gbk::foldCase(gbk("cb俛ωё")), gbk("CB俛ΩЁ"));
    EXPECT_EQ(Gbk::foldCase(QByteArray("\x81\x30\x82\x31z\xA3", 6)), QByteArray("\x81\x30\x82\x31Z\xA3", 6));
    EXPECT_EQ(Gbk::foldCase(QByteArray()), QByteArray());
}

} // namespace
