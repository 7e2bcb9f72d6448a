// SPDX-License-Identifier: MIT
#pragma once

// The task file qorsmail.cfg (read only; the suite's configuration program writes it) and the services on the
// stored data: recipient lines and the address-book lookup.

#include "QorsmailDef.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>

// Settings to their defaults, UseSSL/StartTLS off, CAFile empty, the address book and both task tables emptied.
// MaxSendTries is left as it is.
void SetTaskDefaults(TMailTables& tables);

// Reads WorkDir + "CfgCache/" + TaskFileName. True when the whole file was read. On failure the tables keep
// the complete records read before the fault (never a count larger than the records present) and *error, when
// given, says what was wrong.
bool LoadTaskFile(TMailTables& tables, QString* error = nullptr);
bool LoadTaskFileFrom(TMailTables& tables, const QString& path, QString* error = nullptr);
// Receives, in file order, every byte the reader takes from a file, where the reader put it.
using TTaskFileBytesSeen = std::function<void(const char* bytes, int64_t size)>;
// The reader over a handle open at the file's start (the caller opens and closes it). The records go straight
// into the tables; `seen` lets the caller look at the file's bytes (hash them) without a copy of the file.
bool LoadTaskFileFromHandle(
    TMailTables& tables, int32_t handle, QString* error = nullptr, const TTaskFileBytesSeen& seen = {});
// The same reader over bytes in memory (the fuzz target and the configuration tool use it).
bool LoadTaskFileBytes(TMailTables& tables, const QByteArray& bytes, QString* error = nullptr);

// The task file's bytes for the tables as they stand (version, settings, address book, event and report tasks).
QByteArray TaskFileBytes(const TMailTables& tables);
// The length of TaskFileBytes(tables), counted without writing them.
qsizetype TaskFileByteSize(const TMailTables& tables);

// Empties the address book and both task tables.
void FreeTaskTables(TMailTables& tables);

// Turns recipient memo lines (0..highestLine) into at most 100 entries of dest; returns the number stored, or
// -1 at the first line that is no valid recipient. A name or address longer than its field holds is refused (-1).
int ParseRecipients(
    const TMailTables& tables, TMailAddr (&dest)[MaxReceivers], int highestLine, const QStringList& lines);

// Addr of the first address-book entry whose Name equals name, ASCII letters folded, every other byte exact.
QString FindAddrByName(const TMailTables& tables, const QString& name);
QByteArray FindAddrByNameBytes(const TMailTables& tables, const QByteArray& nameGbk);
