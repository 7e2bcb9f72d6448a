#pragma once

// The trigger tick: new events from the ring mark idle event mail tasks, then due schedules mark idle report
// mail tasks.

#include "LocalTime.h"
#include "QorsmailDef.h"
#include "mlogcomm2.h"

#include <vector>

// ReadPos, WritePos and the 5000-record read buffer, allocated once; nothing is allocated per tick.
struct TTriggerState
{
    int32_t ReadPos = 0;
    int32_t WritePos = 0;
    std::vector<EventRecord> EventBuffer = std::vector<EventRecord>(EventRingSize);
};

// The rule test of one event against one task: type, then level, then keyword.
bool EventMatches(const EventRecord& event, const TEventMailTask& task);

// The keyword test on GBK bytes: ASCII letters fold, double-byte characters compare exactly, a match starts
// only on a character boundary.
bool TextContainsKeyword(const char* text, size_t textLength, const char* keyword, size_t keywordLength);

// The event step of one tick, with the local time taken at the tick's start.
void RunEventStep(TMailTables& tables, TTriggerState& state, TLogLibrary& log, const SYSTEMTIME& now);

// The report step of one tick; the clock is read again for the second-mark guard and the due time.
void RunReportStep(TMailTables& tables, TLogLibrary& log, const TClock& clock, const SYSTEMTIME& now);
