// SPDX-License-Identifier: MIT
#include "GbkCodec.h"
#include "MailHeaders.h"

#include <QLocale>
#include <QRegularExpression>
#include <QTimeZone>
#include <gtest/gtest.h>

namespace {

const QByteArray Gb(const char* utf8)
{
    return Gbk::encode(QString::fromUtf8(utf8));
}

// Decodes a run of encoded words separated by folds, checking that each word stands on its own: whole
// characters, at most 75 characters.
QByteArray decodeWords(const QByteArray& value, bool* selfContained)
{
    *selfContained = true;
    QByteArray all;
    const QRegularExpression re(QStringLiteral("=\\?GB18030\\?B\\?([A-Za-z0-9+/=]*)\\?="));
    auto it = re.globalMatch(QString::fromLatin1(value));
    while (it.hasNext()) {
        const auto m = it.next();
        if (m.capturedLength(0) > MailHeaders::MaxEncodedWord) {
            *selfContained = false;
        }
        const QByteArray raw = QByteArray::fromBase64(m.captured(1).toLatin1());
        if (Gbk::fitLength(raw, static_cast<size_t>(raw.size())) != static_cast<size_t>(raw.size())
            || Gbk::decode(raw).contains(QChar(0xFFFD))) {
            *selfContained = false;
        }
        all += raw;
    }
    return all;
}

} // namespace

TEST(MailHeaders, EncodedWordsHoldWholeCharactersIncludingFourByteOnes)
{
    // Two-byte GBK characters mixed with four-byte GB18030 ones (U+20000 and U+1F600) and ASCII, long enough to
    // need many words; each word must decode on its own, the whole must give back the bytes.
    QString text;
    for (int i = 0; i < 40; ++i) {
        text += QString::fromUtf8("报表") + QString::fromUcs4(U"\U00020000") + QLatin1Char('a' + i % 26)
            + QString::fromUcs4(U"\U0001F600");
    }
    const QByteArray bytes = Gbk::encode(text);
    for (int offset : {0, 9, 40}) {
        const QByteArray value = MailHeaders::encodeWords(bytes, offset);
        bool whole = false;
        EXPECT_EQ(decodeWords(value, &whole), bytes);
        EXPECT_TRUE(whole);
        const QList<QByteArray> lines = value.split('\n');
        ASSERT_GT(lines.size(), 3);
        EXPECT_LE(offset + lines.front().size() - 1, MailHeaders::FoldColumn);
        for (const auto& line : lines) {
            EXPECT_LE(line.size(), MailHeaders::FoldColumn);
        }
    }
    // Every line but the last ends in CR, every continuation starts with a blank: a valid fold.
    const QByteArray value = MailHeaders::encodeWords(bytes);
    EXPECT_EQ(value.count("\r\n "), value.count('\n'));
    EXPECT_EQ(value.count('\r'), value.count('\n'));
}

