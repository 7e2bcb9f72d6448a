// SPDX-License-Identifier: MIT
#include "UserStore.h"

#include "GbkCodec.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QStringDecoder>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace UserStore {

namespace {

const QByteArray HeaderLine = "QORVANE-USERSTORE " + QByteArray::number(FormatVersion);
const QByteArray HeaderPrefix = "QORVANE-USERSTORE ";

QString errnoText(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

bool isDecimalInt(const QByteArray& text)
{
    int i = text.startsWith('-') ? 1 : 0;
    if (text.size() == i || text.size() - i > 10) {
        return false;
    }
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
    }
    return true;
}

bool isHashText(const QByteArray& hash)
{
    if (!(hash.startsWith("$argon2id$") || hash.startsWith("$argon2i$")) || hash.size() >= 128) {
        return false;
    }
    for (char c : hash) {
        if (c <= ' ' || c > '~') {
            return false;
        }
    }
    return true;
}

// Creates every missing folder of dir with mode 0700: the store's folder holds password hashes.
bool makeFolders(const QString& dir, QString* error)
{
    const QByteArray path = QFile::encodeName(QDir::cleanPath(dir));
    for (qsizetype pos = 1; pos <= path.size(); ++pos) {
        if (pos != path.size() && path[pos] != '/') {
            continue;
        }
        const QByteArray part = path.left(pos);
        if (::mkdir(part.constData(), 0700) != 0 && errno != EEXIST) {
            *error = QStringLiteral("cannot create folder %1: %2").arg(QFile::decodeName(part), errnoText(errno));
            return false;
        }
    }
    return true;
}

bool writeAll(int fd, const QByteArray& data)
{
    const char* p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

} // namespace

int TUserTable::indexOf(const QString& name) const
{
    for (int i = 0; i < Users.size(); ++i) {
        if (Users[i].Name == name) {
            return i;
        }
    }
    return -1;
}

QString SuiteWorkDir()
{
    QString dir = qEnvironmentVariable("QORVANE_WORKDIR");
    if (dir.isEmpty()) {
        const QString home = qEnvironmentVariable("HOME");
        if (home.isEmpty()) {
            return {};
        }
        dir = home + QStringLiteral("/.local/share/qorvane/");
    }
    if (!dir.endsWith(u'/')) {
        dir += u'/';
    }
    return dir;
}

QString StorePathIn(const QString& workDir)
{
    return workDir + QStringLiteral("CfgCache/Client/client_zqv.cfg.cah");
}

QString CheckName(const QString& name)
{
    if (name.isEmpty()) {
        return QStringLiteral("the user name is empty");
    }
    if (name.front().isSpace() || name.back().isSpace()) {
        return QStringLiteral("the user name begins or ends with a blank");
    }
    for (QChar c : name) {
        if (c.category() == QChar::Other_Control || c == QChar::ReplacementCharacter || c.isSurrogate()) {
            return QStringLiteral("the user name holds a control or undecodable character");
        }
    }
    const qsizetype bytes = Gbk::encode(name).size();
    if (bytes > MaxNameBytes) {
        return QStringLiteral("the user name takes %1 bytes in GBK; at most %2 fit").arg(bytes).arg(MaxNameBytes);
    }
    return {};
}

QString CheckRight(int64_t code)
{
    if (code < INT32_MIN || code > INT32_MAX) {
        return QStringLiteral("right code %1 is not a 32-bit number").arg(code);
    }
    if (code == 0) {
        // Callers stop searching a rights list at its first 0, so a 0 would hide every right after it.
        return QStringLiteral("right code 0 cannot be granted");
    }
    return {};
}

std::optional<TUserTable> Parse(const QByteArray& text, QString* error)
{
    QString dummy;
    QString& why = error ? *error : dummy;
    if (text.size() > MaxFileBytes) {
        why = QStringLiteral("the file is larger than %1 bytes").arg(MaxFileBytes);
        return std::nullopt;
    }
    if (!text.endsWith('\n')) {
        why = QStringLiteral("the file does not end with a line end (cut short?)");
        return std::nullopt;
    }
    if (text.contains('\r') || text.contains('\0')) {
        why = QStringLiteral("the file holds CR or NUL bytes");
        return std::nullopt;
    }
    const QList<QByteArray> lines = text.left(text.size() - 1).split('\n');
    if (lines.first() != HeaderLine) {
        why = lines.first().startsWith(HeaderPrefix)
            ? QStringLiteral("unsupported format version %1").arg(QString::fromLatin1(lines.first().mid(18)))
            : QStringLiteral("the first line is not the user store header");
        return std::nullopt;
    }

    TUserTable table;
    for (qsizetype n = 1; n < lines.size(); ++n) {
        const QByteArray& line = lines[n];
        const QString where = QStringLiteral("line %1: ").arg(n + 1);
        if (line.isEmpty() || line.startsWith('#')) {
            continue;
        }
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() != 4 || fields[0] != "user") {
            why = where + QStringLiteral("not a user line");
            return std::nullopt;
        }
        TUserEntry entry;
        QStringDecoder utf8(QStringDecoder::Utf8);
        entry.Name = utf8(fields[1]);
        if (utf8.hasError()) {
            why = where + QStringLiteral("the user name is not UTF-8");
            return std::nullopt;
        }
        if (const QString bad = CheckName(entry.Name); !bad.isEmpty()) {
            why = where + bad;
            return std::nullopt;
        }
        if (table.indexOf(entry.Name) >= 0) {
            why = where + QStringLiteral("the user name occurs twice");
            return std::nullopt;
        }
        if (!isHashText(fields[2])) {
            why = where + QStringLiteral("the password hash is not an Argon2 hash string");
            return std::nullopt;
        }
        entry.Hash = fields[2];
        if (!fields[3].isEmpty()) {
            const QList<QByteArray> codes = fields[3].split(',');
            if (codes.size() > MaxRights) {
                why = where + QStringLiteral("more than %1 rights").arg(MaxRights);
                return std::nullopt;
            }
            for (const QByteArray& code : codes) {
                const int64_t value = isDecimalInt(code) ? code.toLongLong() : 0;
                if (!isDecimalInt(code) || !CheckRight(value).isEmpty() || entry.Rights.contains(int32_t(value))) {
                    why = where + QStringLiteral("bad or repeated right code \"%1\"").arg(QString::fromLatin1(code));
                    return std::nullopt;
                }
                entry.Rights.append(static_cast<int32_t>(value));
            }
        }
        if (table.Users.size() == MaxUsers) {
            why = where + QStringLiteral("more than %1 users").arg(MaxUsers);
            return std::nullopt;
        }
        table.Users.append(std::move(entry));
    }
    return table;
}

