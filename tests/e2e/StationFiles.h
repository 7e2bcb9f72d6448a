// SPDX-License-Identifier: MIT
#pragma once

// What the end-to-end tests give a real station to read: the task file, from tables the test fills, and a
// settings file pointing at the local SMTP test server; and events posted into its ring with qorslog.

#include "GbkCodec.h"
#include "QorsmailFunc.h"
#include "StationProcess.h"

#include <optional>

struct TStationFiles
{
    TMailTables tables;

    TStationFiles()
    {
        SetTaskDefaults(tables);
        Gbk::storeField(tables.SmtpSettings.LocalEmailAddr, QStringLiteral("station@example.cn"));
        tables.SmtpSettings.MaxSendTries = 1;
    }

    // An event mail task for every type and level, to one recipient.
    void addEventTask(const QString& title,
        int waitSec,
        const QString& keyword = {},
        const QString& address = QStringLiteral("duty@example.cn"))
    {
        TEventMailTask task{};
        task.LevelMask = -1;
        task.WaitSec = waitSec;
        task.ReceiverCount = 1;
        Gbk::storeField(task.Receivers[0].Addr, address);
        Gbk::storeField(task.Title, title);
        Gbk::storeField(task.Keyword, keyword);
        tables.EventTasks.append(task);
    }

    // Writes both files into the working directory (ending in '/'), replacing earlier ones. The settings file
    // names WaitSeconds only when it is given.
    bool write(const QString& workDir, int port, std::optional<int> waitSeconds = std::nullopt) const
    {
        QByteArray settings = "[SMTP]\r\nsmtpaddr=127.0.0.1\r\nsmtpport=" + QByteArray::number(port) + "\r\n";
        if (waitSeconds) {
            settings += "WaitSeconds=" + QByteArray::number(*waitSeconds) + "\r\n";
        }
        const QByteArray taskFile = TaskFileBytes(tables);
        QFile cfg(workDir + QStringLiteral("CfgCache/qorsmail.cfg"));
        QFile ini(workDir + QStringLiteral("QorMail.ini"));
        return QDir().mkpath(workDir + QStringLiteral("CfgCache"))
            && cfg.open(QIODevice::WriteOnly | QIODevice::Truncate) && cfg.write(taskFile) == taskFile.size()
            && ini.open(QIODevice::WriteOnly | QIODevice::Truncate) && ini.write(settings) == settings.size();
    }
};

// One event into the working directory's ring, stamped with the given time ("2026-03-05 07:04:09.120") or now.
inline bool postEvent(const QString& workDir, int type, int level, const QString& text, const QString& time = {})
{
    QStringList args{QStringLiteral("post"),
        QStringLiteral("--type"),
        QString::number(type),
        QStringLiteral("--level"),
        QString::number(level)};
    if (!time.isEmpty()) {
        args << QStringLiteral("--time") << time;
    }
    args << text;
    return runTool(workDir, QStringLiteral("qorslog"), args);
}
