#pragma once

// Only one station runs per user. The first start listens on a per-user local socket in the abstract namespace
// (the kernel frees the name when the process dies, so a crash never blocks the next start); a later start
// connects, asks the first to bring its window to the front and ends.

#include <QObject>
#include <QString>

class QLocalServer;

class TSingleInstance : public QObject
{
    Q_OBJECT

public:
    explicit TSingleInstance(QObject* parent = nullptr);
    ~TSingleInstance() override;

    // The socket name for a section name: the section, a dash and the user id.
    static QString serverName(const QString& sectionName);

    // True in the first instance (which from now on answers later starts); false when another instance runs
    // and has been asked to restore its window, or when neither listening nor connecting worked.
    bool CheckSingleInstance(const QString& sectionName, int timeoutMs = 2000);

    // Asks a running instance to restore its window; true when one answered.
    static bool askRunningInstance(const QString& name, int timeoutMs = 2000);

    bool isListening() const;

signals:
    // A later start asked for the window.
    void restoreRequested();

private:
    void acceptConnections();

    QLocalServer* m_server = nullptr;
};
