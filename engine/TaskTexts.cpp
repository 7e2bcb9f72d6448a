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
        lines << FourBlanks + names.join(QLatin1Char(','));
    }
    const QString keyword = Gbk::fieldText(task.Keyword);
    if (!keyword.isEmpty()) {
        lines << GetLangText(Str6) + keyword;
    }
    const int32_t mask = task.LevelMask;
    if (mask != -1) {
        lines << GetLangText(Str7);
        QString levels = FourBlanks;
        if (mask & 0x2) {
            levels += GetLangText(Str8);
        }
        if (mask & 0x4) {
            levels += GetLangText(Str9);
        }
        if (mask & 0x8) {
            levels += GetLangText(Str10);
        }
        if (mask & 0x1) {
            levels += GetLangText(Str11);
        }
        lines << levels;
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
    using namespace LangText::QorsmailMain_Str;
    const SYSTEMTIME t = sendTime; // packed: read by value
    QString text;
    if (t.wYear != 0) {
        text += QString::number(t.wYear) + GetLangText(Str17);
    }
    if (t.wMonth != 0) {
        text += QString::number(t.wMonth) + GetLangText(Str18);
    }
    if (t.wDay != 0) {
        text += QString::number(t.wDay) + GetLangText(Str19) + QLatin1Char(' ');
    }
    text += QString::number(t.wHour) + GetLangText(Str20) + QString::number(t.wMinute) + GetLangText(Str21);
    return text;
}

QString SendIntervalText(const SYSTEMTIME& interval)
{
    using namespace LangText::QorsmailMain_Str;
    const SYSTEMTIME t = interval;
    QString text;
    if (t.wYear != 0) {
        text += QString::number(t.wYear) + GetLangText(SendInterval_Str0) + QLatin1Char(' ');
    }
    if (t.wMonth != 0) {
        text += QString::number(t.wMonth) + GetLangText(SendInterval_Str1) + QLatin1Char(' ');
    }
    if (t.wDay != 0) {
        text += QString::number(t.wDay) + GetLangText(SendInterval_Str2) + QLatin1Char(' ');
    }
    if (!text.isEmpty() || t.wHour != 0 || t.wMinute != 0) {
        text += QString::number(t.wHour) + GetLangText(SendInterval_Str3) + QLatin1Char(' ')
            + QString::number(t.wMinute) + GetLangText(SendInterval_Str4) + QLatin1Char(' ');
    }
    return text;
}

int PanelWaitSec(int32_t waitSec)
{
    return std::clamp<int32_t>(waitSec, 0, 3600);
}
