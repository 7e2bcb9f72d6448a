// SPDX-License-Identifier: MIT
#pragma once

// Writing the task file (qorsmail.cfg) and knowing whether it changed since it was read. The file holds the SMTP
// password: a new file is made 0600, a replaced one keeps the mode, owner and group its administrator gave it,
// whatever the umask and whoever writes it (a writer that may not give a file that owner and group is refused);
// the file it replaces stays beside it as "<name>.bak". A task file that is a symbolic link stays one: the write
// goes to the file it leads to, with the backup and the lock beside that file. Writers take an exclusive lock on
// "<name>.lock" so two of them never interleave; readers lock the task file itself and see the old file or the
// new one, never a part.

#include "AtomicFile.h"
#include "QorsmailDef.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <future>

// The whole file, read under a shared lock (a writer holding the file keeps the reader out). False with a
// message naming the path when it is missing or cannot be read.
bool ReadFileShared(const QString& path, QByteArray& bytes, QString& error);

// The backup a write keeps of the file it replaces.
QString TaskFileBackupPath(const QString& target);

// Writes bytes as the task file target under the write lock, with the rules and the backup above. False with a
// message naming the path otherwise; the target is then left as it was, unless the message says it was written
// but its folder could not be flushed.
bool WriteTaskFile(const QString& target, const QByteArray& bytes, QString& error);

// WriteTaskFile, done only when the file on disk still holds `expected` (a file was there when expectPresent);
// checked under the write lock. Failed with changed set when it does not, nothing written; NotFlushed when the
// file was replaced but its folder could not be flushed (error says so).
TAtomicWriteResult WriteFileIfUnchanged(const QString& target,
    bool expectPresent,
    const QByteArray& expected,
    const QByteArray& bytes,
    bool& changed,
    QString& error);

// What the station read from its task file, so a save can tell whether someone else changed the file since.
struct TTaskFileState
{
    QString path;
    bool present = false; // a file was there when it was read
    QByteArray digest; // of the bytes read; empty when no file was there
    QByteArray trailing; // bytes after the tables, written back unchanged by a save
    TSmtpSettings smtp = {}; // the file's own SMTP record, before the settings file is applied over it
    // The SMTP record in force once the settings file was applied at start-up (the record saved, after a
    // save): a field that still holds this value was not changed in the window.
    TSmtpSettings inForce = {};
    // Why a file that is there did not load in whole ("the version field holds 1999, not 2000", "the file
    // cannot be read: Permission denied"); empty when it loaded, or when there was none.
    QString loadError;
    // Device, inode, size and times of the file found: what tells a file whose bytes could not be read (no
    // digest) from another one put in its place.
    QByteArray identity;

    // A file is there, but the tables do not hold it in whole: a save keeps it beside the new one.
    bool damaged() const { return present && !loadError.isEmpty(); }
};

// Reads WorkDir + "CfgCache/" + TaskFileName like LoadTaskFile and records what was read.
TTaskFileState LoadTaskFileWithState(TMailTables& tables, QString* error = nullptr);

// The start-up's loading step (defaults, then LoadTaskFileWithState) done ahead on a worker thread, while the
// window is being built: at 2000 tasks the file is 17 MB read into fresh memory, about as long as building the
// window, and the two overlap on a second core.
class TTaskFileReadAhead
{
public:
    // seed: the tables as the loading step will find them (WorkDir known, nothing loaded yet).
    explicit TTaskFileReadAhead(const TMailTables& seed);
    ~TTaskFileReadAhead(); // waits for the read
    TTaskFileReadAhead(const TTaskFileReadAhead&) = delete;
    TTaskFileReadAhead& operator=(const TTaskFileReadAhead&) = delete;

    // Waits for the read and moves its tables and state in, when tables are still as seeded (the same work
    // folder, file names and try limit); otherwise false, tables untouched: the caller loads the file itself.
    // A failure of the read (out of memory) is raised here, on the caller's thread. Once only.
    bool takeInto(TMailTables& tables, TTaskFileState& state);

private:
    struct TResult
    {
        TMailTables tables;
        TTaskFileState state;
    };
    TMailTables m_seed;
    std::future<TResult> m_result;
};

enum class TTaskFileSave
{
    Saved,
    ChangedOnDisk, // the file is not the one read (changed, made or removed since); nothing was written
    Failed, // error says why; the file is left as it was
    NotFlushed, // the new file is in place, but its folder could not be flushed (error says so); state follows it
};

struct TTaskFileSaveOutcome
{
    TTaskFileSave result = TTaskFileSave::Failed;
    QString error;
    // Where the file replaced was kept when it had not loaded: "<name>.damaged-<date>-<time>", a name no
    // later save takes.
    QString damagedCopy;
    // Keys of the settings file that replace saved SMTP values at every start.
    QStringList overridden;
};

// Writes the tables in memory as the task file state.path (the bytes qorsmail-cfg build writes for them), when
// the file on disk is still the one state records; state then describes the new file. An SMTP value that is
// still the one in force at start-up (state.inForce) is written as the task file had it, so a save never copies
// the settings file into the task file, whatever that file holds now; outcome.overridden names every key the
// settings file iniPath sets now. A damaged file (state.damaged()) is kept as outcome.damagedCopy instead of
// the backup.
TTaskFileSaveOutcome SaveTaskFile(const TMailTables& tables, TTaskFileState& state, const QString& iniPath);