QByteArray Serialize(const TUserTable& table)
{
    QByteArray out = HeaderLine + '\n';
    out += "# QORVANE user store. Written by qorvane-user; do not edit.\n";
    for (const TUserEntry& user : table.Users) {
        QByteArrayList codes;
        for (int32_t code : user.Rights) {
            codes.append(QByteArray::number(code));
        }
        out += "user\t" + user.Name.toUtf8() + '\t' + user.Hash + '\t' + codes.join(',') + '\n';
    }
    return out;
}

TLoadResult Load(const QString& path)
{
    TLoadResult result;
    // O_NONBLOCK: a FIFO in the store's place must not hang the caller; it is refused below as no regular file.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        result.Status = errno == ENOENT ? LoadStatus::Missing : LoadStatus::Unreadable;
        result.Error = errnoText(errno);
        return result;
    }
    struct stat st
    {
    };
    QByteArray text;
    bool readOk = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (!readOk) {
        result.Error = QStringLiteral("not a regular file");
    }
    while (readOk) {
        char buffer[16384];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            result.Error = errnoText(errno);
            readOk = false;
        } else if (n == 0) {
            break;
        } else if (text.size() + n > MaxFileBytes) {
            // Parse names the reason; reading on would only waste memory.
            text.append(buffer, n);
            break;
        } else {
            text.append(buffer, n);
        }
    }
    ::close(fd);
    if (!readOk) {
        result.Status = LoadStatus::Unreadable;
        return result;
    }
    std::optional<TUserTable> table = Parse(text, &result.Error);
    if (!table) {
        result.Status = LoadStatus::Malformed;
        return result;
    }
    result.Status = LoadStatus::Ok;
    result.Table = std::move(*table);
    return result;
}

