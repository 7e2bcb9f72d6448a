// SPDX-License-Identifier: MIT
#include "TaskTexts.h"

#include "GbkCodec.h"
#include "LangTexts.h"
#include "MLEngine.h"
#include "MailComposer.h"

#include <algorithm>

namespace {

const QString FourBlanks = QStringLiteral("    ");

} // namespace

QStringList EventTriggerLines(const TEventMailTask& task)
{
    using namespace LangText::QorsmailMain_Str;
    QStringList lines;
    // A count read from a file may exceed the array; only what the record holds is shown.
    const int typeCount = ClampCount(task.TypeCount, MaxEventTypes);
    if (typeCount > 0) {
        lines << GetLangText(Str5);
        QStringList names;
        for (int k = 0; k < typeCount; ++k) {
            const int16_t type = task.Types[k];
            names << EventTypeName(type);
        }
        lines << FourBlanks + names.join(GetLangText(LangText::Format_Str::Str8));
    }
    const QString keyword = Gbk::fieldText(task.Keyword);
    if (!keyword.isEmpty()) {
        lines << GetLangText(Str6) + keyword;
    }
    const int32_t mask = task.LevelMask;
    if (mask != -1) {
        lines << GetLangText(Str7);
        const std::pair<int32_t, const LangText::Entry*> levelNames[] = {
            {0x2, &Str8}, {0x4, &Str9}, {0x8, &Str10}, {0x1, &Str11}};
        QStringList levels;
        for (const auto& [bit, name] : levelNames) {
            if (mask & bit) {
                levels << GetLangText(*name);
            }
        }
        lines << FourBlanks + levels.join(GetLangText(LangText::Format_Str::Str9));
    }
    return lines;
}

QStringList ReceiverLines(const TMailAddr (&receivers)[MaxReceivers], int32_t receiverCount)
{
    QStringList lines;
    const int count = ClampCount(receiverCount, MaxReceivers);
    for (int k = 0; k < count; ++k) {
        const QString name = Gbk::fieldText(receivers[k].Name);
        const QString addr = Gbk::fieldText(receivers[k].Addr);
        lines << (name.isEmpty() ? addr : name + QLatin1Char('<') + addr + QLatin1Char('>'));
    }
    return lines;
}

QStringList ReportFileLines(const TReportMailTask& task)
{
    QStringList lines;
    const int count = ClampCount(task.FileCount, MaxReportFiles);
    for (int k = 0; k < count; ++k) {
        lines << Gbk::fieldText(task.Files[k]);
    }
    return lines;
}

QString SendTypeText(int32_t sendType)
{
    using namespace LangText::QorsmailMain_Str;
    switch (sendType) {
    case 1:
        return GetLangText(Str12);
    case 2:
        return GetLangText(Str13);
    case 3:
        return GetLangText(Str14);
    case 4:
        return GetLangText(Str15);
    default:
        return GetLangText(Str16);
    }
}

QString SendTimeText(const SYSTEMTIME& sendTime)
{
    namespace Piece = LangText::QorsmailMain_Str;
    namespace Format = LangText::Format_Str;
    const SYSTEMTIME t = sendTime; // packed: read by value
    const auto part = [](const LangText::JoinedEntry& format, const QString& joined, int value) {
        return FillText(GetLangText(format, joined), {QString::number(value)});
    };
    QString text;
    if (t.wYear != 0) {
        text += part(Format::Str10, QStringLiteral("%1") + GetLangText(Piece::Str17), t.wYear);
    }
    if (t.wMonth != 0) {
        text += part(Format::Str11, QStringLiteral("%1") + GetLangText(Piece::Str18), t.wMonth);
    }
    if (t.wDay != 0) {
        text += part(Format::Str12, QStringLiteral("%1") + GetLangText(Piece::Str19) + QLatin1Char(' '), t.wDay);
    }
    const QString joined =
        QStringLiteral("%1") + GetLangText(Piece::Str20) + QStringLiteral("%2") + GetLangText(Piece::Str21);
    const auto twoDigits = [](int v) { return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0')); };
    text += FillText(GetLangText(Format::Str13, joined),
        {QString::number(t.wHour), QString::number(t.wMinute), twoDigits(t.wHour), twoDigits(t.wMinute)});
    return text;
}

QString SendIntervalText(const SYSTEMTIME& interval)
{
    namespace Piece = LangText::QorsmailMain_Str;
    namespace Format = LangText::Format_Str;
    const SYSTEMTIME t = interval;
    const auto part = [](const LangText::JoinedEntry& format, const LangText::Entry& unit, int value) {
        const QString joined = QStringLiteral("%1") + GetLangText(unit) + QLatin1Char(' ');
        return FillText(GetCountText(format, value, joined), {QString::number(value)});
    };
    QString text;
    if (t.wYear != 0) {
        text += part(Format::Str14, Piece::SendInterval_Str0, t.wYear);
    }
    if (t.wMonth != 0) {
        text += part(Format::Str15, Piece::SendInterval_Str1, t.wMonth);
    }
    if (t.wDay != 0) {
        text += part(Format::Str16, Piece::SendInterval_Str2, t.wDay);
    }
    if (!text.isEmpty() || t.wHour != 0 || t.wMinute != 0) {
        text += part(Format::Str17, Piece::SendInterval_Str3, t.wHour)
            + part(Format::Str18, Piece::SendInterval_Str4, t.wMinute);
    }
    return text;
}

int PanelWaitSec(int32_t waitSec)
{
    return std::clamp<int32_t>(waitSec, 0, 3600);
}
