// SPDX-License-Identifier: MIT
#pragma once

// The real qormail binary on a temporary working directory, offscreen, with its diagnostics on, and the tools it
// works with. Only one station runs per user, so every test that starts one holds a per-user lock file for its
// length: parallel tests queue for it instead of meeting each other's station.

#include "GbkCodec.h"

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <unistd.h>

class TStationLock
{
public:
    TStationLock()
    {
        const QByteArray path =
            QFile::encodeName(QDir::tempPath()) + "/qorsmail-station-tests-" + QByteArray::number(::getuid()) + ".lock";
        m_fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (m_fd >= 0) {
            ::flock(m_fd, LOCK_EX);
        }
    }
    ~TStationLock()
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    TStationLock(const TStationLock&) = delete;
    TStationLock& operator=(const TStationLock&) = delete;

private:
    int m_fd = -1;
};

#ifndef FAKETIME_LIBRARY
#define FAKETIME_LIBRARY "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1"
#endif

inline QString binPath(const QString& name)
{
    return QStringLiteral(QORSMAIL_BIN_DIR "/") + name;
}

class TStation
{
public:
    explicit TStation(const QString& workDir)
        : m_workDir(workDir)
    {
    }
    ~TStation() { kill(); }
    TStation(const TStation&) = delete;
    TStation& operator=(const TStation&) = delete;

    static QProcessEnvironment environment(const QString& workDir)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QORVANE_WORKDIR"), workDir);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(
            QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("qorsmail.station.info=true;qorsmail.engine.info=true"));
        env.insert(QStringLiteral("FAKETIME_DONT_FAKE_MONOTONIC"), QStringLiteral("1"));
        return env;
    }

    // Starts qormail, with libfaketime's clock starting at the given local time when one is given
    // ("2026-03-05 08:31:08"). The library is preloaded into the station itself, so signals reach it directly.
    void start(const QString& fakeStart = {}, const QStringList& arguments = {})
    {
        m_process = std::make_unique<QProcess>();
        QProcessEnvironment env = environment(m_workDir);
        if (!fakeStart.isEmpty()) {
            env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(FAKETIME_LIBRARY));
            env.insert(QStringLiteral("FAKETIME"), QLatin1Char('@') + fakeStart);
            // An AddressSanitizer build refuses a preloaded library ahead of its runtime unless told otherwise.
            const QString asan = env.value(QStringLiteral("ASAN_OPTIONS"));
            env.insert(QStringLiteral("ASAN_OPTIONS"),
                (asan.isEmpty() ? QString() : asan + QLatin1Char(':')) + QStringLiteral("verify_asan_link_order=0"));
        }
        for (const QString& key : m_extraEnvironment.keys()) {
            env.insert(key, m_extraEnvironment.value(key));
        }
        m_process->setProcessEnvironment(env);
        m_process->setProcessChannelMode(QProcess::MergedChannels);
        m_process->setWorkingDirectory(m_workDir);
        m_process->start(binPath(QStringLiteral("qormail")), arguments);
        m_process->waitForStarted(5000);
    }

    // A variable added to the station's environment at the next start (Qt's plugin variables, for one).
    void setEnvironment(const QString& key, const QString& value) { m_extraEnvironment.insert(key, value); }

    // Waits until the station's output holds the text.
    bool waitForOutput(const QByteArray& text, int timeoutMs = 10000)
    {
        QElapsedTimer timer;
        timer.start();
        while (!output().contains(text)) {
            if (timer.elapsed() > timeoutMs || m_process->state() == QProcess::NotRunning) {
                return output().contains(text);
            }
            m_process->waitForReadyRead(50);
        }
        return true;
    }
    bool waitForWindow() { return waitForOutput("qormail: main window shown"); }

    QByteArray output()
    {
        if (m_process) {
            m_output += m_process->readAll();
        }
        return m_output;
    }

    // SIGTERM and the exit code; -1 when it did not end within the time.
    int terminate(int timeoutMs = 10000)
    {
        if (!m_process) {
            return -1;
        }
        m_process->terminate();
        return waitForExit(timeoutMs);
    }
    int waitForExit(int timeoutMs = 10000)
    {
        if (!m_process->waitForFinished(timeoutMs)) {
            return -1;
        }
        output();
        return m_process->exitStatus() == QProcess::NormalExit ? m_process->exitCode() : -1;
    }
    void kill()
    {
        if (m_process && m_process->state() != QProcess::NotRunning) {
            m_process->kill();
            m_process->waitForFinished(5000);
        }
    }
    qint64 pid() const { return m_process ? m_process->processId() : 0; }
    // Whether a shared library whose file name holds the text is mapped into the running station.
    bool hasLibraryLoaded(const QByteArray& name) const
    {
        QFile maps(QStringLiteral("/proc/%1/maps").arg(pid()));
        return maps.open(QIODevice::ReadOnly) && maps.readAll().contains(name);
    }

private:
    QString m_workDir;
    QProcessEnvironment m_extraEnvironment;
    std::unique_ptr<QProcess> m_process;
    QByteArray m_output;
};

// Runs a tool of ours on the working directory; true on exit code 0.
inline bool runTool(const QString& workDir, const QString& tool, const QStringList& args, QByteArray* out = nullptr)
{
    QProcess p;
    p.setProcessEnvironment(TStation::environment(workDir));
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(binPath(tool), args);
    const bool finished = p.waitForFinished(15000);
    if (out) {
        *out = p.readAll();
    }
    return finished && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

inline QString readDebugLog(const QString& workDir)
{
    QFile file(workDir + QStringLiteral("Debug/QorMail.log"));
    return file.open(QIODevice::ReadOnly) ? Gbk::decode(file.readAll()) : QString();
}

// Waits until the debug log holds the text (the station writes it a moment after the event).
inline bool waitForDebugLine(const QString& workDir, const QString& text, int timeoutMs = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (!readDebugLog(workDir).contains(text)) {
        if (timer.elapsed() > timeoutMs) {
            return false;
        }
        QThread::msleep(20);
    }
    return true;
}