QString LoadFailureText(const QString& path, const TLoadResult& loaded)
{
    switch (loaded.Status) {
    case LoadStatus::Ok:
        return {};
    case LoadStatus::Missing:
        return QStringLiteral("the user store %1 does not exist (add a user first)").arg(path);
    case LoadStatus::Unreadable:
        return QStringLiteral("cannot read the user store %1: %2").arg(path, loaded.Error);
    case LoadStatus::Malformed:
        break;
    }
    return QStringLiteral("the user store %1 is damaged (%2); it is left as it is").arg(path, loaded.Error);
}

TWriteLock::TWriteLock(const QString& storePath)
{
    if (!makeFolders(QFileInfo(storePath).absolutePath(), &m_error)) {
        return;
    }
    const QByteArray lockPath = QFile::encodeName(storePath + QStringLiteral(".lock"));
    const int fd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        m_error = QStringLiteral("cannot open the lock file: %1").arg(errnoText(errno));
        return;
    }
    // Another qorvane-user holds the store only for a moment; wait up to ten seconds, then give up.
    for (int attempt = 0; attempt < 200; ++attempt) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            m_fd = fd;
            return;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            break;
        }
        ::usleep(50 * 1000);
    }
    m_error = QStringLiteral("the user store is locked by another writer");
    ::close(fd);
}

TWriteLock::~TWriteLock()
{
    if (m_fd >= 0) {
        ::close(m_fd); // drops the lock
    }
}

QString SaveAtomic(const QString& path, const TUserTable& table)
{
    const QString folder = QFileInfo(path).absolutePath();
    QString error;
    if (!makeFolders(folder, &error)) {
        return error;
    }
    QByteArray tempPath = QFile::encodeName(path + QStringLiteral(".XXXXXX"));
    const int fd = ::mkstemp(tempPath.data()); // mode 0600
    if (fd < 0) {
        return QStringLiteral("cannot create a temporary file: %1").arg(errnoText(errno));
    }
    const QByteArray text = Serialize(table);
    bool ok = ::fchmod(fd, 0600) == 0 && writeAll(fd, text) && ::fsync(fd) == 0;
    const int savedErrno = errno;
    ok = (::close(fd) == 0) && ok;
    if (!ok || ::rename(tempPath.constData(), QFile::encodeName(path).constData()) != 0) {
        const int err = ok ? errno : savedErrno;
        ::unlink(tempPath.constData());
        return QStringLiteral("cannot write the user store: %1").arg(errnoText(err));
    }
    // The rename itself must reach the disk too, or a crash could bring the old store back.
    const int dirFd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return {};
}

TAddResult AddUser(const QString& path, const TUserEntry& user, bool firstUserOnly)
{
    TAddResult result;
    if (const QString bad = CheckName(user.Name); !bad.isEmpty()) {
        result.Error = QStringLiteral("cannot use \"%1\": %2").arg(user.Name, bad);
        return result;
    }
    if (user.Rights.size() > MaxRights) {
        result.Error = QStringLiteral("a user holds at most %1 rights").arg(MaxRights);
        return result;
    }
    for (int32_t code : user.Rights) {
        if (const QString bad = CheckRight(code); !bad.isEmpty()) {
            result.Error = bad;
            return result;
        }
    }
    const TWriteLock lock(path);
    if (!lock.isLocked()) {
        result.Error = lock.error();
        return result;
    }
    TLoadResult loaded = Load(path);
    if (loaded.Status != LoadStatus::Missing && firstUserOnly) {
        result.Status = AddStatus::StoreExists;
        return result;
    }
    if (loaded.Status != LoadStatus::Ok && loaded.Status != LoadStatus::Missing) {
        result.Error = LoadFailureText(path, loaded);
        return result;
    }
    TUserTable& table = loaded.Table;
    if (table.indexOf(user.Name) >= 0) {
        result.Error = QStringLiteral("user \"%1\" exists already").arg(user.Name);
        return result;
    }
    if (table.Users.size() >= MaxUsers) {
        result.Error = QStringLiteral("the store holds at most %1 users").arg(MaxUsers);
        return result;
    }
    table.Users.append(user);
    result.Error = SaveAtomic(path, table);
    if (result.Error.isEmpty()) {
        result.Status = AddStatus::Added;
    }
    return result;
}

} // namespace UserStore
