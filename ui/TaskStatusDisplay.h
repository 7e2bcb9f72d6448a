// SPDX-License-Identifier: MIT
#pragma once

// Shows what each task is doing: the selected task's 状态： line, every task node's tool tip, and the summary
// line of the status bar and the tray icon. It reads the engine's status view and keeps no state of its own.
// A tool tip is made when it is asked for (TTaskNode), so no change of a mark touches the other nodes. The line
// and the summary follow the changes of the marks, at most once per turn of the event loop however many marks
// one tick or pass changed, and once a second, since the passing of time alone changes the texts of waiting and
// retried tasks.

#include "QorsmailDef.h"
#include "TaskKind.h"

#include <QIcon>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QTreeWidgetItem>

class QLineEdit;
class TQorsmailMain;

// A task node of the setup tree. Its text is its task's title and its tool tip the task's status, both read
// from the table when the view asks: a start with 2000 tasks decodes only the titles on screen and never
// touches the 17 MB of records behind the others, and a node keeps no text of its own, so making one is
// cheap. A node is its table's row of the same index; while the two disagree (mid-change) the node shows the
// text set on it, if any.
class TTaskNode : public QTreeWidgetItem
{
public:
    TTaskNode(TQorsmailMain& engine, TTaskKind kind, const QIcon& image);
    QVariant data(int column, int role) const override;

private:
    int taskIndex() const; // -1 when the node has no row in its table

    TQorsmailMain& m_engine;
    TTaskKind m_kind;
    QIcon m_image;
};

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
    // Recomputes the line and the summary now.
    void refresh();

    QString summaryText() const { return m_summary; }

signals:
    // The summary of all tasks changed (waiting, retried, the last failure).
    void summaryChanged(const QString& summary);

private:
    // A mark changed: one refresh once the current event is handled, for all the changes it made.
    void refreshSoon();
    // The panel line of the selected task.
    void showCurrent(const SYSTEMTIME& now);

    TQorsmailMain& m_engine;
    Targets m_targets;
    QTreeWidgetItem* m_current = nullptr;
    QString m_summary;
    QTimer m_ticker;
    QTimer m_coalesce;
};
