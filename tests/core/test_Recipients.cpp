// SPDX-License-Identifier: MIT
#include "GbkCodec.h"
#include "QorsmailDef.h"
#include "QorsmailFunc.h"

#include <cstring>
#include <gtest/gtest.h>

namespace {

TMailAddr rawEntry(const QByteArray& nameGbk, const QByteArray& addr)
{
    TMailAddr a{};
    Gbk::storeFieldBytes(a.Name, nameGbk);
    Gbk::storeFieldBytes(a.Addr, addr);
    return a;
}

class Recipients : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SetTaskDefaults(m_tables);
        m_tables.AddrBook = {
            rawEntry(Gbk::encode(QStringLiteral("张三")), "zhang@plant.example"),
            rawEntry("Duty Desk", "duty@plant.example"),
            rawEntry("DUTY desk", "second@plant.example"),
        };
        std::memset(m_dest, 0x55, sizeof(m_dest));
    }

    int parse(const QStringList& lines, int highest = 100) { return ParseRecipients(m_tables, m_dest, highest, lines); }
    QString name(int i) const { return Gbk::fieldText(m_dest[i].Name); }
    QString addr(int i) const { return Gbk::fieldText(m_dest[i].Addr); }

    TMailTables m_tables;
    TMailAddr m_dest[MaxReceivers];
};

TEST_F(Recipients, AddressesAndBookNames)
{
    const QStringList lines = {
        QStringLiteral("  a@b.example  "),
        QString(),
        QStringLiteral(" \t "),
        QStringLiteral("张三"),
        QStringLiteral("duty DESK"),
        QStringLiteral("ops@plant.example // night shift"),
    };
    ASSERT_EQ(parse(lines), 4);
    EXPECT_EQ(name(0), QString());
    EXPECT_EQ(addr(0), QStringLiteral("a@b.example"));
    EXPECT_EQ(name(1), QStringLiteral("张三"));
    EXPECT_EQ(addr(1), QStringLiteral("zhang@plant.example"));
    // The line as typed, the address of the first entry that matches ignoring ASCII case.
    EXPECT_EQ(name(2), QStringLiteral("duty DESK"));
    EXPECT_EQ(addr(2), QStringLiteral("duty@plant.example"));
    // A line with "@" is kept whole, its comment included.
    EXPECT_EQ(addr(3), QStringLiteral("ops@plant.example // night shift"));
    // Entries after the stored ones are cleared, not left with old bytes.
    const TMailAddr zero{};
    EXPECT_EQ(std::memcmp(&m_dest[4], &zero, sizeof(zero)), 0);
}

TEST_F(Recipients, BadLinesRefuseTheWholeTextAndLeaveTheListAlone)
{
    const QStringList bad[] = {
        {QStringLiteral("@b.example")},
        {QStringLiteral("a@")},
        {QStringLiteral("a@   // comment only")},
        {QStringLiteral("a//x@b.example")},
        {QStringLiteral("ok@b.example"), QStringLiteral("李四")},
        {QStringLiteral("Ｄｕｔｙ Desk")}, // full-width letters do not fold
    };
    for (const QStringList& lines : bad) {
        SCOPED_TRACE(lines.join(QLatin1Char('|')).toStdString());
        std::memset(m_dest, 0x55, sizeof(m_dest));
        EXPECT_EQ(parse(lines), -1);
        EXPECT_EQ(static_cast<unsigned char>(m_dest[0].Name[0]), 0x55);
    }
}

// 園, 顯, 驚 and 獲 end in the byte 0x40, the code of "@": they are characters, not address separators.
TEST_F(Recipients, GbkCharactersEndingInTheAtByteAreNames)
{
    m_tables.AddrBook.push_back(rawEntry(Gbk::encode(QStringLiteral("園張")), "yuan@plant.example"));
    m_tables.AddrBook.push_back(rawEntry(Gbk::encode(QStringLiteral("張園")), "zhangyuan@plant.example"));
    m_tables.AddrBook.push_back(rawEntry(Gbk::encode(QStringLiteral("顯驚獲")), "xian@plant.example"));
    struct Case
    {
        QString line;
        int result;
        QString name;
        QString addr;
    };
    const Case cases[] = {
        {QStringLiteral("園張"), 1, QStringLiteral("園張"), QStringLiteral("yuan@plant.example")},
        {QStringLiteral(" 張園 "), 1, QStringLiteral("張園"), QStringLiteral("zhangyuan@plant.example")},
        {QStringLiteral("顯驚獲"), 1, QStringLiteral("顯驚獲"), QStringLiteral("xian@plant.example")},
        {QStringLiteral("園@plant.example"), 1, QString(), QStringLiteral("園@plant.example")},
        {QStringLiteral("ops@園.example"), 1, QString(), QStringLiteral("ops@園.example")},
        {QStringLiteral("園園"), -1, {}, {}}, // not in the book
        {QStringLiteral("園@"), -1, {}, {}},
        {QStringLiteral("ops@園//x"), 1, QString(), QStringLiteral("ops@園//x")},
        {QStringLiteral("ops@//園"), -1, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line.toStdString());
        ASSERT_EQ(parse({c.line}), c.result);
        if (c.result == 1) {
            EXPECT_EQ(name(0), c.name);
            EXPECT_EQ(addr(0), c.addr);
        }
    }
}

