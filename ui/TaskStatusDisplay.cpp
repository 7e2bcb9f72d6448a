// SPDX-License-Identifier: MIT
#include "TaskStatusDisplay.h"

#include "MLEngine.h"
#include "QorsmailMain.h"
#include "TaskStatus.h"

#include <QLineEdit>
#include <QTreeWidgetItem>

TTaskStatusDisplay::TTaskStatusDisplay(TQorsmailMain& engine, const Targets& targets, QObject* parent)
    : QObject(parent)
    , m_engine(engine)
    , m_targets(targets)
{
    connect(&m_engine, &TQorsmailMain::taskStateChanged, this, &TTaskStatusDisplay::refresh);
    m_ticker.setInterval(1000);
    connect(&m_ticker, &QTimer::timeout, this, &TTaskStatusDisplay::refresh);
    m_ticker.start();
}

void TTaskStatusDisplay::setCurrentNode(QTreeWidgetItem* node)
{
    m_current = node;
    showCurrent(); // the tool tips and the summary do not depend on the selection
}

QString TTaskStatusDisplay::nodeText(TTaskKind kind, int index) const
{
    return TaskStatusText(m_engine.taskStatus().status(kind, index));
}

void TTaskStatusDisplay::showCurrent()
{
    QTreeWidgetItem* root = m_current ? m_current->parent() : nullptr;
    const TMailTables& tables = m_engine.tables();
    const int i = root ? root->indexOfChild(m_current) : -1;
    // Nodes and table rows are kept in step by the window; a node beyond its table (mid-change) shows nothing.
    if (root && root == m_targets.eventRoot && m_targets.eventStatus) {
        m_targets.eventStatus->setText(i < tables.EventTaskCount() ? nodeText(TTaskKind::Event, i) : QString());
    } else if (root && root == m_targets.reportRoot && m_targets.reportStatus) {
        m_targets.reportStatus->setText(i < tables.ReportTaskCount() ? nodeText(TTaskKind::Report, i) : QString());
    }
}

void TTaskStatusDisplay::refresh()
{
    const QString label = GetLangText(LangText::TaskStatus_Str::Str0);
    const auto refreshRoot = [&](QTreeWidgetItem* root, TTaskKind kind, int count) {
        if (!root) {
            return;
        }
        for (int i = 0; i < root->childCount(); ++i) {
            const QString text = i < count ? nodeText(kind, i) : QString();
            root->child(i)->setToolTip(0, text.isEmpty() ? QString() : label + text);
        }
    };
    const TMailTables& tables = m_engine.tables();
    refreshRoot(m_targets.eventRoot, TTaskKind::Event, tables.EventTaskCount());
    refreshRoot(m_targets.reportRoot, TTaskKind::Report, tables.ReportTaskCount());
    showCurrent();

    const QString summary = StatusSummaryText(m_engine.taskStatus().summary());
    if (summary != m_summary) {
        m_summary = summary;
        emit summaryChanged(m_summary);
    }
}
