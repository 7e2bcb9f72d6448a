// SPDX-License-Identifier: MIT
#include "TaskFileStore.h"

#include "AtomicFile.h"
#include "NormalFunction.h"
#include "QorsmailFunc.h"
#include "SmtpIni.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHashFunctions>
#include <algorithm>
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

// Tells whether the file changed since it was read, within this run only. The people who could change it can
// write it anyway, so no forged collision is to be feared, only an accidental one: two seeded 64-bit hashes
// (hardware-assisted, about 1 ms each for an 18 MB file, where SHA-256 took 150 ms of the start-up) and the size.
// The bytes are taken in blocks of a fixed size, so the digest is the same however the file arrives: whole in
// memory, or piece by piece as the task-file reader puts it into the tables. The blocks are small, so a piece
// that does not start on a block's edge costs a copy of its two ends only, and the second hash reads each block
// from the nearest cache.
class TFileDigest
{
public:
    void add(const char* bytes, int64_t size)
    {
        if (size <= 0) {
            return;
        }
        m_size += size;
        if (m_partialSize > 0) {
            const int64_t take = std::min<int64_t>(size, Block - m_partialSize);
            std::memcpy(m_partial + m_partialSize, bytes, static_cast<size_t>(take));
            m_partialSize += take;
            bytes += take;
            size -= take;
            if (m_partialSize < Block) {
                return;
            }
            addBlock(m_partial, Block);
            m_partialSize = 0;
        }
        for (; size >= Block; bytes += Block, size -= Block) {
            addBlock(bytes, Block);
        }
        std::memcpy(m_partial, bytes, static_cast<size_t>(size));
        m_partialSize = size;
    }

    QByteArray result()
    {
        if (m_partialSize > 0) {
            addBlock(m_partial, m_partialSize);
            m_partialSize = 0;
        }
        const quint64 parts[3] = {quint64(m_size), quint64(m_first), quint64(m_second)};
        return QByteArray(reinterpret_cast<const char*>(parts), sizeof(parts));
    }

private:
    static constexpr int64_t Block = 4096;

    void addBlock(const char* bytes, int64_t size)
    {
        m_first = qHashBits(bytes, size_t(size), m_first ^ 0x9e3779b97f4a7c15ULL);
        m_second = qHashBits(bytes, size_t(size), m_second ^ 0xc2b2ae3d27d4eb4fULL);
    }

    int64_t m_size = 0;
    size_t m_first = 0;
    size_t m_second = 0;
    char m_partial[Block];
    int64_t m_partialSize = 0;
};