TEST_F(Recipients, TextLongerThanAFieldIsRefused)
{
    const QString local39 = QString(QLatin1Char('x')).repeated(39 - 10) + QStringLiteral("@b.example");
    ASSERT_EQ(local39.size(), 39);
    EXPECT_EQ(parse({local39}), 1);
    EXPECT_EQ(addr(0), local39);
    EXPECT_EQ(parse({QLatin1Char('x') + local39}), -1);
    // 20 Chinese characters are 40 bytes in GBK although only 20 characters.
    const QString longName = QString(QStringLiteral("名")).repeated(20);
    m_tables.AddrBook.push_back(rawEntry(Gbk::encode(longName).left(38), "x@y"));
    EXPECT_EQ(parse({longName}), -1);
    EXPECT_EQ(parse({QString(QStringLiteral("名")).repeated(19)}), 1);
}

TEST_F(Recipients, LineLimitsAndEntryLimit)
{
    QStringList lines;
    for (int i = 0; i < 101; ++i) {
        lines << QString();
    }
    lines << QStringLiteral("late@b.example") << QStringLiteral("@bad");
    // Index 101 is the 102nd line: past the highest index 100, never examined.
    EXPECT_EQ(parse(lines, 100), 0);
    EXPECT_EQ(parse(lines, 101), 1);
    EXPECT_EQ(parse(lines, 1000), -1);

    QStringList many;
    for (int i = 0; i < 120; ++i) {
        many << QStringLiteral("u%1@b.example").arg(i);
    }
    many[110] = QStringLiteral("@bad");
    // Stops at 100 stored entries; the bad line after them is not looked at.
    EXPECT_EQ(parse(many, 1000), 100);
    EXPECT_EQ(addr(99), QStringLiteral("u99@b.example"));
}

TEST(FindAddrByName, FoldsOnlySingleByteAsciiLetters)
{
    TMailTables t;
    SetTaskDefaults(t);
    // 0x81 0x41 and 0x81 0x61 are two different GBK characters whose trail bytes are 'A' and 'a'.
    const QByteArray upperTrail("Ab\x81\x41", 4);
    const QByteArray lowerTrail("Ab\x81\x61", 4);
    ASSERT_NE(Gbk::decode(upperTrail), Gbk::decode(lowerTrail));
    t.AddrBook = {rawEntry(upperTrail, "upper@x")};

    EXPECT_EQ(FindAddrByNameBytes(t, QByteArray("aB\x81\x41", 4)), QByteArray("upper@x"));
    EXPECT_TRUE(FindAddrByNameBytes(t, lowerTrail).isEmpty());
    EXPECT_TRUE(FindAddrByName(t, Gbk::decode(lowerTrail)).isEmpty());
    EXPECT_EQ(FindAddrByName(t, Gbk::decode(QByteArray("AB\x81\x41", 4))), QStringLiteral("upper@x"));

    // The other way round: the book holds the lower trail byte.
    t.AddrBook = {rawEntry(lowerTrail, "lower@x")};
    EXPECT_TRUE(FindAddrByNameBytes(t, upperTrail).isEmpty());
    EXPECT_EQ(FindAddrByNameBytes(t, lowerTrail), QByteArray("lower@x"));

    // A single-byte letter never equals the trail byte of a double-byte character at the same place.
    t.AddrBook = {rawEntry(QByteArray("x\x81\x41", 3), "a@x")};
    EXPECT_TRUE(FindAddrByNameBytes(t, QByteArray("xaa", 3)).isEmpty());
    EXPECT_TRUE(FindAddrByNameBytes(t, QByteArray("x\x81", 2)).isEmpty());
}

TEST(FindAddrByName, FirstMatchWinsAndEmptyWhenAbsent)
{
    TMailTables t;
    SetTaskDefaults(t);
    t.AddrBook = {rawEntry("Ops", "first@x"), rawEntry("OPS", "second@x")};
    EXPECT_EQ(FindAddrByName(t, QStringLiteral("oPs")), QStringLiteral("first@x"));
    EXPECT_EQ(FindAddrByName(t, QStringLiteral("OPS")), QStringLiteral("first@x"));
    EXPECT_TRUE(FindAddrByName(t, QStringLiteral("Ops ")).isEmpty());
    EXPECT_TRUE(FindAddrByName(t, QStringLiteral("Op")).isEmpty());
}

} // namespace
