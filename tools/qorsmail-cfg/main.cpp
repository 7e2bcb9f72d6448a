// SPDX-License-Identifier: MIT
// qorsmail-cfg: writes task files (qorsmail.cfg) from JSON and shows them as JSON. Besides the station's own
// 保存配置, this tool stands on Linux where the suite's configuration program would.
//
//   qorsmail-cfg dump FILE          the task file as JSON on standard output; with the station's own settings
//                                   file beside it (qormail-station.ini), its values as the station reads them
//                                   under "_station" (a comment to build, which ignores it)
//   qorsmail-cfg build JSON FILE    a task file from JSON ("-" reads standard input), written atomically: a new
//                                   file 0600 (it holds the SMTP password) in a folder made 0700 when missing, a
//                                   replaced one keeps its mode, owner and group (refused when this user may not
//                                   give them) and stays beside it as FILE.bak; a FILE that is a symbolic link is
//                                   written through to its target
//
// Exit codes: 0 done, 1 refused (bad input, a file that cannot be read or written), 2 usage.

#include "JsonWriter.h"
#include "NormalFunction.h"
#include "QorsmailFunc.h"
#include "StationSettings.h"
#include "TaskFileStore.h"
#include "TaskJson.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace {

constexpr int ExitOk = 0;
constexpr int ExitRefused = 1;
constexpr int ExitUsage = 2;

void printError(const QString& message)
{
    std::fprintf(stderr, "qorsmail-cfg: %s\n", message.toLocal8Bit().constData());
}

int usage()
{
    std::fputs("usage: qorsmail-cfg dump FILE\n"
               "       qorsmail-cfg build JSON FILE   (JSON may be - for standard input)\n"
               "       qorsmail-cfg --help\n"
               "Exit status: 0 done, 1 refused, 2 usage.\n",
        stderr);
    return ExitUsage;
}

// The station's settings file in folder, as a "_station" member appended to the task file's JSON document; the
// document unchanged when there is no such file. Refused values are listed under "problems" and on stderr.
QByteArray withStationSettings(const QByteArray& json, const QString& folder)
{
    const QString path = folder + QLatin1String(StationSettingsFileName);
    if (!QFileInfo::exists(path)) {
        return json;
    }
    TStationSettings s;
    QStringList problems;
    ReadStationSettings(path, s, problems);
    TJsonWriter w;
    w.beginObject();
    w.key("_station");
    w.beginObject();
    w.field("file", path);
    w.key("smtp");
    w.beginObject();
    w.field("tls", static_cast<int32_t>(s.smtpTls));
    w.field("caFile", s.smtpCaFile);
    w.endObject();
    w.key("fallbackSmtp");
    w.beginObject();
    w.field("host", s.fallback.host);
    w.field("port", s.fallback.effectivePort());
    w.field("tls", static_cast<int32_t>(s.fallback.tls));
    w.field("user", s.fallback.user);
    w.field("password", s.fallback.password);
    w.endObject();
    w.key("health");
    w.beginObject();
    w.key("recipients");
    w.beginArray(true);
    for (const QString& r : s.health.recipients) {
        w.value(r);
    }
    w.endArray();
    w.field("time", HealthTimeText(s.health.timeOfDay));
    w.field("everyHours", s.health.everyHours);
    w.endObject();
    w.key("notices");
    w.beginObject();
    w.field("giveUp", s.notices.giveUp);
    w.field("missingReport", s.notices.missingReport);
    w.endObject();
    w.key("problems");
    w.beginArray();
    for (const QString& p : problems) {
        w.value(p);
        printError(p);
    }
    w.endArray();
    w.endObject();
    w.endObject();
    // Both documents are written at the same indentation: the member goes in before the task file's closing
    // brace, without the braces of its own document.
    QByteArray member = w.text();
    member = member.mid(1, member.lastIndexOf('}') - 1);
    QByteArray merged = json.left(json.lastIndexOf('}'));
    while (merged.endsWith('\n') || merged.endsWith(' ')) {
        merged.chop(1);
    }
    return merged + ',' + member + "}\n";
}

