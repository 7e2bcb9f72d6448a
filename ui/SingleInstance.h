// SPDX-License-Identifier: MIT
#pragma once

// Only one station runs per user. The first start listens on a per-user Unix socket in the abstract namespace
// (the kernel frees the name when the process dies, so a crash never blocks the next start); a later start
// connects, asks the first to bring its window to the front and ends. Plain sockets rather than Qt Network:
// that module would load a dozen more libraries (Kerberos, proxy support) at every start.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <map>
#include <memory>

class QSocketNotifier;

class TSingleInstance : public QObject
{
    Q_OBJECT

public:
    explicit TSingleInstance(QObject* parent = nullptr);
    ~TSingleInstance() override;
    TSingleInstance(const TSingleInstance&) = delete;
    TSingleInstance& operator=(const TSingleInstance&) = delete;

    // The socket name for a section name: the section, a dash and the user id.
    static QString serverName(const QString& sectionName);

    // True in the first instance (which from now on answers later starts); false when another instance runs
    // and has been asked to restore its window, or when neither listening nor connecting worked.
    bool CheckSingleInstance(const QString& sectionName, int timeoutMs = 2000);

    // Asks a running instance to restore its window; true when one accepted the connection.
    static bool askRunningInstance(const QString& name, int timeoutMs = 2000);

    bool isListening() const { return m_listenFd >= 0; }
    // True after a check in which neither listening nor reaching a running instance worked: no station runs.
    bool failed() const { return m_failed; }

signals:
    // A later start asked for the window.
    void restoreRequested();

private:
    // A connected later start, keyed by its descriptor in m_clients.
    struct TClient
    {
        std::unique_ptr<QSocketNotifier> notifier;
        QByteArray received;
    };

    bool listen(const QString& name);
    void acceptConnections();
    void readFromClient(int fd);
    void dropClient(int fd);

    int m_listenFd = -1;
    bool m_failed = false;
    std::unique_ptr<QSocketNotifier> m_listenNotifier;
    std::map<int, TClient> m_clients;
};