TEST(MailHeaders, UnstructuredKeepsPlainAsciiAndEncodesTheRest)
{
    EXPECT_EQ(MailHeaders::unstructured("Daily report(2024-7-3)"), QByteArray("Daily report(2024-7-3)"));
    bool whole = false;
    const QByteArray subject = Gb("日报(2024-7-3 14:05:00.250)");
    EXPECT_EQ(decodeWords(MailHeaders::unstructured(subject, 9), &whole), subject);
    EXPECT_TRUE(whole);
    // A line break in a title never reaches the wire: a header text is one line, control characters become
    // blanks, and whatever still needs it is encoded.
    EXPECT_EQ(MailHeaders::unstructured("Report\r\nBcc: victim@example.com", 9),
        QByteArray("Report  Bcc: victim@example.com"));
    EXPECT_EQ(MailHeaders::unstructured("tab\there\x7f"), QByteArray("tab here "));
    const QByteArray chineseEvil = Gb("报表\r\nBcc: 某人");
    const QByteArray encodedEvil = MailHeaders::unstructured(chineseEvil, 9);
    EXPECT_EQ(decodeWords(encodedEvil, &whole), Gb("报表  Bcc: 某人"));
    EXPECT_EQ(encodedEvil.count('\n'), encodedEvil.count("\r\n "));
    const QByteArray lookalike = MailHeaders::unstructured("=?GB18030?B?5pel?= looks encoded", 9);
    EXPECT_TRUE(lookalike.startsWith("=?GB18030?B?"));
    EXPECT_EQ(decodeWords(lookalike, &whole), QByteArray("=?GB18030?B?5pel?= looks encoded"));
    EXPECT_EQ(MailHeaders::unstructured(QByteArray()), QByteArray());

    // A long plain title is folded before blanks; unfolding (dropping the CRLFs) gives it back.
    const QByteArray longTitle = "Transformer 1 differential protection tripped  at substation North"
                                 " (feeder 12), breaker 1012 open(2024-7-3 14:05:00.250)";
    const QByteArray folded = MailHeaders::unstructured(longTitle, 9);
    EXPECT_GT(folded.count("\r\n "), 0);
    EXPECT_EQ(QByteArray(folded).replace("\r\n", ""), longTitle);
    int used = 9;
    for (const auto& line : folded.split('\n')) {
        EXPECT_LE(used + line.size(), MailHeaders::FoldColumn + 1);
        EXPECT_FALSE(line.trimmed().isEmpty());
        used = 0;
    }
}

TEST(MailHeaders, DisplayNamesArePhrases)
{
    EXPECT_EQ(MailHeaders::phrase("Plant Operator"), QByteArray("Plant Operator"));
    EXPECT_EQ(MailHeaders::phrase("Smith, John"), QByteArray("\"Smith, John\""));
    EXPECT_EQ(MailHeaders::phrase("QORVANE [SCADA1]"), QByteArray("\"QORVANE [SCADA1]\""));
    EXPECT_EQ(MailHeaders::phrase("say \"hi\" \\o/"), QByteArray("\"say \\\"hi\\\" \\\\o/\""));
    EXPECT_EQ(MailHeaders::phrase(" padded"), QByteArray("\" padded\""));
    bool whole = false;
    const QByteArray chinese = Gb("王五，运行[值班]");
    const QByteArray encoded = MailHeaders::phrase(chinese);
    EXPECT_TRUE(encoded.startsWith("=?GB18030?B?"));
    EXPECT_EQ(decodeWords(encoded, &whole), chinese);
    EXPECT_EQ(MailHeaders::phrase("Eve\r\nBcc: x@y.z"), QByteArray("\"Eve  Bcc: x@y.z\""));

    EXPECT_EQ(MailHeaders::mailbox("", "a@b.cn"), QByteArray("<a@b.cn>"));
    EXPECT_EQ(MailHeaders::mailbox("Ops", "a@b.cn"), QByteArray("Ops <a@b.cn>"));
    // A long encoded name is folded before the address so no line grows past the fold column.
    const QByteArray longName =
        MailHeaders::mailbox(Gb("QORVANE 邮件中心[SCADA-PRIMARY-01]"), "station@plant.example.cn");
    for (const auto& line : ("From: " + longName).split('\n')) {
        EXPECT_LE(line.size(), MailHeaders::FoldColumn + 1) << longName.constData();
    }
    EXPECT_TRUE(longName.endsWith("\r\n <station@plant.example.cn>")) << longName.constData();
    EXPECT_EQ(MailHeaders::addressListField("To", {"<a@b.cn>", "Ops <c@d.cn>"}),
        QByteArray("To: <a@b.cn>,\r\n Ops <c@d.cn>"));
}