int dump(const QString& path)
{
    QByteArray bytes;
    QString error;
    if (!ReadFileShared(path, bytes, error)) {
        printError(error);
        return ExitRefused;
    }
    TMailTables tables;
    SetTaskDefaults(tables);
    if (!LoadTaskFileBytes(tables, bytes, &error)) {
        printError(QStringLiteral("%1: not a complete task file: %2").arg(path, error));
        return ExitRefused;
    }
    const QByteArray trailing = bytes.mid(TaskFileBytes(tables).size());
    QByteArray json;
    try {
        json = TaskJson::ToJson(tables, trailing);
    } catch (const TaskJson::TError& e) {
        printError(
            QStringLiteral("%1: cannot be shown as JSON that gives back the same file: %2").arg(path, e.message));
        return ExitRefused;
    }
    json = withStationSettings(json, QFileInfo(path).absolutePath() + QLatin1Char('/'));
    if (std::fwrite(json.constData(), 1, static_cast<size_t>(json.size()), stdout) != static_cast<size_t>(json.size())
        || std::fflush(stdout) != 0) {
        printError(QStringLiteral("cannot write to standard output"));
        return ExitRefused;
    }
    return ExitOk;
}

bool readInput(const QString& path, QByteArray& bytes, QString& error)
{
    QFile f;
    const bool ok = path == QLatin1String("-") ? f.open(stdin, QIODevice::ReadOnly)
                                               : (f.setFileName(path), f.open(QIODevice::ReadOnly));
    if (!ok) {
        error = QStringLiteral("%1: %2").arg(path, f.errorString());
        return false;
    }
    bytes = f.readAll();
    if (f.error() != QFileDevice::NoError) {
        error = QStringLiteral("%1: %2").arg(path, f.errorString());
        return false;
    }
    return true;
}

// A fresh working directory has no CfgCache/ yet: the target's missing folders are made, mode 0700, since the
// file holds the SMTP password. Folders that exist are left as they are.
bool makeTargetFolders(const QString& target, QString& error)
{
    const QByteArray folder = QFile::encodeName(QDir::cleanPath(QFileInfo(target).absolutePath()));
    for (qsizetype end = 1; end <= folder.size(); ++end) {
        if (end < folder.size() && folder[end] != '/') {
            continue;
        }
        const QByteArray part = folder.left(end);
        if (::mkdir(part.constData(), 0700) != 0 && errno != EEXIST) {
            error = QStringLiteral("cannot create the folder %1: %2")
                        .arg(QFile::decodeName(part), QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
    }
    return true;
}

int build(const QString& jsonPath, const QString& target)
{
    QByteArray json;
    QString error;
    if (!readInput(jsonPath, json, error)) {
        printError(error);
        return ExitRefused;
    }
    TMailTables tables;
    QByteArray trailing;
    try {
        TaskJson::FromJson(json, tables, trailing);
    } catch (const TaskJson::TError& e) {
        printError(QStringLiteral("%1: %2").arg(jsonPath, e.message));
        return ExitRefused;
    }
    const QByteArray bytes = TaskFileBytes(tables) + trailing;
    if (!makeTargetFolders(target, error) || !WriteTaskFile(target, bytes, error)) {
        printError(error);
        return ExitRefused;
    }
    return ExitOk;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (args.size() == 2 && args[0] == QLatin1String("dump")) {
        return dump(args[1]);
    }
    if (args.size() == 3 && args[0] == QLatin1String("build")) {
        return build(args[1], args[2]);
    }
    if (args.size() == 1 && (args[0] == QLatin1String("--help") || args[0] == QLatin1String("-h"))) {
        usage();
        return ExitOk;
    }
    return usage();
}
