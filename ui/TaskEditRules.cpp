// SPDX-License-Identifier: MIT
#include "TaskEditRules.h"

#include "GbkCodec.h"

#include <optional>

namespace TaskEdit {

QStringList MemoLines(const QString& text)
{
    if (text.isEmpty()) {
        return {};
    }
    QStringList lines = text.split(QLatin1Char('\n'));
    if (lines.last().isEmpty()) {
        lines.removeLast();
    }
    for (QString& line : lines) {
        if (line.endsWith(QLatin1Char('\r'))) {
            line.chop(1);
        }
    }
    return lines;
}

QString MemoText(const QStringList& lines)
{
    return lines.join(QLatin1Char('\n'));
}

QStringList ReceiverLines(const TMailAddr (&receivers)[MaxReceivers], int32_t count)
{
    QStringList lines;
    const int used = ClampCount(count, MaxReceivers);
    for (int i = 0; i < used; ++i) {
        const QString name = Gbk::fieldText(receivers[i].Name);
        lines << (name.isEmpty() ? Gbk::fieldText(receivers[i].Addr) : name);
    }
    return lines;
}

TTypeTicks TypeTicks(const TEventMailTask& task)
{
    TTypeTicks ticks{};
    const int used = ClampCount(task.TypeCount, MaxEventTypes);
    for (int i = 0; i < used; ++i) {
        const int16_t number = task.Types[i];
        const int index = EventTypeIndex(number);
        if (index >= 0) {
            ticks[static_cast<size_t>(index)] = true;
        }
    }
    return ticks;
}

void StoreTypeTicks(TEventMailTask& task, const TTypeTicks& ticks)
{
    int ticked = 0;
    for (bool tick : ticks) {
        ticked += tick ? 1 : 0;
    }
    if (ticked == 0 || ticked == EventTypeListCount) {
        task.TypeCount = 0;
        return;
    }
    int next = 0;
    for (int i = 0; i < EventTypeListCount; ++i) {
        if (ticks[static_cast<size_t>(i)]) {
            task.Types[next++] = EventTypeList[i].Number;
        }
    }
    task.TypeCount = ticked;
}

TLevelTicks LevelTicks(int32_t levelMask)
{
    TLevelTicks ticks{};
    if (levelMask == -1) {
        return ticks;
    }
    for (size_t level = 0; level < ticks.size(); ++level) {
        ticks[level] = (levelMask & (1 << level)) != 0;
    }
    return ticks;
}

int32_t LevelMaskFromTicks(const TLevelTicks& ticks)
{
    int32_t mask = 0;
    for (size_t level = 0; level < ticks.size(); ++level) {
        if (ticks[level]) {
            mask |= 1 << level;
        }
    }
    return (mask == 0 || mask == 15) ? -1 : mask;
}

namespace {

// A whole decimal number with an optional sign, blanks around it allowed; nullopt for anything else, a number
// beyond 32 bits included.
std::optional<int64_t> wholeNumber(const QString& text)
{
    const QString trimmed = TrimBlanks(text);
    qsizetype pos = 0;
    bool negative = false;
    if (pos < trimmed.size() && (trimmed.at(pos) == QLatin1Char('+') || trimmed.at(pos) == QLatin1Char('-'))) {
        negative = trimmed.at(pos) == QLatin1Char('-');
        ++pos;
    }
    if (pos == trimmed.size()) {
        return std::nullopt;
    }
    int64_t value = 0;
    for (; pos < trimmed.size(); ++pos) {
        const char16_t c = trimmed.at(pos).unicode();
        if (c < u'0' || c > u'9') {
            return std::nullopt;
        }
        value = value * 10 + (c - u'0');
        if (value > int64_t{1} << 31) {
            return std::nullopt;
        }
    }
    value = negative ? -value : value;
    if (value > INT32_MAX || value < INT32_MIN) {
        return std::nullopt;
    }
    return value;
}

} // namespace

TTimeCheck StoreTimeTexts(SYSTEMTIME& time, const TTimeTexts& texts)
{
    using namespace LangText::ReportMail_Str;
    struct Field
    {
        uint16_t SYSTEMTIME::*member;
        int64_t limit;
        const LangText::Entry* rangeText;
    };
    static const Field fields[5] = {
        {&SYSTEMTIME::wYear, 65535, &Str8},
        {&SYSTEMTIME::wMonth, 12, &Str4},
        {&SYSTEMTIME::wDay, 31, &Str5},
        {&SYSTEMTIME::wHour, 23, &Str6},
        {&SYSTEMTIME::wMinute, 59, &Str7},
    };
    for (int i = 0; i < 5; ++i) {
        const Field& field = fields[i];
        const auto value = wholeNumber(texts[static_cast<size_t>(i)]);
        if (!value) {
            return {&Str8, i};
        }
        // Stored as the 16-bit field holds it before the test, so a negative number fails as a large one.
        time.*field.member = static_cast<uint16_t>(*value);
        if (*value < 0 || *value > field.limit) {
            return {field.rangeText, i};
        }
    }
    return {};
}

TTimeTexts TimeTexts(const SYSTEMTIME& time)
{
    return {QString::number(time.wYear),
        QString::number(time.wMonth),
        QString::number(time.wDay),
        QString::number(time.wHour),
        QString::number(time.wMinute)};
}

TFileStore StoreReportFiles(TReportMailTask& task, const QStringList& lines)
{
    TFileStore result;
    for (qsizetype i = 0; i < lines.size() && result.Count < MaxReportFiles; ++i) {
        const QString line = TrimBlanks(lines.at(i));
        if (line.isEmpty()) {
            continue;
        }
        const QByteArray bytes = Gbk::encode(line);
        if (bytes.size() > ReportFileLimit || bytes.contains('\0')) {
            result.LongLine = static_cast<int>(i);
            result.LongText = line;
            return result;
        }
        Gbk::storeFieldBytes(task.Files[result.Count], bytes);
        ++result.Count;
    }
    if (result.Count > 0) {
        task.FileCount = result.Count;
    }
    return result;
}

QStringList ReportFileLines(const TReportMailTask& task)
{
    QStringList lines;
    const int used = ClampCount(task.FileCount, MaxReportFiles);
    for (int i = 0; i < used; ++i) {
        lines << Gbk::fieldText(task.Files[i]);
    }
    return lines;
}

bool ReportFileListed(const QStringList& lines, const QString& file)
{
    const QString wanted = TrimBlanks(file);
    for (const QString& line : lines) {
        if (TrimBlanks(line) == wanted) {
            return true;
        }
    }
    return false;
}

QList<TFileFilter> ParseFileFilter(const QString& text)
{
    QList<TFileFilter> filters;
    const QStringList parts = text.split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString description = parts.at(i).trimmed();
        if (description.isEmpty()) {
            continue;
        }
        TFileFilter filter{description, {}};
        for (const QString& pattern : parts.at(i + 1).split(QLatin1Char(';'))) {
            if (!pattern.trimmed().isEmpty()) {
                filter.Patterns << pattern.trimmed();
            }
        }
        if (filter.Patterns.isEmpty()) {
            filter.Patterns << QStringLiteral("*");
        }
        filters << filter;
    }
    return filters;
}

TChosenName CheckChosenName(const QString& name)
{
    if (name.isEmpty()) {
        return TChosenName::Empty;
    }
    if (name.contains(QLatin1Char('*')) || name.contains(QLatin1Char('?'))) {
        return TChosenName::Wildcard;
    }
    return TChosenName::Ok;
}

QString ResolveChosenName(const QString& currentDir, const QString& name)
{
    if (name.startsWith(QLatin1Char('/'))) {
        return name;
    }
    return currentDir.endsWith(QLatin1Char('/')) ? currentDir + name : currentDir + QLatin1Char('/') + name;
}

} // namespace TaskEdit
