// SPDX-License-Identifier: MIT
// qorsmail-cfg: writes task files (qorsmail.cfg) from JSON and shows them as JSON. The station only reads the
// task file; on Linux this tool stands where the suite's configuration program would.
//
//   qorsmail-cfg dump FILE          the task file as JSON on standard output
//   qorsmail-cfg build JSON FILE    a task file from JSON ("-" reads standard input), written atomically
//
// Exit codes: 0 done, 1 refused (bad input, a file that cannot be read or written), 2 usage.

#include "AtomicFile.h"
#include "NormalFunction.h"
#include "QorsmailFunc.h"
#include "TaskJson.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

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
               "       qorsmail-cfg build JSON FILE   (JSON may be - for standard input)\n",
        stderr);
    return ExitUsage;
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// The whole file, read under a shared lock as the station reads it (a writer holding the lock keeps us out).
bool readWhole(const QString& path, QByteArray& bytes, QString& error)
{
    if (!QFileInfo::exists(path)) {
        error = QStringLiteral("%1: no such file").arg(path);
        return false;
    }
    int32_t handle = OpenFileEx(path, faRead, 0, smDenyWrite);
    if (handle <= 0) {
        error = QStringLiteral("%1: cannot be opened for reading, or a writer holds it").arg(path);
        return false;
    }
    bytes.clear();
    char buffer[1 << 16];
    for (;;) {
        const int64_t got = LReadFile(handle, buffer, sizeof(buffer));
        if (got < 0) {
            error = QStringLiteral("%1: read error").arg(path);
            LCloseFile(handle);
            return false;
        }
        bytes.append(buffer, static_cast<qsizetype>(got));
        if (got < static_cast<int64_t>(sizeof(buffer))) {
            break;
        }
    }
    LCloseFile(handle);
    return true;
}

int dump(const QString& path)
{
    QByteArray bytes;
    QString error;
    if (!readWhole(path, bytes, error)) {
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

// An exclusive lock on "<target>.lock" beside the target, so two writers never interleave their renames.
// Readers lock the task file itself; they see the old file or the new one, never a part.
class TWriteLock
{
public:
    ~TWriteLock()
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }

    bool take(const QByteArray& target, QString& error)
    {
        const QByteArray lockPath = target + ".lock";
        m_fd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (m_fd < 0) {
            error = QStringLiteral("%1: %2").arg(QFile::decodeName(lockPath), systemError());
            return false;
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR) {
                error = QStringLiteral("%1: %2").arg(QFile::decodeName(lockPath), systemError());
                return false;
            }
            if (std::chrono::steady_clock::now() > deadline) {
                error = QStringLiteral("%1: another writer holds the lock").arg(QFile::decodeName(lockPath));
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return true;
    }

private:
    int m_fd = -1;
};

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
    TWriteLock lock;
    if (!lock.take(QFile::encodeName(QFileInfo(target).absoluteFilePath()), error)
        || !WriteFileAtomically(target, bytes, 0644 & ~CurrentUmask(), error)) {
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
