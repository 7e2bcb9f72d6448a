// SPDX-License-Identifier: MIT
#pragma once

// A fresh working directory for one test: a QTemporaryDir named by QORVANE_WORKDIR, with the event-log library
// initialised on it for the object's lifetime (the library reads the variable at every InitLogLibrary after an
// ExitLogLibrary). The previous value of the variable comes back afterwards.

#include "qorslog2.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <cstdlib>
#include <optional>

class TTempWorkDir
{
public:
    // With init false the directory is only named, so a test can prepare files before InitLogLibrary.
    explicit TTempWorkDir(bool init = true)
    {
        if (const char* old = std::getenv("QORVANE_WORKDIR")) {
            m_previous = QByteArray(old);
        }
        m_path = m_dir.path() + QLatin1Char('/');
        setenv("QORVANE_WORKDIR", m_path.toLocal8Bit().constData(), 1);
        if (init) {
            m_initResult = InitLogLibrary();
        }
    }
    ~TTempWorkDir()
    {
        ExitLogLibrary();
        if (m_previous) {
            setenv("QORVANE_WORKDIR", m_previous->constData(), 1);
        } else {
            unsetenv("QORVANE_WORKDIR");
        }
    }
    TTempWorkDir(const TTempWorkDir&) = delete;
    TTempWorkDir& operator=(const TTempWorkDir&) = delete;

    bool isValid() const { return m_dir.isValid(); }
    // The directory with its trailing '/'.
    const QString& path() const { return m_path; }
    QString ringPath() const { return m_path + QStringLiteral("EventLog/events.ring"); }
    // What InitLogLibrary returned (0 when not called).
    int32_t initResult() const { return m_initResult; }

private:
    QTemporaryDir m_dir;
    QString m_path;
    std::optional<QByteArray> m_previous;
    int32_t m_initResult = 0;
};
