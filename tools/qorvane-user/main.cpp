// SPDX-License-Identifier: MIT
// qorvane-user: the one writer of the suite's user store.

#include "GbkCodec.h"
#include "PasswordInput.h"
#include "UserStore.h"
#include "UserVerify.h"

#include <QStringList>
#include <cstdio>
#include <optional>

namespace {

constexpr int ExitOk = 0;
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

const char Usage[] = "Usage: qorvane-user [--store FILE] [--password-stdin] COMMAND ...\n"
                     "\n"
                     "  add NAME [RIGHT...]     add a user, with right codes; asks for the password\n"
                     "  remove NAME             remove a user\n"
                     "  passwd NAME             set a user's password\n"
                     "  grant NAME RIGHT...     give a user right codes\n"
                     "  revoke NAME RIGHT...    take right codes from a user\n"
                     "  list                    every user with its right codes\n"
                     "\n"
                     "  --store FILE            the user store (default: CfgCache/Client/client_zqv.cfg.cah in\n"
                     "                          $QORVANE_WORKDIR, else in ~/.local/share/qorvane/)\n"
                     "  --password-stdin        read the password as the first line of standard input instead of\n"
                     "                          asking on the terminal (a password is never given as an argument)\n"
                     "  -h, --help              show this text\n"
                     "\n"
                     "A name takes at most 20 bytes in GBK; a right code is a non-zero 32-bit number; a user holds\n"
                     "at most 100 rights. The mail dispatch station uses right 12 (may quit it) and 1025 (may stop\n"
                     "its sending).\n"
                     "\n"
                     "Exit status:\n"
                     "  0  done\n"
                     "  1  refused: the reason is on standard error, and nothing was changed\n"
                     "  2  wrong usage\n";

void printError(const QString& text)
{
    std::fprintf(stderr, "qorvane-user: %s\n", text.toLocal8Bit().constData());
}

struct TOptions
{
    QString StorePath;
    bool PasswordStdin = false;
    QString Command;
    QStringList Args;
};

std::optional<TOptions> parseOptions(const QStringList& argv)
{
    TOptions options;
    bool positionalOnly = false;
    QStringList positional;
    for (qsizetype i = 1; i < argv.size(); ++i) {
        const QString& arg = argv[i];
        if (positionalOnly || !arg.startsWith(u'-') || arg == u'-') {
            positional.append(arg);
        } else if (arg == QStringLiteral("--")) {
            positionalOnly = true;
        } else if (arg == QStringLiteral("--password-stdin")) {
            options.PasswordStdin = true;
        } else if (arg == QStringLiteral("--store")) {
            if (i + 1 == argv.size() || argv[i + 1].isEmpty()) {
                printError(QStringLiteral("--store needs a file name"));
                return std::nullopt;
            }
            options.StorePath = argv[++i];
        } else if (arg.startsWith(QStringLiteral("--store="))) {
            options.StorePath = arg.mid(8);
        } else if (arg == QStringLiteral("-h") || arg == QStringLiteral("--help")) {
            std::fputs(Usage, stdout);
            std::exit(ExitOk);
        } else if (arg.size() > 1 && arg[1].isDigit()) {
            positional.append(arg); // a negative right code
        } else {
            printError(QStringLiteral("unknown option %1").arg(arg));
            return std::nullopt;
        }
    }
    if (positional.isEmpty()) {
        printError(QStringLiteral("no command given"));
        return std::nullopt;
    }
    options.Command = positional.takeFirst();
    options.Args = positional;
    if (options.StorePath.isEmpty()) {
        const QString workDir = UserStore::SuiteWorkDir();
        if (workDir.isEmpty()) {
            printError(QStringLiteral("neither QORVANE_WORKDIR nor HOME is set; give --store"));
            return std::nullopt;
        }
        options.StorePath = UserStore::StorePathIn(workDir);
    }
    return options;
}

// Right codes from the arguments, in order, duplicates dropped; nullopt after naming a bad one.
std::optional<QList<int32_t>> parseRights(const QStringList& args)
{
    QList<int32_t> codes;
    for (const QString& arg : args) {
        bool ok = false;
        const qlonglong value = arg.toLongLong(&ok);
        const QString bad = ok && arg.trimmed() == arg ? UserStore::CheckRight(value) : QStringLiteral("not a number");
        if (!bad.isEmpty()) {
            printError(QStringLiteral("bad right code \"%1\": %2").arg(arg, bad));
            return std::nullopt;
        }
        if (!codes.contains(int32_t(value))) {
            codes.append(static_cast<int32_t>(value));
        }
    }
    return codes;
}

// The password of a new or changed entry, as the hash to store; nullopt after an error message.
std::optional<QByteArray> askNewPasswordHash(const TOptions& options, const QString& name)
{
    QString error;
    std::optional<QString> password = options.PasswordStdin
        ? ReadPasswordFromStdin(&error)
        : ReadPasswordFromTerminal(QStringLiteral("Password for %1: ").arg(name), true, &error);
    if (!password) {
        printError(error);
        return std::nullopt;
    }
    QByteArray bytes = Gbk::encode(*password);
    UserStore::WipeString(*password);
    std::optional<QByteArray> hash;
    if (bytes.isEmpty()) {
        printError(QStringLiteral("the password is empty"));
    } else if (bytes.size() > UserStore::MaxPasswordBytes) {
        printError(QStringLiteral("the password takes more than %1 bytes in GBK").arg(UserStore::MaxPasswordBytes));
    } else if (hash = UserStore::HashPassword(bytes); !hash) {
        printError(QStringLiteral("the password cannot be hashed (out of memory?)"));
    }
    UserStore::WipeBytes(bytes);
    return hash;
}

// Loads the store for a change: a missing store is an empty one only when allowMissing is set.
std::optional<UserStore::TUserTable> loadForChange(const QString& path, bool allowMissing)
{
    UserStore::TLoadResult loaded = UserStore::Load(path);
    if (loaded.Status == UserStore::LoadStatus::Ok
        || (loaded.Status == UserStore::LoadStatus::Missing && allowMissing)) {
        return loaded.Table;
    }
    printError(UserStore::LoadFailureText(path, loaded));
    return std::nullopt;
}

int runList(const TOptions& options)
{
    if (!options.Args.isEmpty()) {
        printError(QStringLiteral("list takes no arguments"));
        return ExitUsage;
    }
    std::optional<UserStore::TUserTable> table = loadForChange(options.StorePath, false);
    if (!table) {
        return ExitFailed;
    }
    for (const UserStore::TUserEntry& user : table->Users) {
        QStringList codes;
        for (int32_t code : user.Rights) {
            codes.append(QString::number(code));
        }
        std::printf("%s\t%s\n", user.Name.toLocal8Bit().constData(), codes.join(u',').toLocal8Bit().constData());
    }
    return ExitOk;
}

int runChange(const TOptions& options)
{
    const QString& command = options.Command;
    const bool takesRights =
        command == QStringLiteral("add") || command == QStringLiteral("grant") || command == QStringLiteral("revoke");
    if (options.Args.isEmpty() || (!takesRights && options.Args.size() != 1)
        || (command != QStringLiteral("add") && takesRights && options.Args.size() < 2)) {
        printError(QStringLiteral("wrong arguments for %1").arg(command));
        std::fputs(Usage, stderr);
        return ExitUsage;
    }
    const QString name = options.Args.first();
    if (const QString bad = UserStore::CheckName(name); !bad.isEmpty()) {
        printError(QStringLiteral("cannot use \"%1\": %2").arg(name, bad));
        return ExitFailed;
    }
    const std::optional<QList<int32_t>> codes = parseRights(options.Args.mid(1));
    if (!codes) {
        return ExitUsage;
    }
    const bool adding = command == QStringLiteral("add");
    const bool needsPassword = adding || command == QStringLiteral("passwd");

    // Check before asking for a password, then again under the lock: another writer may have come between.
    std::optional<UserStore::TUserTable> before = loadForChange(options.StorePath, adding);
    if (!before) {
        return ExitFailed;
    }
    if ((before->indexOf(name) >= 0) == adding) {
        printError(adding ? QStringLiteral("user \"%1\" exists already").arg(name)
                          : QStringLiteral("no user \"%1\"").arg(name));
        return ExitFailed;
    }
    std::optional<QByteArray> hash;
    if (needsPassword && !(hash = askNewPasswordHash(options, name))) {
        return ExitFailed;
    }

    if (adding) {
        const UserStore::TAddResult added = UserStore::AddUser(options.StorePath, {name, *hash, *codes}, false);
        if (added.Status != UserStore::AddStatus::Added) {
            printError(added.Error);
            return ExitFailed;
        }
        return ExitOk;
    }
    UserStore::TWriteLock lock(options.StorePath);
    if (!lock.isLocked()) {
        printError(lock.error());
        return ExitFailed;
    }
    std::optional<UserStore::TUserTable> table = loadForChange(options.StorePath, false);
    if (!table) {
        return ExitFailed;
    }
    const int index = table->indexOf(name);
    if (index < 0) {
        printError(QStringLiteral("no user \"%1\"").arg(name));
        return ExitFailed;
    }
    if (command == QStringLiteral("remove")) {
        table->Users.removeAt(index);
    } else if (command == QStringLiteral("passwd")) {
        table->Users[index].Hash = *hash;
    } else if (command == QStringLiteral("grant")) {
        QList<int32_t>& rights = table->Users[index].Rights;
        for (int32_t code : *codes) {
            if (!rights.contains(code)) {
                rights.append(code);
            }
        }
        if (rights.size() > UserStore::MaxRights) {
            printError(QStringLiteral("a user holds at most %1 rights").arg(UserStore::MaxRights));
            return ExitFailed;
        }
    } else {
        QList<int32_t>& rights = table->Users[index].Rights;
        for (int32_t code : *codes) {
            if (!rights.removeOne(code)) {
                printError(QStringLiteral("note: \"%1\" did not hold right %2").arg(name).arg(code));
            }
        }
    }
    if (const QString error = UserStore::SaveAtomic(options.StorePath, *table); !error.isEmpty()) {
        printError(error);
        return ExitFailed;
    }
    return ExitOk;
}

} // namespace

int main(int argc, char** argv)
{
    QStringList args;
    for (int i = 0; i < argc; ++i) {
        args.append(QString::fromLocal8Bit(argv[i]));
    }
    const std::optional<TOptions> options = parseOptions(args);
    if (!options) {
        std::fputs(Usage, stderr);
        return ExitUsage;
    }
    if (options->Command == QStringLiteral("list")) {
        return runList(*options);
    }
    static const QStringList changes = {QStringLiteral("add"),
        QStringLiteral("remove"),
        QStringLiteral("passwd"),
        QStringLiteral("grant"),
        QStringLiteral("revoke")};
    if (!changes.contains(options->Command)) {
        printError(QStringLiteral("unknown command %1").arg(options->Command));
        std::fputs(Usage, stderr);
        return ExitUsage;
    }
    return runChange(*options);
}
