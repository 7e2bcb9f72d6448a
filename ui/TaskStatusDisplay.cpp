// SPDX-License-Identifier: MIT
#include "TaskStatusDisplay.h"

#include "GbkText.h"
#include "MLEngine.h"
#include "QorsmailMain.h"
#include "TaskStatus.h"

#include <QLineEdit>

namespace {

int taskCount(const TMailTables& tables, TTaskKind kind)
{
    return kind == TTaskKind::Event ? tables.EventTaskCount() : tables.ReportTaskCount();
}

} // namespace

TTaskNode::TTaskNode(TQorsmailMain& engine, TTaskKind kind, const QIcon& image)
    : m_engine(engine)
    , m_kind(kind)
    , m_image(image)
{
    // A task is a leaf: the view then skips its look-up among the expanded rows each time it lays the tree out.
    setFlags(flags() | Qt::ItemNeverHasChildren);
}

int TTaskNode::taskIndex() const
{
    const QTreeWidgetItem* root = parent();
    const int i = root ? root->indexOfChild(const_cast<TTaskNode*>(this)) : -1;
    return i >= 0 && i < taskCount(m_engine.tables(), m_kind) ? i : -1;
}

QVariant TTaskNode::data(int column, int role) const
{
    if (column != 0) {
        return QTreeWidgetItem::data(column, role);
    }
    switch (role) {
    case Qt::DecorationRole:
        return m_image;
    case Qt::DisplayRole:
    case Qt::EditRole:
    case Qt::ToolTipRole:
        break;
    default:
        return QTreeWidgetItem::data(column, role);
    }
    const int i = taskIndex();
    if (role == Qt::ToolTipRole) {
        if (i < 0) {
            return QString();
        }
        const QString joined = GetLangText(LangText::TaskStatus_Str::Str0) + QStringLiteral("%1");
        return FillText(GetLangText(LangText::Format_Str::Str25, joined),
            {TaskStatusText(m_engine.taskStatus().status(m_kind, i))});
    }
    if (i < 0) {
        return QTreeWidgetItem::data(column, role);
    }
    const TMailTables& tables = m_engine.tables();
    return Gbk::fieldText(
        m_kind == TTaskKind::Event ? tables.EventTasks.task(i).Title : tables.ReportTasks.task(i).Title);
}

TTaskStatusDisplay::TTaskStatusDisplay(TQorsmailMain& engine, const Targets& targets, QObject* parent)
    : QObject(parent)
    , m_engine(engine)
    , m_targets(targets)
{
    m_coalesce.setSingleShot(true);
    m_coalesce.setInterval(0);
    connect(&m_coalesce, &QTimer::timeout, this, &TTaskStatusDisplay::refresh);
    connect(&m_engine, &TQorsmailMain::taskStateChanged, this, &TTaskStatusDisplay::refreshSoon);
    m_ticker.setInterval(1000);
    connect(&m_ticker, &QTimer::timeout, this, &TTaskStatusDisplay::refresh);
    m_ticker.start();
}

void TTaskStatusDisplay::setCurrentNode(QTreeWidgetItem* node)
{
    m_current = node;
    showCurrent(m_engine.clock().now()); // the summary does not depend on the selection
}

void TTaskStatusDisplay::refreshSoon()
{
    if (!m_coalesce.isActive()) {
        m_coalesce.start();
    }
}

void TTaskStatusDisplay::showCurrent(const SYSTEMTIME& now)
{
    QTreeWidgetItem* root = m_current ? m_current->parent() : nullptr;
    const TMailTables& tables = m_engine.tables();
    const int i = root ? root->indexOfChild(m_current) : -1;
    const auto text = [&](TTaskKind kind) {
        return i < taskCount(tables, kind) ? TaskStatusText(m_engine.taskStatus().status(kind, i, now)) : QString();
    };
    if (root && root == m_targets.eventRoot && m_targets.eventStatus) {
        m_targets.eventStatus->setText(text(TTaskKind::Event));
    } else if (root && root == m_targets.reportRoot && m_targets.reportStatus) {
        m_targets.reportStatus->setText(text(TTaskKind::Report));
    }
}

void TTaskStatusDisplay::refresh()
{
    m_coalesce.stop(); // a refresh asked for now covers the changes that were waiting for one
    const SYSTEMTIME now = m_engine.clock().now();
    showCurrent(now);
    const QString summary = StatusSummaryText(m_engine.taskStatus().summary(now));
    if (summary != m_summary) {
        m_summary = summary;
        emit summaryChanged(m_summary);
    }
}
