// SPDX-License-Identifier: MIT
#pragma once

// Shows what each task is doing: the selected task's 状态： line, every task node's tool tip, and the summary
// line of the status bar and the tray icon. It reads the engine's status view and keeps no state of its own; it
// refreshes on every change of a mark and once a second, since the passing of time alone changes the texts of
// waiting and retried tasks.

#include "TaskKind.h"

#include <QObject>
#include <QString>
#include <QTimer>

class QLineEdit;
class QTreeWidgetItem;
class TQorsmailMain;

class TTaskStatusDisplay : public QObject
{
    Q_OBJECT

public:
    struct Targets
    {
        QTreeWidgetItem* eventRoot = nullptr;
        QTreeWidgetItem* reportRoot = nullptr;
        QLineEdit* eventStatus = nullptr;
        QLineEdit* reportStatus = nullptr;
    };

    TTaskStatusDisplay(TQorsmailMain& engine, const Targets& targets, QObject* parent = nullptr);

    // The node whose status the panel line shows (a task node, or anything else for none).
    void setCurrentNode(QTreeWidgetItem* node);
    // Recomputes every text now.
    void refresh();

    QString summaryText() const { return m_summary; }

signals:
    // The summary of all tasks changed (waiting, retried, the last failure).
    void summaryChanged(const QString& summary);

private:
    QString nodeText(TTaskKind kind, int index) const;
    // The panel line of the selected task.
    void showCurrent();

    TQorsmailMain& m_engine;
    Targets m_targets;
    QTreeWidgetItem* m_current = nullptr;
    QString m_summary;
    QTimer m_ticker;
};
