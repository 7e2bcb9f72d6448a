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
    refresh();
}

QString TTaskStatusDisplay::nodeText(TTaskKind kind, int index) const
{
    return TaskStatusText(m_engine.taskStatus().status(kind, index));
}

void TTaskStatusDisplay::refresh()
{
    const QString label = GetLangText(LangText::TaskStatus_Str::Str0);
    // Nodes and table rows are kept in step by the window; a node beyond its table (mid-change) shows nothing.
    const auto refreshRoot = [&](QTreeWidgetItem* root, TTaskKind kind, int count, QLineEdit* line) {
        if (!root) {
            return;
        }
        for (int i = 0; i < root->childCount(); ++i) {
            QTreeWidgetItem* node = root->child(i);
            const QString text = i < count ? nodeText(kind, i) : QString();
            node->setToolTip(0, text.isEmpty() ? QString() : label + text);
            if (node == m_current && line) {
                line->setText(text);
            }
        }
    };
    const TMailTables& tables = m_engine.tables();
    refreshRoot(m_targets.eventRoot, TTaskKind::Event, tables.EventTaskCount(), m_targets.eventStatus);
    refreshRoot(m_targets.reportRoot, TTaskKind::Report, tables.ReportTaskCount(), m_targets.reportStatus);

    const QString summary = StatusSummaryText(m_engine.taskStatus().summary());
    if (summary != m_summary) {
        m_summary = summary;
        emit summaryChanged(m_summary);
    }
}
