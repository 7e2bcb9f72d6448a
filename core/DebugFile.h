// SPDX-License-Identifier: MIT
#pragma once

// The debug log: lines appended to WorkDir + "Debug/QorMail.log", GBK, CR LF, by any number of processes. Each
// write holds an advisory flock on the file itself, waited for at most 2000 ms; the kernel drops the lock when a
// holder dies, so an abandoned lock never shuts the other writers out.

#include "LocalTime.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <mutex>

class TDebugClass
{
public:
    // Opens (creating when missing, never truncating) the file; an empty path or a failed open leaves the log
    // inactive. The log does not create folders. When the file is deleted or moved away while the log is open,
    // the next line opens a new file under the path.
    explicit TDebugClass(const QString& path, const TClock* clock = nullptr);
    ~TDebugClass();
    TDebugClass(const TDebugClass&) = delete;
    TDebugClass& operator=(const TDebugClass&) = delete;

    bool isActive() const { return m_active; }
    const QString& fileName() const { return m_fileName; }

    // -1 inactive; 0 nothing written: empty text, the lock not had within 2000 ms, the write failed, or the file
    // was deleted and cannot be made again; 1 written. Safe to call from several threads: they take turns.
    int32_t WriteLine(const QString& text);
    // WriteLine of DateTimeText(now) + ", " + text.
    int32_t WriteTimed(const QString& text);

    // How long a writer waits for the lock; tests shorten it.
    void setLockTimeoutMs(int ms) { m_lockTimeoutMs = ms; }

private:
    int32_t openLogFile() const;
    bool followPath();

    bool m_active = false;
    QString m_fileName;
    QByteArray m_nativePath;
    int32_t m_handle = 0;
    int m_lockTimeoutMs = 2000;
    const TClock* m_clock;
    // flock() does not exclude threads that share one open file, so threads of this process take turns here.
    std::mutex m_writeMutex;
};
