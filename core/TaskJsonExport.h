// SPDX-License-Identifier: MIT
#pragma once

// The export of the configuration held in memory (settings, address book, both task tables) as the JSON that
// qorsmail-cfg build turns into a task file, so changes made in the station's window are not lost at exit.

#include "QorsmailDef.h"

#include <QString>
#include <QStringList>

// The station's own task file and settings file: an export never replaces either.
QStringList StationConfigFiles(const TMailTables& tables);

enum class TExportResult
{
    Written,
    OwnFile, // the path names one of the station's own files; nothing was written
    Failed, // error says why; the target is left as it was
};

// Writes the JSON form atomically with mode 0600 (it holds the SMTP password).
TExportResult ExportTaskJson(const TMailTables& tables, const QString& path, QString& error);
