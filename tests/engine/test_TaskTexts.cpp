// SPDX-License-Identifier: MIT
// The detail texts of the main window's panels, built from records without a window.

#include "GbkCodec.h"
#include "MLEngine.h"
#include "TaskTexts.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QString U(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

TEventMailTask eventTask(std::initializer_list<int16_t> types, const char* keyword, int32_t levelMask)
{
    TEventMailTask t{};
    t.TypeCount = static_cast<int32_t>(types.size());
    int k = 0;
    for (int16_t type : types) {
        t.Types[k++] = type;
    }
    Gbk::storeField(t.Keyword, U(keyword));
    t.LevelMask = levelMask;
    return t;
}

SYSTEMTIME st(uint16_t year, uint16_t month, uint16_t day, uint16_t hour, uint16_t minute)
{
    SYSTEMTIME t{};
    t.wYear = year;
    t.wMonth = month;
    t.wDay = day;
    t.wHour = hour;
    t.wMinute = minute;
    return t;
}

} // namespace

TEST(TaskTexts, TriggerLines)
{
    struct Case
    {
        const char* name;
        TEventMailTask task;
        QStringList lines;
    };
    TEventMailTask overfull = eventTask({3}, "", -1);
    overfull.TypeCount = 1000; // a count beyond the array shows the 100 entries the record holds
    QStringList hundred;
    hundred << U("设备越限动作");
    for (int k = 1; k < MaxEventTypes; ++k) {
        hundred << U("未知"); // type 0 is not in the list
    }
    overfull.Types[0] = 1;
    const Case cases[] = {
        {"all types, no keyword, all levels", eventTask({}, "", -1), {}},
        {"types 1 and 20, levels 6",
            eventTask({1, 20}, "", 6),
            {U("符合以下类型："), U("    设备越限动作,SEL保护事件"), U("符合以下等级："), U("    事故  故障  ")}},
        {"unknown type and keyword",
            eventTask({99}, "主变", -1),
            {U("符合以下类型："), U("    未知"), U("包含文字：主变")}},
        {"every level in the described order",
            eventTask({}, "", 0xF),
            {U("符合以下等级："), U("    事故  故障  一般事件  其他事件  ")}},
        {"other events only", eventTask({}, "", 1), {U("符合以下等级："), U("    其他事件  ")}},
        {"no level at all", eventTask({}, "", 0), {U("符合以下等级："), U("    ")}},
        {"negative type count",
            [] {
                TEventMailTask t = eventTask({1}, "", -1);
                t.TypeCount = -4;
                return t;
            }(),
            {}},
        {"overfull type count", overfull, {U("符合以下类型："), U("    ") + hundred.join(QLatin1Char(','))}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EventTriggerLines(c.task), c.lines) << c.name;
    }
}

TEST(TaskTexts, TriggerLinesFollowTheLanguageFile)
{
    QTemporaryDir dir;
    QFile lang(dir.path() + QStringLiteral("/t.lang"));
    ASSERT_TRUE(lang.open(QIODevice::WriteOnly));
    lang.write(Gbk::encode(
        U("[QorsmailMain_Str]\r\nStr5=类型：\r\nStr8=A  \r\n[EventTypeName_Str]\r\nEventTypeName16=SEL\r\n")));
    lang.close();
    LangEngine().LoadLanguageFileFrom(lang.fileName());
    const QStringList lines = EventTriggerLines(eventTask({20}, "", 2));
    LangEngine().LoadLanguageFileFrom(QString());
    EXPECT_EQ(lines, (QStringList{U("类型："), U("    SEL"), U("符合以下等级："), U("    A  ")}));
}

TEST(TaskTexts, ReceiverAndFileLines)
{
    TEventMailTask t{};
    Gbk::storeField(t.Receivers[0].Name, U("张三"));
    Gbk::storeField(t.Receivers[0].Addr, U("zhang@example.cn"));
    Gbk::storeField(t.Receivers[1].Addr, U("duty@example.cn"));
    Gbk::storeField(t.Receivers[2].Addr, U("hidden@example.cn"));
    const struct
    {
        int32_t count;
        QStringList lines;
    } cases[] = {
        {2, {U("张三<zhang@example.cn>"), U("duty@example.cn")}},
        {0, {}},
        {-1, {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ReceiverLines(t.Receivers, c.count), c.lines) << c.count;
    }
    EXPECT_EQ(ReceiverLines(t.Receivers, 500).size(), MaxReceivers);

    TReportMailTask r{};
    Gbk::storeField(r.Files[0], U("/srv/报表/日报.xls"));
    Gbk::storeField(r.Files[1], U("/srv/报表/月报.xls"));
    r.FileCount = 1;
    EXPECT_EQ(ReportFileLines(r), QStringList{U("/srv/报表/日报.xls")});
    r.FileCount = 11;
    EXPECT_EQ(ReportFileLines(r).size(), MaxReportFiles);
}

TEST(TaskTexts, SendTypeTimeAndInterval)
{
    const struct
    {
        int32_t type;
        const char* text;
    } types[] = {{0, "不自动发送"},
        {1, "每天自动发送"},
        {2, "每月自动发送"},
        {3, "每年自动发送"},
        {4, "等间隔时间发送"},
        {5, "不自动发送"},
        {-1, "不自动发送"}};
    for (const auto& c : types) {
        EXPECT_EQ(SendTypeText(c.type), U(c.text)) << c.type;
    }

    const struct
    {
        SYSTEMTIME time;
        const char* sendTime;
        const char* interval;
    } times[] = {
        {st(0, 0, 0, 0, 0), "0时0分", ""},
        {st(0, 3, 15, 8, 5), "3月15日 8时5分", "3月 15日 8时 5分 "},
        {st(0, 0, 0, 7, 30), "7时30分", "7时 30分 "},
        {st(0, 0, 1, 0, 0), "1日 0时0分", "1日 0时 0分 "},
        {st(2026, 0, 0, 0, 0), "2026年0时0分", "2026年 0时 0分 "},
        {st(0, 0, 0, 0, 1), "0时1分", "0时 1分 "},
        {st(0, 12, 0, 23, 59), "12月23时59分", "12月 23时 59分 "},
    };
    for (const auto& c : times) {
        EXPECT_EQ(SendTimeText(c.time), U(c.sendTime)) << c.sendTime;
        EXPECT_EQ(SendIntervalText(c.time), U(c.interval)) << c.sendTime;
    }

    const struct
    {
        int32_t stored;
        int shown;
    } waits[] = {{-5, 0}, {0, 0}, {60, 60}, {3600, 3600}, {3601, 3600}, {INT32_MIN, 0}, {INT32_MAX, 3600}};
    for (const auto& c : waits) {
        EXPECT_EQ(PanelWaitSec(c.stored), c.shown) << c.stored;
    }
}
