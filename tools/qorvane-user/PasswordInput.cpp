// SPDX-License-Identifier: MIT
#include "PasswordInput.h"

#include "UserVerify.h"

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sodium.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

int TerminalFd = -1;
termios SavedTerminal{};

// Ctrl-C while echo is off would leave the user's terminal silent; put it back before dying.
extern "C" void restoreAndExit(int sig)
{
    if (TerminalFd >= 0) {
        ::tcsetattr(TerminalFd, TCSAFLUSH, &SavedTerminal);
        [[maybe_unused]] const ssize_t n = ::write(TerminalFd, "\n", 1);
    }
    ::_exit(128 + sig);
}

void wipe(std::string& text)
{
    if (!text.empty()) {
        sodium_memzero(text.data(), text.size());
    }
    text.clear();
}

// One line from fd, without its line end; false at end of input before any line end or on a read error.
bool readLine(int fd, std::string* line)
{
    line->clear();
    for (;;) {
        char c = 0;
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return !line->empty();
        }
        if (c == '\n') {
            if (!line->empty() && line->back() == '\r') {
                line->pop_back();
            }
            return true;
        }
        line->push_back(c);
        if (line->size() > 4096) {
            return false;
        }
    }
}

QString takeText(std::string& bytes)
{
    QString text = QString::fromLocal8Bit(bytes.data(), static_cast<qsizetype>(bytes.size()));
    wipe(bytes);
    return text;
}

std::optional<QString> askOnce(const QString& prompt)
{
    const QByteArray p = prompt.toLocal8Bit();
    [[maybe_unused]] ssize_t n = ::write(TerminalFd, p.constData(), static_cast<size_t>(p.size()));
    std::string line;
    const bool ok = readLine(TerminalFd, &line);
    n = ::write(TerminalFd, "\n", 1);
    if (!ok) {
        wipe(line);
        return std::nullopt;
    }
    return takeText(line);
}

} // namespace

std::optional<QString> ReadPasswordFromTerminal(const QString& prompt, bool confirm, QString* error)
{
    TerminalFd = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (TerminalFd < 0 || ::tcgetattr(TerminalFd, &SavedTerminal) != 0) {
        *error = QStringLiteral("no terminal to ask for the password on; use --password-stdin");
        if (TerminalFd >= 0) {
            ::close(TerminalFd);
        }
        TerminalFd = -1;
        return std::nullopt;
    }
    std::signal(SIGINT, restoreAndExit);
    std::signal(SIGTERM, restoreAndExit);
    std::signal(SIGHUP, restoreAndExit);
    termios silent = SavedTerminal;
    silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(TerminalFd, TCSAFLUSH, &silent);

    std::optional<QString> first = askOnce(prompt);
    std::optional<QString> second;
    if (first && confirm) {
        second = askOnce(QStringLiteral("Again: "));
    }
    ::tcsetattr(TerminalFd, TCSAFLUSH, &SavedTerminal);
    ::close(TerminalFd);
    TerminalFd = -1;
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGHUP, SIG_DFL);

    std::optional<QString> result;
    if (!first) {
        *error = QStringLiteral("no password entered");
    } else if (confirm && (!second || *second != *first)) {
        *error = QStringLiteral("the two passwords differ");
    } else {
        result = *first;
    }
    if (first) {
        UserStore::WipeString(*first);
    }
    if (second) {
        UserStore::WipeString(*second);
    }
    return result;
}

std::optional<QString> ReadPasswordFromStdin(QString* error)
{
    std::string line;
    if (!readLine(STDIN_FILENO, &line)) {
        wipe(line);
        *error = QStringLiteral("no password line on standard input");
        return std::nullopt;
    }
    return takeText(line);
}
