// SPDX-License-Identifier: MIT
// The widget-free rules of the task property dialogs and the report file chooser.

#include "GbkCodec.h"
#include "TaskEditRules.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

using namespace TaskEdit;

namespace {

QString u(const char* text)
{
    return QString::fromUtf8(text);
}

TEST(TaskEditRules, MemoLinesAsAMemoHoldsThem)
{
    struct Case
    {
        const char* text;
        QStringList lines;
    };
    const std::vector<Case> cases = {
        {"", {}},
        {"a", {"a"}},
        {"a\n", {"a"}},
        {"\n", {""}},
        {"a\n\nb", {"a", "", "b"}},
        {"a\r\nb\r\n", {"a", "b"}},
        {" 收件人 \n", {" 收件人 "}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MemoLines(u(c.text)), c.lines) << c.text;
    }
    EXPECT_EQ(TrimBlanks(u("\t 月报 \x01")), u("月报"));
    EXPECT_EQ(TrimBlanks(u("\u3000月报\u3000")), u("\u3000月报\u3000")); // only codes up to 32 are blanks
}

TEST(TaskEditRules, TypeTicksNoneOrAllMatchEveryType)
{
    struct Case
    {
        const char* name;
        std::vector<int> ticked; // list indexes
        int32_t typeCount;
        std::vector<int16_t> types; // the first entries of Types afterwards
    };
    std::vector<int> all;
    for (int i = 0; i < EventTypeListCount; ++i) {
        all.push_back(i);
    }
    const std::vector<Case> cases = {
        {"none", {}, 0, {99, 99, 99}},
        {"all", all, 0, {99, 99, 99}},
        {"3 and 20", {2, 16}, 2, {3, 20, 99}},
        {"1 only", {0}, 1, {1, 99, 99}},
    };
    for (const Case& c : cases) {
        TEventMailTask task{};
        for (size_t i = 0; i < sizeof(task.Types) / sizeof(task.Types[0]); ++i) {
            task.Types[i] = 99; // entries after the ticked ones keep what they held
        }
        task.TypeCount = 55;
        TTypeTicks ticks{};
        for (int i : c.ticked) {
            ticks[static_cast<size_t>(i)] = true;
        }
        StoreTypeTicks(task, ticks);
        EXPECT_EQ(+task.TypeCount, c.typeCount) << c.name;
        for (size_t i = 0; i < c.types.size(); ++i) {
            EXPECT_EQ(+task.Types[i], c.types[i]) << c.name << " entry " << i;
        }
        const TTypeTicks shown = TypeTicks(task);
        EXPECT_EQ(shown, c.typeCount == 0 ? TTypeTicks{} : ticks) << c.name;
    }

    // Shown from a stored record: unknown numbers tick nothing, a count beyond the array is held to it.
    TEventMailTask stored{};
    stored.TypeCount = 1000;
    stored.Types[0] = 17;
    stored.Types[1] = 20;
    const TTypeTicks shown = TypeTicks(stored);
    EXPECT_TRUE(shown[16]);
    EXPECT_EQ(std::count(shown.begin(), shown.end(), true), 1);
}

TEST(TaskEditRules, LevelMaskOfTheFourBoxes)
{
    struct Case
    {
        TLevelTicks ticks; // other, I, II, III
        int32_t mask;
    };
    const std::vector<Case> cases = {
        {{false, false, false, false}, -1},
        {{true, true, true, true}, -1},
        {{true, true, false, false}, 3},
        {{false, false, false, true}, 8},
        {{false, true, true, true}, 14},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LevelMaskFromTicks(c.ticks), c.mask);
        if (c.mask != -1) {
            EXPECT_EQ(LevelTicks(c.mask), c.ticks);
        }
    }
    EXPECT_EQ(LevelTicks(-1), (TLevelTicks{}));
}

