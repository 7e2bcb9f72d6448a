// SPDX-License-Identifier: MIT
#include "TaskFileStore.h"

#include "AtomicFile.h"
#include "NormalFunction.h"
#include "QorsmailFunc.h"
#include "SmtpIni.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr mode_t NewTaskFileMode = 0600;

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

QByteArray digestOf(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

// An exclusive lock on "<target>.lock", held for the object's life.
class TWriteLock
{
public:
    TWriteLock() = default;
    TWriteLock(const TWriteLock&) = delete;
    TWriteLock& operator=(const TWriteLock&) = delete;
    ~TWriteLock()
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }

    bool take(const QString& target, QString& error)
    {
        const QByteArray lockPath = QFile::encodeName(QFileInfo(target).absoluteFilePath()) + ".lock";
        // The lock file holds nothing; only its lock matters.
        m_fd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
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

// With the write lock held: the old file copied to the backup with its own mode, then the new bytes written
// with that mode (a new file 0600).
bool writeLocked(const QString& target, const QByteArray& bytes, QString& error)
{
    struct stat st
    {
    };
    mode_t mode = NewTaskFileMode;
    if (::stat(QFile::encodeName(target).constData(), &st) == 0) {
        mode = st.st_mode & 07777;
        QByteArray old;
        if (!ReadFileShared(target, old, error) || !WriteFileAtomically(TaskFileBackupPath(target), old, mode, error)) {
            return false;
        }
    } else if (errno != ENOENT) {
        error = QStringLiteral("%1: %2").arg(target, systemError());
        return false;
    }
    return WriteFileAtomically(target, bytes, mode, error);
}

// One SMTP field the task file holds and the settings file may replace.
struct TSmtpField
{
    const char* key;
    bool (*same)(const TSmtpSettings&, const TSmtpSettings&);
    void (*copy)(TSmtpSettings& to, const TSmtpSettings& from);
};

template <auto Member>
bool sameMember(const TSmtpSettings& a, const TSmtpSettings& b)
{
    return std::memcmp(&(a.*Member), &(b.*Member), sizeof(a.*Member)) == 0;
}

template <auto Member>
void copyMember(TSmtpSettings& to, const TSmtpSettings& from)
{
    std::memcpy(&(to.*Member), &(from.*Member), sizeof(to.*Member));
}

template <auto Member>
constexpr TSmtpField field(const char* key)
{
    return {key, &sameMember<Member>, &copyMember<Member>};
}

const TSmtpField SmtpFields[] = {
    field<&TSmtpSettings::smtpaddr>("smtpaddr"),
    field<&TSmtpSettings::smtpport>("smtpport"),
    field<&TSmtpSettings::LocalEmailAddr>("LocalEmailAddr"),
    field<&TSmtpSettings::NeedAuth>("NeedAuth"),
    field<&TSmtpSettings::Username>("Username"),
    field<&TSmtpSettings::Password>("Password"),
    field<&TSmtpSettings::WaitSeconds>("WaitSeconds"),
};

// The settings file applied over base, and which fields it sets: applied over two records that differ in every
// field, a field it sets comes out the same in both, whatever its rules for that key.
TSmtpSettings applyIni(const TSmtpSettings& base, const QString& iniPath, QList<const TSmtpField*>& set)
{
    TMailTables a;
    TMailTables b;
    std::memset(&a.SmtpSettings, 0, sizeof(TSmtpSettings));
    std::memset(&b.SmtpSettings, 0, sizeof(TSmtpSettings));
    std::strcpy(b.SmtpSettings.smtpaddr, "b");
    b.SmtpSettings.smtpport = 1;
    std::strcpy(b.SmtpSettings.LocalEmailAddr, "b");
    b.SmtpSettings.NeedAuth = 1;
    std::strcpy(b.SmtpSettings.Username, "b");
    std::strcpy(b.SmtpSettings.Password, "b");
    b.SmtpSettings.WaitSeconds = 1;
    LoadSmtpIniFrom(a, iniPath);
    LoadSmtpIniFrom(b, iniPath);
    TMailTables applied;
    applied.SmtpSettings = base;
    LoadSmtpIniFrom(applied, iniPath);
    for (const TSmtpField& f : SmtpFields) {
        if (f.same(a.SmtpSettings, b.SmtpSettings)) {
            set.append(&f);
        }
    }
    return applied.SmtpSettings;
}

} // namespace

bool ReadFileShared(const QString& path, QByteArray& bytes, QString& error)
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

QString TaskFileBackupPath(const QString& target)
{
    return target + QStringLiteral(".bak");
}

bool WriteTaskFile(const QString& target, const QByteArray& bytes, QString& error)
{
    TWriteLock lock;
    return lock.take(target, error) && writeLocked(target, bytes, error);
}

TTaskFileState LoadTaskFileWithState(TMailTables& tables, QString* error)
{
    TTaskFileState state;
    state.path = tables.workDirPath() + QStringLiteral("CfgCache/") + tables.TaskFileName;
    if (!QFileInfo::exists(state.path)) {
        LoadTaskFileFrom(tables, state.path, error);
        state.smtp = tables.SmtpSettings;
        return state;
    }
    QByteArray bytes;
    QString readError;
    if (!ReadFileShared(state.path, bytes, readError)) {
        // Recorded as present with no digest: a save refuses until the station has read the file.
        state.present = true;
        if (error) {
            *error = readError;
        }
        state.smtp = tables.SmtpSettings;
        return state;
    }
    state.present = true;
    state.digest = digestOf(bytes);
    if (LoadTaskFileBytes(tables, bytes, error)) {
        state.trailing = bytes.mid(TaskFileBytes(tables).size());
    }
    state.smtp = tables.SmtpSettings;
    return state;
}

TTaskFileSaveOutcome SaveTaskFile(const TMailTables& tables, TTaskFileState& state, const QString& iniPath)
{
    TTaskFileSaveOutcome outcome;
    // A first save makes CfgCache/ (the user asked for the file in it).
    QDir().mkpath(QFileInfo(state.path).absolutePath());
    TWriteLock lock;
    if (!lock.take(state.path, outcome.error)) {
        return outcome;
    }
    QByteArray current;
    const bool present = QFileInfo::exists(state.path);
    if (present && !ReadFileShared(state.path, current, outcome.error)) {
        return outcome;
    }
    if (present != state.present || (present && (state.digest.isEmpty() || digestOf(current) != state.digest))) {
        outcome.result = TTaskFileSave::ChangedOnDisk;
        return outcome;
    }
    // A field the settings file sets holds its value in memory, not the task file's: that is written only
    // when the user changed it since.
    QList<const TSmtpField*> set;
    const TSmtpSettings fromIni = applyIni(state.smtp, iniPath, set);
    TMailTables saved;
    saved.SmtpSettings = tables.SmtpSettings;
    for (const TSmtpField* f : set) {
        if (f->same(tables.SmtpSettings, fromIni)) {
            f->copy(saved.SmtpSettings, state.smtp);
        }
        outcome.overridden << QString::fromLatin1(f->key);
    }
    QByteArray bytes = TaskFileBytes(tables);
    bytes.replace(sizeof(TaskFileVersion),
        sizeof(TSmtpSettings),
        QByteArray(reinterpret_cast<const char*>(&saved.SmtpSettings), sizeof(TSmtpSettings)));
    bytes += state.trailing;
    if (!writeLocked(state.path, bytes, outcome.error)) {
        return outcome;
    }
    state.present = true;
    state.digest = digestOf(bytes);
    state.smtp = saved.SmtpSettings;
    outcome.result = TTaskFileSave::Saved;
    return outcome;
}
