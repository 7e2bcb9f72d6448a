// SPDX-License-Identifier: MIT
#include "ConfigExport.h"

#include "MLEngine.h"
#include "MessageBoxes.h"
#include "QorsmailMain.h"
#include "TaskJsonExport.h"

#include <QDir>

void ExportConfiguration(QWidget* parent, TQorsmailMain& engine, QString& lastPath)
{
    using namespace LangText::ConfigExport_Str;
    const QString start = lastPath.isEmpty() ? QDir::homePath() + QStringLiteral("/qorsmail.json") : lastPath;
    const std::optional<QString> path =
        MessageBoxes::getSaveFileName(parent, {GetLangText(Str0), start, GetLangText(Str1)});
    if (!path || path->isEmpty()) {
        return;
    }
    QString error;
    switch (ExportTaskJson(engine.tables(), *path, error)) {
    case TExportResult::Written:
        lastPath = *path;
        engine.WriteLogLine(GetLangText(Str4).arg(QDir::toNativeSeparators(*path)));
        break;
    case TExportResult::OwnFile:
        MessageBoxes::error(parent, GetLangText(Str2).arg(QDir::toNativeSeparators(*path)));
        break;
    case TExportResult::Failed:
        MessageBoxes::error(parent, GetLangText(Str3).arg(error));
        break;
    }
}
