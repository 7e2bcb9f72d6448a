// SPDX-License-Identifier: MIT
#pragma once

// Writing the task file (qorsmail.cfg) and knowing whether it changed since it was read. The file holds the SMTP
// password: a new file is made 0600, a replaced one keeps the mode its administrator gave it, whatever the umask;
// the file it replaces stays beside it as "<name>.bak". Writers take an exclusive lock on "<name>.lock" so two of
// them never interleave; readers lock the task file itself and see the old file or the new one, never a part.

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

// Writes bytes as the task file target under the write lock, with the mode rule and the backup above. False
// with a message naming the path otherwise; the target is then left as it was.
bool WriteTaskFile(const QString& target, const QByteArray& bytes, QString& error);

// WriteTaskFile, done only when the file on disk still holds `expected` (a file was there when expectPresent);
// checked under the write lock. False with changed set when it does not, nothing written.
bool WriteFileIfUnchanged(const QString& target,
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
};

struct TTaskFileSaveOutcome
{
    TTaskFileSave result = TTaskFileSave::Failed;
    QString error;
    // Keys of the settings file that replace saved SMTP values at every start.
    QStringList overridden;
};

// Writes the tables in memory as the task file state.path (the bytes qorsmail-cfg build writes for them), when
// the file on disk is still the one state records; state then describes the new file. A value the settings
// file iniPath replaces at start-up is written as the task file had it unless it was changed since, so a save
// never copies the settings file into the task file; outcome.overridden names every such key.
TTaskFileSaveOutcome SaveTaskFile(const TMailTables& tables, TTaskFileState& state, const QString& iniPath);