TEST(TaskEditRules, TimeEditsStoredFieldByFieldWithTheirTexts)
{
    using namespace LangText::ReportMail_Str;
    struct Case
    {
        TTimeTexts texts;
        const LangText::Entry* error;
        int field;
        SYSTEMTIME stored; // year, month, day-of-week, day, hour, minute, second, ms
    };
    const std::vector<Case> cases = {
        {{"2024", "12", "31", "23", "59"}, nullptr, -1, {2024, 12, 7, 31, 23, 59, 7, 7}},
        {{"0", "0", "0", "0", "0"}, nullptr, -1, {0, 0, 7, 0, 0, 0, 7, 7}},
        {{" 7 ", "+3", "1", "2", "3"}, nullptr, -1, {7, 3, 7, 1, 2, 3, 7, 7}},
        {{"65535", "1", "1", "1", "1"}, nullptr, -1, {65535, 1, 7, 1, 1, 1, 7, 7}},
        {{"2024", "13", "1", "1", "1"}, &Str4, 1, {2024, 13, 7, 7, 7, 7, 7, 7}},
        {{"2024", "1", "32", "1", "1"}, &Str5, 2, {2024, 1, 7, 32, 7, 7, 7, 7}},
        {{"2024", "1", "1", "24", "1"}, &Str6, 3, {2024, 1, 7, 1, 24, 7, 7, 7}},
        {{"2024", "1", "1", "1", "60"}, &Str7, 4, {2024, 1, 7, 1, 1, 60, 7, 7}},
        {{"2024", "1", "1", "1", "-1"}, &Str7, 4, {2024, 1, 7, 1, 1, 65535, 7, 7}},
        // A number the 16-bit field cannot hold is not taken for another one (65541 would be 5).
        {{"2024", "65541", "1", "1", "1"}, &Str4, 1, {2024, 5, 7, 7, 7, 7, 7, 7}},
        {{"65536", "1", "1", "1", "1"}, &Str8, 0, {0, 7, 7, 7, 7, 7, 7, 7}},
        {{"-1", "1", "1", "1", "1"}, &Str8, 0, {65535, 7, 7, 7, 7, 7, 7, 7}},
        // Letters, empty texts, hex and fractions are no whole numbers; the first failing edit wins.
        {{"abcd", "13", "1", "1", "1"}, &Str8, 0, {7, 7, 7, 7, 7, 7, 7, 7}},
        {{"2024", "", "1", "1", "1"}, &Str8, 1, {2024, 7, 7, 7, 7, 7, 7, 7}},
        {{"2024", "1", "0x10", "1", "1"}, &Str8, 2, {2024, 1, 7, 7, 7, 7, 7, 7}},
        {{"2024", "1", "1", "1.5", "1"}, &Str8, 3, {2024, 1, 7, 1, 7, 7, 7, 7}},
        {{"2024", "1", "1", "1", "99999999999"}, &Str8, 4, {2024, 1, 7, 1, 1, 7, 7, 7}},
        {{"2024", "1", "1", "1", "-"}, &Str8, 4, {2024, 1, 7, 1, 1, 7, 7, 7}},
    };
    for (const Case& c : cases) {
        SYSTEMTIME time{7, 7, 7, 7, 7, 7, 7, 7};
        const TTimeCheck check = StoreTimeTexts(time, c.texts);
        const QString name =
            c.texts[0] + u("/") + c.texts[1] + u("/") + c.texts[2] + u("/") + c.texts[3] + u("/") + c.texts[4];
        EXPECT_EQ(check.Error, c.error) << name.toStdString();
        EXPECT_EQ(check.Field, c.field) << name.toStdString();
        EXPECT_EQ(std::memcmp(&time, &c.stored, sizeof time), 0)
            << name.toStdString() << " year " << time.wYear << " month " << time.wMonth << " day " << time.wDay
            << " minute " << time.wMinute;
    }
    const SYSTEMTIME shown{2026, 3, 0, 9, 14, 5, 0, 0};
    EXPECT_EQ(TimeTexts(shown), (TTimeTexts{"2026", "3", "9", "14", "5"}));
}

