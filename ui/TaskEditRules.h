// SPDX-License-Identifier: MIT
#pragma once

// The deciding rules of the two task property dialogs and the report file chooser, kept free of widgets so they
// can be tested on their own: memo lines, event type and level ticks, the time edits, the report file list and
// the chooser's filter and file names.

#include "FieldInput.h"
#include "LangTexts.h"
#include "QorsmailDef.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>

namespace TaskEdit {

// Removes characters of code 32 or less at both ends (the suite's blanks, not Qt's white space).
using FieldInput::TrimBlanks;

// The lines a memo holds: split at each line end; a line end at the very end opens no further line, and an
// empty memo holds none.
QStringList MemoLines(const QString& text);
QString MemoText(const QStringList& lines);

// One memo line per used recipient entry: its Name when not empty, else its Addr.
QStringList ReceiverLines(const TMailAddr (&receivers)[MaxReceivers], int32_t count);

using TTypeTicks = std::array<bool, EventTypeListCount>;
// The ticks in list order of the first TypeCount entries of Types (TypeCount 0: none).
TTypeTicks TypeTicks(const TEventMailTask& task);
// None or all ticked: TypeCount 0, Types untouched. Otherwise the ticked type numbers, in list order, go into
// Types from entry 0 on; the entries after them keep what they held.
void StoreTypeTicks(TEventMailTask& task, const TTypeTicks& ticks);

// Index = event level: 0 other events, 1 level I, 2 level II, 3 level III.
using TLevelTicks = std::array<bool, 4>;
// Mask -1 shows no ticks.
TLevelTicks LevelTicks(int32_t levelMask);
// Bit n for level n; 0 or all four is -1 (all levels).
int32_t LevelMaskFromTicks(const TLevelTicks& ticks);

// The five edits of a time group, in the order year, month, day, hour, minute.
using TTimeTexts = std::array<QString, 5>;
struct TTimeCheck
{
    const LangText::Entry* Error = nullptr; // null when every edit was stored
    int Field = -1; // index of the edit that failed
};
// Converts each edit as a whole decimal number and stores it into time's year, month, day, hour and minute, in
// that order, stopping at the first failure: a text that is no whole number gives Str8; a number the 16-bit
// field cannot hold (negative or above 65535) or above its limit gives the field's text (Str4 month above 12,
// Str5 day above 31, Str6 hour above 23, Str7 minute above 59; the year has no limit and gives Str8). Day of
// week, second and milliseconds are left alone.
TTimeCheck StoreTimeTexts(SYSTEMTIME& time, const TTimeTexts& texts);
TTimeTexts TimeTexts(const SYSTEMTIME& time);

// A Files entry holds 127 GBK bytes.
constexpr int ReportFileLimit = 127;
struct TFileStore
{
    int Count = 0; // entries stored
    int LongLine = -1; // index of the memo line that does not fit its entry, or -1
    QString LongText; // that line, trimmed
};
// Trims each line, skips empty ones and stores the rest into Files in order, at most ten (further lines are not
// looked at). A line longer than an entry holds is not cut (a cut path names another file): the store stops
// there and reports the line. FileCount is set only when every line fitted and at least one was stored.
TFileStore StoreReportFiles(TReportMailTask& task, const QStringList& lines);
QStringList ReportFileLines(const TReportMailTask& task);
// Whether the file is listed already: each line trimmed, compared exactly (file names differ by case here).
bool ReportFileListed(const QStringList& lines, const QString& file);

// One choice of the chooser's filter: "description|patterns|description|patterns", patterns split at ";".
struct TFileFilter
{
    QString Description;
    QStringList Patterns;
};
// Pairs in order; a pair with an empty description is skipped, an empty pattern list means every file, a
// description without its pattern list at the end is dropped.
QList<TFileFilter> ParseFileFilter(const QString& text);

enum class TChosenName
{
    Ok,
    Empty,
    Wildcard,
};
TChosenName CheckChosenName(const QString& name);
// A name beginning with "/" stands as it is; any other is the current folder + "/" + the name.
QString ResolveChosenName(const QString& currentDir, const QString& name);

} // namespace TaskEdit