QByteArray digestOf(const QByteArray& bytes)
{
    TFileDigest digest;
    digest.add(bytes.constData(), bytes.size());
    return digest.result();
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
        // The lock file holds nothing; only its lock matters, and a lock needs no write access.
        m_fd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (m_fd < 0 && errno == EACCES) {
            m_fd = ::open(lockPath.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        }
        if (m_fd < 0) {
            error = QStringLiteral("%1: %2").arg(QFile::decodeName(lockPath), systemError());
            return false;
        }
        // Like the file, a lock file of this writer's belongs to the task file's owner and group: one made by
        // root (sudo qorsmail-cfg build) must not shut the file's owner out of every later save. Where the
        // owner cannot be given, the lock stays as it is.
        struct stat lock
        {
        };
        struct stat file
        {
        };
        if (::fstat(m_fd, &lock) == 0 && lock.st_uid == ::geteuid()
            && ::stat(QFile::encodeName(target).constData(), &file) == 0
            && (lock.st_uid != file.st_uid || lock.st_gid != file.st_gid)) {
            if (::fchown(m_fd, file.st_uid, file.st_gid) != 0) {
                // Not this writer's to give: the lock works as it is.
            }
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

// The file's device, inode, size and times.
QByteArray identityOf(const struct stat& st)
{
    const int64_t parts[] = {int64_t(st.st_dev),
        int64_t(st.st_ino),
        int64_t(st.st_size),
        int64_t(st.st_mtim.tv_sec),
        int64_t(st.st_mtim.tv_nsec),
        int64_t(st.st_ctim.tv_sec),
        int64_t(st.st_ctim.tv_nsec)};
    return QByteArray(reinterpret_cast<const char*>(parts), sizeof(parts));
}

// A second name for the file at target that no later save takes, made before the file is replaced; the name
// stays with the old file. link() never replaces what is there already, so an earlier copy is never lost.
bool keepAside(const QString& target, QString& copy, QString& error)
{
    const QString stem =
        target + QStringLiteral(".damaged-") + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QByteArray from = QFile::encodeName(target);
    for (int n = 1; n <= 100; ++n) {
        const QString name = n == 1 ? stem : stem + QStringLiteral("-%1").arg(n);
        if (::link(from.constData(), QFile::encodeName(name).constData()) == 0) {
            copy = name;
            return true;
        }
        if (errno != EEXIST) {
            error = QStringLiteral("%1 could not be kept as %2 (%3), so nothing was written")
                        .arg(target, name, systemError());
            return false;
        }
    }
    error = QStringLiteral("%1: no free name to keep it under, so nothing was written").arg(target);
    return false;
}

// With the write lock held, target resolved: the old file kept (copied to the backup, or, when it is damaged,
// kept under a name of its own), then the new bytes written with its mode, owner and group (a new file 0600,
// the writer's own).
TAtomicWriteResult writeLocked(
    const QString& target, const QByteArray& bytes, bool keepDamaged, QString& error, QString* damagedCopy = nullptr)
{
    struct stat st
    {
    };
    TFileAttributes attributes;
    attributes.mode = NewTaskFileMode;
    if (::stat(QFile::encodeName(target).constData(), &st) == 0) {
        // A FIFO or a device in the file's place gives no mode for a file that holds a password.
        if (S_ISREG(st.st_mode)) {
            attributes.mode = st.st_mode & 07777;
        }
        attributes.owner = st.st_uid;
        attributes.group = st.st_gid;
        // Checked before anything is written: the backup must not go to another owner either.
        if (!MayGiveOwner(target, st.st_uid, st.st_gid, error)) {
            return TAtomicWriteResult::Failed;
        }
        if (keepDamaged) {
            if (!keepAside(target, *damagedCopy, error)) {
                return TAtomicWriteResult::Failed;
            }
        } else {
            QByteArray old;
            if (!ReadFileShared(target, old, error)
                || WriteFileAtomically(TaskFileBackupPath(target), old, attributes, error)
                    != TAtomicWriteResult::Written) {
                return TAtomicWriteResult::Failed;
            }
        }
    } else if (errno != ENOENT) {
        error = QStringLiteral("%1: %2").arg(target, systemError());
        return TAtomicWriteResult::Failed;
    }
    const TAtomicWriteResult result = WriteFileAtomically(target, bytes, attributes, error);
    if (result == TAtomicWriteResult::Failed && keepDamaged && !damagedCopy->isEmpty()) {
        // The file was not replaced: the second name would only be a stray copy of it.
        ::unlink(QFile::encodeName(*damagedCopy).constData());
        damagedCopy->clear();
    }
    return result;
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

// The keys the settings file sets: applied over two records that differ in every field, a field it sets comes
// out the same in both, whatever its rules for that key.
QStringList settingsFileKeys(const QString& iniPath)
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
    QStringList keys;
    for (const TSmtpField& f : SmtpFields) {
        if (f.same(a.SmtpSettings, b.SmtpSettings)) {
            keys << QString::fromLatin1(f.key);
        }
    }
    return keys;
}

// Whether the file at the path is still the one state describes: false with error empty when it is not, false
// with a message when that cannot be told.
bool unchangedSinceRead(const TTaskFileState& state, QString& error)
{
    struct stat st
    {
    };
    const bool present = ::stat(QFile::encodeName(state.path).constData(), &st) == 0;
    if (!present && errno != ENOENT) {
        error = QStringLiteral("%1: %2").arg(state.path, systemError());
        return false;
    }
    if (present != state.present) {
        return false;
    }
    if (!present) {
        return true;
    }
    if (state.digest.isEmpty()) {
        // Its bytes could not be read at start-up: the same file is the same inode, untouched since.
        return !state.identity.isEmpty() && identityOf(st) == state.identity;
    }
    QByteArray current;
    return ReadFileShared(state.path, current, error) && digestOf(current) == state.digest;
}

// The bytes from the handle's position to the end of the file.
bool readRest(int32_t handle, QByteArray& bytes, const QString& path, QString& error)
{
    char buffer[1 << 16];
    for (;;) {
        const int64_t got = LReadFile(handle, buffer, sizeof(buffer));
        if (got < 0) {
            error = QStringLiteral("%1: read error").arg(path);
            return false;
        }
        bytes.append(buffer, static_cast<qsizetype>(got));
        if (got < static_cast<int64_t>(sizeof(buffer))) {
            return true;
        }
    }
}

} // namespace

bool ReadFileShared(const QString& path, QByteArray& bytes, QString& error)
{
    QString why;
    int32_t handle = OpenRegularFileShared(path, &why);
    if (handle <= 0) {
        error = QStringLiteral("%1 %2").arg(path, why);
        return false;
    }
    // Read straight into one buffer of the file's size: a task file of 2000 tasks is 17 MB, and growing the
    // buffer chunk by chunk would copy it over and over. One byte more tells the end without a second read.
    qsizetype room = std::max<qsizetype>(LSeekFile(handle, 0, 2), 0) + 1;
    LSeekFile(handle, 0, 0);
    bytes.clear();
    qsizetype have = 0;
    for (;;) {
        bytes.resize(have + room);
        const int64_t got = LReadFile(handle, bytes.data() + have, room);
        if (got < 0) {
            error = QStringLiteral("%1: read error").arg(path);
            LCloseFile(handle);
            bytes.clear();
            return false;
        }
        have += static_cast<qsizetype>(got);
        if (got < room) { // a short read is the end of the file
            break;
        }
        room = std::max<qsizetype>(have, 1 << 16); // the file grew since it was measured
    }
    bytes.resize(have);
    LCloseFile(handle);
    return true;
}

QString TaskFileBackupPath(const QString& target)
{
    return target + QStringLiteral(".bak");
}

bool WriteTaskFile(const QString& target, const QByteArray& bytes, QString& error)
{
    QString real;
    TWriteLock lock;
    return ResolveWriteTarget(target, real, error) && lock.take(real, error)
        && writeLocked(real, bytes, false, error) == TAtomicWriteResult::Written;
}

TAtomicWriteResult WriteFileIfUnchanged(const QString& target,
    bool expectPresent,
    const QByteArray& expected,
    const QByteArray& bytes,
    bool& changed,
    QString& error)
{
    changed = false;
    QString real;
    TWriteLock lock;
    if (!ResolveWriteTarget(target, real, error) || !lock.take(real, error)) {
        return TAtomicWriteResult::Failed;
    }
    QByteArray current;
    const bool present = QFileInfo::exists(real);
    if (present && !ReadFileShared(real, current, error)) {
        return TAtomicWriteResult::Failed;
    }
    if (present != expectPresent || current != expected) {
        changed = true;
        return TAtomicWriteResult::Failed;
    }
    return writeLocked(real, bytes, false, error);
}

namespace {

// The loading step's reading: what was found goes into state, the records into the tables.
void readTaskFile(TMailTables& tables, TTaskFileState& state)
{
    struct stat st
    {
    };
    // A link that leads nowhere counts as no file, as for every reader.
    if (::stat(QFile::encodeName(state.path).constData(), &st) != 0 && errno == ENOENT) {
        return;
    }
    state.present = true;
    state.identity = identityOf(st);
    // Read once, straight into the tables, and hashed where the reader put the bytes: no copy of the file
    // beside the tables (at 2000 tasks it is 17 MB, and fresh memory costs the start-up most of its time).
    QString why;
    int32_t handle = OpenRegularFileShared(state.path, &why);
    if (handle <= 0) {
        // No digest: the save knows the file by its identity alone.
        state.loadError = QStringLiteral("the file %1").arg(why);
        return;
    }
    TFileDigest digest;
    const bool loaded = LoadTaskFileFromHandle(
        tables, handle, &state.loadError, [&digest](const char* bytes, int64_t size) { digest.add(bytes, size); });
    if (loaded) {
        state.loadError.clear();
    }
    // What follows the tables (or all that the reader left when it refused the file) is read for the digest,
    // and kept to be written back by a save.
    QByteArray rest;
    QString readError;
    const bool restRead = readRest(handle, rest, state.path, readError);
    LCloseFile(handle);
    if (!restRead) {
        state.loadError = readError;
        return;
    }
    digest.add(rest.constData(), rest.size());
    state.digest = digest.result();
    if (loaded) {
        state.trailing = rest;
    }
}

} // namespace

TTaskFileState LoadTaskFileWithState(TMailTables& tables, QString* error)
{
    TTaskFileState state;
    state.path = tables.workDirPath() + QStringLiteral("CfgCache/") + tables.TaskFileName;
    readTaskFile(tables, state);
    state.smtp = state.inForce = tables.SmtpSettings;
    if (error) {
        *error = state.present ? state.loadError : QStringLiteral("there is no task file at %1").arg(state.path);
    }
    return state;
}

TTaskFileReadAhead::TTaskFileReadAhead(const TMailTables& seed)
    : m_seed(seed)
{
    m_result = std::async(std::launch::async, [seed = m_seed] {
        TResult result{seed, {}};
        SetTaskDefaults(result.tables);
        result.state = LoadTaskFileWithState(result.tables);
        return result;
    });
}

TTaskFileReadAhead::~TTaskFileReadAhead()
{
    if (m_result.valid()) {
        m_result.wait();
    }
}

bool TTaskFileReadAhead::takeInto(TMailTables& tables, TTaskFileState& state)
{
    if (!m_result.valid()) {
        return false;
    }
    TResult result = m_result.get();
    // These are what the loading step keeps of the tables it is given; everything else it sets itself.
    const bool asSeeded = std::memcmp(tables.WorkDir, m_seed.WorkDir, sizeof tables.WorkDir) == 0
        && tables.TaskFileName == m_seed.TaskFileName && tables.LogFileName == m_seed.LogFileName
        && tables.SmtpSettings.MaxSendTries == m_seed.SmtpSettings.MaxSendTries;
    if (!asSeeded) {
        return false;
    }
    tables = std::move(result.tables);
    state = std::move(result.state);
    return true;
}

TTaskFileSaveOutcome SaveTaskFile(const TMailTables& tables, TTaskFileState& state, const QString& iniPath)
{
    TTaskFileSaveOutcome outcome;
    // A first save makes CfgCache/ (the user asked for the file in it).
    QDir().mkpath(QFileInfo(state.path).absolutePath());
    QString target;
    TWriteLock lock;
    if (!ResolveWriteTarget(state.path, target, outcome.error) || !lock.take(target, outcome.error)) {
        return outcome;
    }
    if (!unchangedSinceRead(state, outcome.error)) {
        if (outcome.error.isEmpty()) {
            outcome.result = TTaskFileSave::ChangedOnDisk;
        }
        return outcome;
    }
    // A field still at the value in force since start-up was not changed in the window: the task file's own
    // value is written for it, whatever the settings file put over it then or holds now.
    TSmtpSettings saved = tables.SmtpSettings;
    for (const TSmtpField& f : SmtpFields) {
        if (f.same(tables.SmtpSettings, state.inForce)) {
            f.copy(saved, state.smtp);
        }
    }
    outcome.overridden = settingsFileKeys(iniPath);
    QByteArray bytes = TaskFileBytes(tables);
    bytes.replace(sizeof(TaskFileVersion),
        sizeof(TSmtpSettings),
        QByteArray(reinterpret_cast<const char*>(&saved), sizeof(TSmtpSettings)));
    bytes += state.trailing;
    const TAtomicWriteResult written = writeLocked(target, bytes, state.damaged(), outcome.error, &outcome.damagedCopy);
    if (written == TAtomicWriteResult::Failed) {
        return outcome;
    }
    // The file on disk is the new one from here on, also when its folder could not be flushed.
    state.present = true;
    state.digest = digestOf(bytes);
    state.smtp = saved;
    state.inForce = tables.SmtpSettings;
    state.loadError.clear();
    state.identity.clear();
    outcome.result = written == TAtomicWriteResult::Written ? TTaskFileSave::Saved : TTaskFileSave::NotFlushed;
    return outcome;
}
