// SPDX-License-Identifier: MIT
#include "TaskJsonExport.h"

#include "AtomicFile.h"
#include "TaskJson.h"

QStringList StationConfigFiles(const TMailTables& tables)
{
    const QString workDir = tables.workDirPath();
    return {workDir + QStringLiteral("CfgCache/") + tables.TaskFileName, workDir + QStringLiteral("QorMail.ini")};
}

TExportResult ExportTaskJson(const TMailTables& tables, const QString& path, QString& error)
{
    for (const QString& own : StationConfigFiles(tables)) {
        if (SameFile(path, own)) {
            error = own;
            return TExportResult::OwnFile;
        }
    }
    QByteArray json;
    try {
        json = TaskJson::ToJson(tables, QByteArray());
    } catch (const TaskJson::TError& e) {
        error = e.message;
        return TExportResult::Failed;
    }
    return WriteFileAtomically(path, json, 0600, error) ? TExportResult::Written : TExportResult::Failed;
}
