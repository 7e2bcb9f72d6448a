// SPDX-License-Identifier: MIT
#pragma once

// The read-only detail texts of one task as the main window's panels show them: the trigger conditions of an
// event mail, recipient lines, and the send type, send time and interval of a report mail. Widget-free, so the
// texts are checked without a window; the window only puts them into its controls.

#include "QorsmailDef.h"

#include <QString>
#include <QStringList>

// Lines of the trigger memo: the types (names joined by ","), the keyword and the levels, each only when the task
// restricts it; empty for a task that matches every event. The separators are language texts too.
QStringList EventTriggerLines(const TEventMailTask& task);

// One line per recipient: name<address>, or the bare address when the name is empty.
QStringList ReceiverLines(const TMailAddr (&receivers)[MaxReceivers], int32_t receiverCount);

// The stored report file names, one per used entry.
QStringList ReportFileLines(const TReportMailTask& task);

// "每天自动发送" .. "等间隔时间发送" for send types 1..4, "不自动发送" for any other value.
QString SendTypeText(int32_t sendType);

// The send time: year, month and day only when not 0 (the day followed by a blank), hour and minute always
// ("3月15日 8时5分", "0时0分"; in English "month 3, day 15, 08:05").
QString SendTimeText(const SYSTEMTIME& sendTime);

// The interval: each non-zero part of years, months, days with a blank after it, then hours and minutes when
// anything came before or either is non-zero; an all-zero interval gives an empty text.
QString SendIntervalText(const SYSTEMTIME& interval);

// The wait the panel's spin box shows: brought into 0..3600.
int PanelWaitSec(int32_t waitSec);