TEST(TaskEditRules, ReportFileLinesTrimmedAtMostTenNeverCut)
{
    const QString chinese64 = QString(64, QChar(0x62A5)); // 报: 128 GBK bytes, one more than an entry holds
    const QString chinese63 = QString(63, QChar(0x62A5)) + u("x");
    struct Case
    {
        const char* name;
        QStringList lines;
        int count;
        int longLine;
        QStringList stored;
        int32_t fileCount; // FileCount afterwards (it starts at 3)
    };
    QStringList twelve;
    QStringList ten;
    for (int i = 1; i <= 12; ++i) {
        twelve << u("/out/r%1.xls").arg(i);
        if (i <= 10) {
            ten << u("/out/r%1.xls").arg(i);
        }
    }
    QStringList tenThenLong = ten;
    tenThenLong << chinese64;
    const std::vector<Case> cases = {
        {"trimmed, empty skipped",
            {u("  /out/月报.xls\t"), u(""), u("   "), u("/out/b.xls")},
            2,
            -1,
            {u("/out/月报.xls"), u("/out/b.xls")},
            2},
        {"twelve", twelve, 10, -1, ten, 10},
        {"long after the tenth is not looked at", tenThenLong, 10, -1, ten, 10},
        {"127 bytes fit",
            {QString(127, QLatin1Char('a')), chinese63},
            2,
            -1,
            {QString(127, QLatin1Char('a')), chinese63},
            2},
        {"128 bytes refused", {u("/out/a.xls"), u(""), u("  ") + chinese64}, 1, 2, {u("/out/a.xls")}, 3},
        {"200 characters refused", {QString(200, QLatin1Char('b'))}, 0, 0, {}, 3},
        {"none", {u(" "), u("")}, 0, -1, {}, 3},
    };
    for (const Case& c : cases) {
        TReportMailTask task{};
        task.FileCount = 3;
        const TFileStore result = StoreReportFiles(task, c.lines);
        EXPECT_EQ(result.Count, c.count) << c.name;
        EXPECT_EQ(result.LongLine, c.longLine) << c.name;
        if (c.longLine >= 0) {
            EXPECT_EQ(result.LongText, TrimBlanks(c.lines.at(c.longLine))) << c.name;
        }
        EXPECT_EQ(+task.FileCount, c.fileCount) << c.name;
        for (qsizetype i = 0; i < c.stored.size(); ++i) {
            EXPECT_EQ(Gbk::fieldText(task.Files[i]), c.stored.at(i)) << c.name << " entry " << i;
        }
        if (c.fileCount != 3) {
            EXPECT_EQ(ReportFileLines(task), c.stored) << c.name;
        }
    }
}

TEST(TaskEditRules, ListedFilesComparedExactly)
{
    const QStringList lines{u(" /out/Report.xls "), u("/out/月报.xls")};
    EXPECT_TRUE(ReportFileListed(lines, u("/out/Report.xls")));
    EXPECT_TRUE(ReportFileListed(lines, u("  /out/月报.xls")));
    EXPECT_FALSE(ReportFileListed(lines, u("/out/report.xls"))); // another file on Linux
    EXPECT_FALSE(ReportFileListed({}, u("/out/Report.xls")));
}

TEST(TaskEditRules, FilterTextGivesDescriptionsAndPatterns)
{
    const QList<TFileFilter> filters = ParseFileFilter(u(LangText::ReportMail_Str::Str10.Default));
    ASSERT_EQ(filters.size(), 2);
    EXPECT_EQ(filters[0].Description, u("EXCEL表格(*.xls)"));
    EXPECT_EQ(filters[0].Patterns, QStringList{u("*.xls")});
    EXPECT_EQ(filters[1].Description, u("JPEG报表图像(*.jpg,*.jpeg)"));
    EXPECT_EQ(filters[1].Patterns, (QStringList{u("*.jpg"), u("*.jpeg")}));

    struct Case
    {
        const char* text;
        qsizetype count;
    };
    for (const Case& c : std::vector<Case>{{"", 0}, {"A", 0}, {"A|*.a|B", 1}, {"|*.a|B|*.b", 1}, {"A|", 1}}) {
        EXPECT_EQ(ParseFileFilter(u(c.text)).size(), c.count) << c.text;
    }
    EXPECT_EQ(ParseFileFilter(u("A|")).first().Patterns, QStringList{u("*")});
}

TEST(TaskEditRules, ChosenNamesCheckedAndResolved)
{
    struct Case
    {
        const char* dir;
        const char* name;
        TChosenName check;
        const char* resolved;
    };
    const std::vector<Case> cases = {
        {"/out", "report.xls", TChosenName::Ok, "/out/report.xls"},
        {"/out", "x/r.xls", TChosenName::Ok, "/out/x/r.xls"},
        {"/out", "/x/r.xls", TChosenName::Ok, "/x/r.xls"},
        {"/", "月报.xls", TChosenName::Ok, "/月报.xls"},
        {"/out", "", TChosenName::Empty, nullptr},
        {"/out", "*.xls", TChosenName::Wildcard, nullptr},
        {"/out", "r?.xls", TChosenName::Wildcard, nullptr},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CheckChosenName(u(c.name)), c.check) << c.name;
        if (c.resolved) {
            EXPECT_EQ(ResolveChosenName(u(c.dir), u(c.name)), u(c.resolved)) << c.name;
        }
    }
}

} // namespace
