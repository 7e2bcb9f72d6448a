// SPDX-License-Identifier: MIT
#pragma once

// The suite's user store: one text file, CfgCache/Client/client_zqv.cfg.cah in the working directory, holding
// per user a name, an Argon2id password hash and the user's right codes. Only qorvane-user writes it; the
// libraries only read it, and a store they cannot read or parse is "not ready", never repaired or replaced.
//
// File format, version 1 (UTF-8, every line ends with LF, no CR):
//   QORVANE-USERSTORE 1                      first line, always
//   # any comment                            ignored
//   user<TAB><name><TAB><hash><TAB><rights>  one line per user
// <name>: 1..20 bytes in GBK, no control characters, no leading or trailing blank; unique.
// <hash>: a libsodium crypto_pwhash_str string ("$argon2id$..."), under 128 bytes.
// <rights>: right codes as decimal int32, separated by ',', none equal to 0, no duplicates, at most 100;
//           the field may be empty.

#include <QByteArray>
#include <QList>
#include <QString>
#include <cstdint>
#include <optional>

namespace UserStore {

constexpr int MaxNameBytes = 20; // fits the suite's 21-byte name buffers with the NUL
constexpr int MaxPasswordBytes = 255; // fits the suite's 256-byte password buffers with the NUL
constexpr int MaxRights = 100;
constexpr int MaxUsers = 10000;
constexpr qint64 MaxFileBytes = 4 * 1024 * 1024;
constexpr int FormatVersion = 1;

struct TUserEntry
{
    QString Name;
    QByteArray Hash;
    QList<int32_t> Rights;
};

struct TUserTable
{
    QList<TUserEntry> Users;

    // Index of the user with exactly this name, -1 when there is none.
    int indexOf(const QString& name) const;
};

enum class LoadStatus
{
    Ok,
    Missing,
    Unreadable,
    Malformed
};

struct TLoadResult
{
    LoadStatus Status = LoadStatus::Missing;
    TUserTable Table;
    QString Error; // why the file is not usable, for tools and tests
};

// The suite's working directory: $QORVANE_WORKDIR, else $HOME/.local/share/qorvane/; always with a trailing '/'.
// Empty when neither is set.
QString SuiteWorkDir();
// The store file inside a working directory (which ends with '/').
QString StorePathIn(const QString& workDir);

// Empty when the name may be stored, else the reason it may not.
QString CheckName(const QString& name);
// Empty when the code may be granted, else the reason.
QString CheckRight(int64_t code);

// Parses the text of a store file; nullopt with the reason in *error when it is not well-formed.
std::optional<TUserTable> Parse(const QByteArray& text, QString* error);
QByteArray Serialize(const TUserTable& table);

// Reads and parses the store file. Never creates or changes anything.
TLoadResult Load(const QString& path);
// Why a store that did not load cannot be used, for the tools' messages ("the user store X is damaged (...)").
QString LoadFailureText(const QString& path, const TLoadResult& loaded);

// Holds the store's writer lock (an exclusive flock on "<store>.lock") for its lifetime, so that a whole
// read-modify-write by one qorvane-user excludes every other. Readers need no lock: the store is only ever
// replaced by rename, so they see the old or the new file, whole.
class TWriteLock
{
public:
    explicit TWriteLock(const QString& storePath);
    ~TWriteLock();
    TWriteLock(const TWriteLock&) = delete;
    TWriteLock& operator=(const TWriteLock&) = delete;

    bool isLocked() const { return m_fd >= 0; }
    const QString& error() const { return m_error; }

private:
    int m_fd = -1;
    QString m_error;
};

// Writes the table atomically: a temporary file beside the store (mode 0600), fsync, rename over the store,
// fsync of the folder. Creates the store's folder (mode 0700) when missing. Empty on success, else the reason;
// on failure the old store is left as it was.
QString SaveAtomic(const QString& path, const TUserTable& table);

enum class AddStatus
{
    Added,
    StoreExists, // only a first user was to be added, and a store exists
    Refused // the reason is in Error; nothing was written
};

struct TAddResult
{
    AddStatus Status = AddStatus::Refused;
    QString Error;
};

// Adds one user (name, hash and rights already made) under the writer lock, reading the store again under it:
// the one way both qorvane-user and the station's first-user dialog add a user. A missing store counts as an
// empty one, unless firstUserOnly is set: then any store, even one without users, refuses with StoreExists.
TAddResult AddUser(const QString& path, const TUserEntry& user, bool firstUserOnly);

} // namespace UserStore
