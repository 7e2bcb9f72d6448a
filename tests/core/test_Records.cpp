// SPDX-License-Identifier: MIT
#include "GbkCodec.h"
#include "LocalTime.h"
#include "QorsmailDef.h"

#include <gtest/gtest.h>

namespace {

TEST(GbkCodec, RoundTripsChineseAndKeepsGbkBytes)
{
    const QString text = QStringLiteral("设备越限动作 SEL保护");
    const QByteArray bytes = Gbk::encode(text);
    // 设 is C9 E8 in GBK; GB18030 leaves it unchanged.
    EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0xC9);
    EXPECT_EQ(static_cast<unsigned char>(bytes[1]), 0xE8);
    EXPECT_EQ(Gbk::decode(bytes), text);
}

TEST(GbkCodec, FourByteCharactersAndBadBytes)
{
    const QString emoji = QString::fromUtf8("a\xF0\x9F\x98\x80" "b"); // U+1F600, four bytes in GB18030
    const QByteArray bytes = Gbk::encode(emoji);
    ASSERT_EQ(bytes.size(), 6);
    EXPECT_EQ(Gbk::charLength(reinterpret_cast<const unsigned char*>(bytes.constData()) + 1, 5), 4u);
    EXPECT_EQ(Gbk::decode(bytes), emoji);

    // A lead byte with nothing valid after it decodes to U+FFFD and the rest still comes through.
    const QByteArray bad("x\x81\x20y", 4);
    const QString decoded = Gbk::decode(bad);
    EXPECT_TRUE(decoded.startsWith(QLatin1Char('x')));
    EXPECT_TRUE(decoded.contains(QChar::ReplacementCharacter));
    EXPECT_TRUE(decoded.endsWith(QStringLiteral(" y")));
}

TEST(GbkCodec, StoreFieldCutsAtCharacterBoundaryAndNeverOverruns)
{
    struct
    {
        char field[8];
        char guard[4];
    } buf;
    std::memset(&buf, 'G', sizeof(buf));
    // "ab" + three two-byte characters = 8 bytes; 7 fit, but only whole characters: "ab" + two = 6 bytes.
    EXPECT_FALSE(Gbk::storeField(buf.field, QStringLiteral("ab事件邮")));
    EXPECT_EQ(Gbk::fieldText(buf.field), QStringLiteral("ab事件"));
    EXPECT_EQ(buf.field[6], '\0');
    EXPECT_EQ(buf.field[7], '\0');
    EXPECT_EQ(std::memcmp(buf.guard, "GGGG", 4), 0);

    EXPECT_TRUE(Gbk::storeField(buf.field, QStringLiteral("abc")));
    EXPECT_EQ(Gbk::fieldText(buf.field), QStringLiteral("abc"));
    EXPECT_EQ(buf.field[3], '\0');
}

TEST(GbkCodec, FieldWithoutNulIsReadToItsEnd)
{
    char field[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(Gbk::fieldBytes(field), QByteArray("abcd"));
}

TEST(TaskTable, DeleteMovesTasksAndStatesTogether)
{
    TEventTaskTable table;
    for (int i = 0; i < 3; ++i) {
        TEventMailTask task{};
        task.WaitSec = i;
        table.append(task);
        table.state(i).FirstPos = 100 + i;
    }
    const uint64_t third = table.serial(2);
    table.remove(0);
    ASSERT_EQ(table.count(), 2);
    EXPECT_EQ(int32_t(table.task(0).WaitSec), 1);
    EXPECT_EQ(int32_t(table.state(0).FirstPos), 101);
    EXPECT_EQ(int32_t(table.task(1).WaitSec), 2);
    EXPECT_EQ(int32_t(table.state(1).FirstPos), 102);
    EXPECT_EQ(table.indexOfSerial(third), 1);
    EXPECT_THROW(table.remove(5), std::out_of_range);
}

TEST(TaskTable, ReplaceZeroesStateAndChangesIdentity)
{
    TReportTaskTable table;
    table.append(TReportMailTask{});
    table.state(0).State = 1;
    table.state(0).RetryCount = 2;
    const uint64_t before = table.serial(0);
    TReportMailTask edited{};
    edited.SendType = 4;
    table.replace(0, edited);
    EXPECT_EQ(int32_t(table.task(0).SendType), 4);
    EXPECT_EQ(int32_t(table.state(0).State), 0);
    EXPECT_EQ(int32_t(table.state(0).RetryCount), 0);
    EXPECT_EQ(table.indexOfSerial(before), -1);
}

TEST(LocalTime, DateTimeTextHasMillisecondsAndOmitsMidnightOnRequest)
{
    EXPECT_EQ(DateTimeText(MakeSystemTime(2024, 7, 3, 14, 5, 9, 7)), QStringLiteral("2024-7-3 14:05:09.007"));
    EXPECT_EQ(DateTimeText(MakeSystemTime(2024, 7, 3), true), QStringLiteral("2024-7-3"));
    EXPECT_EQ(DateTimeText(MakeSystemTime(2024, 7, 3, 0, 0, 0, 1), true), QStringLiteral("2024-7-3 00:00:00.001"));
    EXPECT_EQ(MakeSystemTime(2024, 7, 3).wDayOfWeek, 3); // a Wednesday
}

} // namespace