TEST(MailHeaders, OnlyPlainAddrSpecsPass)
{
    for (const char* good : {"a@b.cn",
             "first.last+tag@mail.example.com",
             "o'brien@example.ie",
             "x@[127.0.0.1]",
             "x@localhost",
             "A_B-c@sub-domain.example"}) {
        EXPECT_TRUE(MailHeaders::isPlainAddrSpec(good)) << good;
    }
    for (const char* bad : {"",
             "plain",
             "@b.cn",
             "a@",
             "a@@b.cn",
             "a@b@c.cn",
             "a b@c.cn",
             "a@b.cn\r\nRCPT TO:<x@y.z>",
             "a@b.cn>",
             "<a@b.cn>",
             "\"quoted\"@b.cn",
             "a..b@c.cn",
             ".a@c.cn",
             "a@c..cn",
             "a@-c.cn",
             "a@c.cn (comment)",
             "a,b@c.cn",
             "a@c.cn;d@e.cn"}) {
        EXPECT_FALSE(MailHeaders::isPlainAddrSpec(bad)) << bad;
    }
    EXPECT_FALSE(MailHeaders::isPlainAddrSpec(Gb("张三@例子.cn")));
    EXPECT_FALSE(MailHeaders::isPlainAddrSpec(QByteArray(65, 'a') + "@b.cn"));
}

TEST(MailHeaders, FileNamesSplitOnlyBetweenCharacters)
{
    EXPECT_EQ(MailHeaders::extendedParameter("filename", "day.xls"), QByteArray("filename=\"day.xls\""));
    const QByteArray name = Gb("二〇二四年七月三日变电站运行日报表（第一分厂）") + "_"
        + Gbk::encode(QString::fromUcs4(U"\U00020000")) + Gb("最终版.xls");
    const QByteArray value = MailHeaders::extendedParameter("filename", name);
    const QRegularExpression re(QStringLiteral("filename\\*(\\d+)\\*=([^;\\r\\n]+)"));
    auto it = re.globalMatch(QString::fromLatin1(value));
    QByteArray joined;
    int segments = 0;
    while (it.hasNext()) {
        const auto m = it.next();
        EXPECT_EQ(m.captured(1).toInt(), segments);
        QByteArray seg = m.captured(2).toLatin1();
        if (segments == 0) {
            ASSERT_TRUE(seg.startsWith("GB18030''"));
            seg = seg.mid(9);
        }
        const QByteArray raw = QByteArray::fromPercentEncoding(seg);
        EXPECT_EQ(Gbk::fitLength(raw, static_cast<size_t>(raw.size())), static_cast<size_t>(raw.size()));
        EXPECT_FALSE(Gbk::decode(raw).contains(QChar(0xFFFD)));
        joined += raw;
        ++segments;
    }
    EXPECT_GT(segments, 1);
    EXPECT_EQ(joined, name);
    for (const auto& line : value.split('\n')) {
        EXPECT_LE(line.size(), MailHeaders::FoldColumn);
    }
    // A quote in an otherwise plain name cannot end the quoted string early.
    EXPECT_TRUE(MailHeaders::extendedParameter("filename", "a\"b.xls").startsWith("filename*="));
}

TEST(MailHeaders, DateIsEnglishWhateverTheLocale)
{
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    const QDateTime t(QDate(2024, 7, 3), QTime(14, 5, 0, 250), QTimeZone(8 * 3600));
    EXPECT_EQ(MailHeaders::dateValue(t), QByteArray("Wed, 03 Jul 2024 14:05:00 +0800"));
    const QDateTime west(QDate(2023, 12, 31), QTime(23, 59, 59), QTimeZone(-(3 * 3600 + 1800)));
    EXPECT_EQ(MailHeaders::dateValue(west), QByteArray("Sun, 31 Dec 2023 23:59:59 -0330"));
    QLocale::setDefault(QLocale::c());
}

TEST(MailHeaders, MessageIdsAreUniqueOnTheSendersDomain)
{
    const QByteArray a = MailHeaders::messageId("ops@plant.example.cn");
    const QByteArray b = MailHeaders::messageId("ops@plant.example.cn");
    EXPECT_NE(a, b);
    EXPECT_TRUE(a.startsWith('<') && a.endsWith("@plant.example.cn>")) << a.constData();
    EXPECT_TRUE(MailHeaders::messageId("not an address\r\n").endsWith("@localhost>"));
}
