// SPDX-License-Identifier: MIT
#include "QorsmailMainForm.h"

#include "ConfigCommands.h"
#include "FirstUserDlg.h"
#include "FormTranslator.h"
#include "GbkCodec.h"
#include "LocalTime.h"
#include "MLEngine.h"
#include "MailDialogs.h"
#include "MessageBoxes.h"
#include "QorsmailMain.h"
#include "StationLog.h"
#include "TaskStatusDisplay.h"
#include "TaskTexts.h"
#include "WaitDlg.h"
#include "ui_QorsmailMainForm.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QFont>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QScopeGuard>
#include <QScreen>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTextBlock>
#include <QTimer>
#include <algorithm>

static void initStationResources()
{
    Q_INIT_RESOURCE(qorsmail_ui);
}

namespace {

constexpr int EventRootImage = 0;
constexpr int ReportRootImage = 1;
constexpr int TaskImage = 2;

QIcon treeImage(int index)
{
    switch (index) {
    case EventRootImage:
        return QIcon(QStringLiteral(":/qorsmail/event.png"));
    case ReportRootImage:
        return QIcon(QStringLiteral(":/qorsmail/report.png"));
    default:
        return QIcon(QStringLiteral(":/qorsmail/task.png"));
    }
}

} // namespace

TQorsmailMainForm::TQorsmailMainForm(TQorsmailMain& engine, TMainFormOptions options, QWidget* parent)
    : QMainWindow(parent)
    , m_ui(std::make_unique<Ui::TQorsmailMainForm>())
    , m_engine(engine)
    , m_options(std::move(options))
{
    initStationResources();
    m_ui->setupUi(this);
    // One icon object for every task node: each new QIcon would read its file again.
    m_taskImage = treeImage(TaskImage);
    setWindowIcon(m_taskImage);
    m_eventRoot = new QTreeWidgetItem(m_ui->SetupTree, {QStringLiteral("事件邮件")});
    m_eventRoot->setIcon(0, treeImage(EventRootImage));
    m_reportRoot = new QTreeWidgetItem(m_ui->SetupTree, {QStringLiteral("报表邮件")});
    m_reportRoot->setIcon(0, treeImage(ReportRootImage));
    // Every row is one icon and one line: the view need not measure thousands of task rows to lay them out.
    m_ui->SetupTree->setUniformRowHeights(true);
    // The log panel: white text on the highlight colour; the selected newest line inverts it.
    QPalette logPalette = m_ui->LogMemo->palette();
    const QColor highlight = logPalette.color(QPalette::Highlight);
    logPalette.setColor(QPalette::Base, highlight);
    logPalette.setColor(QPalette::Text, Qt::white);
    logPalette.setColor(QPalette::Highlight, Qt::white);
    logPalette.setColor(QPalette::HighlightedText, highlight);
    m_ui->LogMemo->setPalette(logPalette);
    // 宋体 where it is installed, as on the suite's Windows desktops; otherwise a CJK font Debian has.
    QFont logFont = m_ui->LogMemo->font();
    logFont.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("WenQuanYi Micro Hei")});
    m_ui->LogMemo->setFont(logFont);
    m_ui->Splitter2->setSizes({217, 797 - 217});
    m_ui->Splitter1->setSizes({300, 157});
    m_startHint = new QLabel(m_ui->Panel1);
    m_startHint->setObjectName(QStringLiteral("StartHintLabel"));
    m_startHint->setWordWrap(true);
    m_startHint->setAlignment(Qt::AlignCenter);
    m_ui->Panel1Layout->addWidget(m_startHint);

    setupCommands();
    connect(m_ui->StopSend1, &QAction::triggered, this, &TQorsmailMainForm::StopSend1Click);
    connect(m_ui->RestoreSend1, &QAction::triggered, this, &TQorsmailMainForm::RestoreSend1Click);
    connect(m_ui->Exit1, &QAction::triggered, this, &TQorsmailMainForm::Exit1Click);
    connect(m_ui->ShowWindow1, &QAction::triggered, this, &TQorsmailMainForm::restoreWindow);
    connect(&m_engine, &TQorsmailMain::logLineAdded, this, &TQorsmailMainForm::addLogLine);

    FormCreate();
    setupTaskStatus();

    // Fixed border, centred on the screen.
    setFixedSize(size());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
    // Both timers run as soon as the window exists; their handlers start with the message loop.
    m_engine.StartTimers();
}

TQorsmailMainForm::~TQorsmailMainForm()
{
    FormDestroy();
}

void TQorsmailMainForm::FormCreate()
{
    TranslateForm(this);
    m_title = windowTitle();
    // Computer name, ring position, event buffer, WorkDir, task and settings files, debug log and its start line.
    m_engine.CreateEngine();
    if (m_options.trayIcon) {
        AddTrayIcon();
    }
    m_ui->EventStatusLabel->setText(GetLangText(LangText::TaskStatus_Str::Str0));
    m_ui->ReportStatusLabel->setText(GetLangText(LangText::TaskStatus_Str::Str0));
    m_eventRoot->setText(0, GetLangText(LangText::QorsmailMain_Str::Str37));
    m_reportRoot->setText(0, GetLangText(LangText::QorsmailMain_Str::Str38));
    fillSetupTree();
    const TMailTables& tables = m_engine.tables();
    if (tables.EventTaskCount() + tables.ReportTaskCount() > 0) {
        m_engine.setEditAllowed(false);
        // This one line has no time stamp and does not go to the debug log.
        appendLogLine(GetLangText(LangText::QorsmailMain_Str::Str1));
    } else {
        m_engine.setEditAllowed(true);
    }
    m_engine.ApplySmtpSettings();
    m_commands->reportTaskFileAtStart();
    showConfigState();
}

void TQorsmailMainForm::fillSetupTree()
{
    const TMailTables& tables = m_engine.tables();
    QList<QTreeWidgetItem*> nodes;
    nodes.reserve(std::max(tables.EventTaskCount(), tables.ReportTaskCount()));
    for (int i = 0; i < tables.EventTaskCount(); ++i) {
        nodes.append(new TTaskNode(m_engine, TTaskKind::Event, m_taskImage));
    }
    m_eventRoot->addChildren(nodes); // at once: the view relayouts once, not once a node
    nodes.clear();
    for (int i = 0; i < tables.ReportTaskCount(); ++i) {
        nodes.append(new TTaskNode(m_engine, TTaskKind::Report, m_taskImage));
    }
    m_reportRoot->addChildren(nodes);
}

void TQorsmailMainForm::setupTaskStatus()
{
    m_statusSummary = new QLabel(this);
    m_statusSummary->setObjectName(QStringLiteral("StatusSummaryLabel"));
    statusBar()->addWidget(m_statusSummary, 1);
    m_statusDisplay = new TTaskStatusDisplay(
        m_engine, {m_eventRoot, m_reportRoot, m_ui->EventStatusEdit, m_ui->ReportStatusEdit}, this);
    connect(m_statusDisplay, &TTaskStatusDisplay::summaryChanged, this, &TQorsmailMainForm::showStatusSummary);
    m_givenUpLabel = new QLabel(this);
    m_givenUpLabel->setObjectName(QStringLiteral("GivenUpLabel"));
    m_givenUpLabel->hide();
    statusBar()->addPermanentWidget(m_givenUpLabel);
    connect(&m_engine, &TQorsmailMain::mailsGivenUp, this, &TQorsmailMainForm::showGivenUp);
    m_statusDisplay->refresh();
    showStatusSummary(m_statusDisplay->summaryText());
}

void TQorsmailMainForm::showStatusSummary(const QString& summary)
{
    m_statusSummary->setText(summary);
    m_statusSummary->setAccessibleName(summary);
    if (m_tray) {
        m_tray->setToolTip(windowTitle() + QLatin1Char('\n') + summary);
    }
}

void TQorsmailMainForm::showGivenUp(const QString& text)
{
    const QString line = DateTimeText(m_engine.clock().now()) + QStringLiteral("  ") + text;
    m_givenUpLabel->setText(line);
    m_givenUpLabel->setAccessibleName(line);
    m_givenUpLabel->show();
    if (m_tray && m_tray->isVisible()) {
        m_tray->showMessage(GetLangText(LangText::Notice_Str::Str11), text, QSystemTrayIcon::Warning);
    }
}

TWaitDialog& TQorsmailMainForm::waitDialog()
{
    // Built when a stop first has to wait: most runs never need it, and every start would pay for it.
    if (!m_waitDialog) {
        m_waitDialog = std::make_unique<TWaitDialog>(this);
    }
    return *m_waitDialog;
}

void TQorsmailMainForm::FormShow()
{
    // Only the two roots have children; expandAll would also record each of thousands of task rows as expanded.
    m_eventRoot->setExpanded(true);
    m_reportRoot->setExpanded(true);
}

void TQorsmailMainForm::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    FormShow();
}

void TQorsmailMainForm::FormDestroy()
{
    if (m_destroyed) {
        return;
    }
    m_destroyed = true;
    m_engine.TriggerTimer().stop();
    m_engine.SendMailTimer().stop();
    RemoveTrayIcon();
    // Event buffer and task tables released, the stop line written, the debug log closed.
    m_engine.DestroyEngine();
}

// --- Setup tree and detail panels ------------------------------------------------------------------------------

void TQorsmailMainForm::setupCommands()
{
    QTreeWidget* tree = m_ui->SetupTree;
    connect(
        tree, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* current) { SetupTreeChange(current); });
    m_commands = new TConfigCommands(m_engine,
        {this, tree, m_eventRoot, m_reportRoot, m_taskImage, [this](QTreeWidgetItem* node) { SetupTreeChange(node); }},
        this);
    TConfigCommands* c = m_commands;
    connect(tree, &QTreeWidget::itemDoubleClicked, c, &TConfigCommands::EditMail1Click);
    connect(m_ui->AddMail1, &QAction::triggered, c, &TConfigCommands::AddMail1Click);
    connect(m_ui->AddEventMail1, &QAction::triggered, c, &TConfigCommands::AddEventMail1Click);
    connect(m_ui->AddReportMail1, &QAction::triggered, c, &TConfigCommands::AddReportMail1Click);
    connect(m_ui->EditMail1, &QAction::triggered, c, &TConfigCommands::EditMail1Click);
    connect(m_ui->DelMail1, &QAction::triggered, c, &TConfigCommands::DelMail1Click);
    connect(m_ui->SetSMTP1, &QAction::triggered, c, &TConfigCommands::SetSMTP1Click);
    connect(m_ui->EditAddr1, &QAction::triggered, c, &TConfigCommands::EditAddr1Click);
    connect(m_ui->HealthNotice1, &QAction::triggered, c, &TConfigCommands::HealthNotice1Click);
    connect(m_ui->ExportConfig1, &QAction::triggered, c, &TConfigCommands::ExportConfig1Click);
    connect(m_ui->SaveConfig1, &QAction::triggered, c, &TConfigCommands::SaveConfig1Click);
    connect(m_ui->SendTestMail1, &QAction::triggered, c, &TConfigCommands::SendTestMail1Click);
    connect(c, &TConfigCommands::configChanged, this, &TQorsmailMainForm::showConfigState);

    // Keys of the commands on the selected node work while the tree has the focus (Delete in another control
    // deletes no task); the others anywhere in the window.
    m_ui->AddMail1->setShortcut(QKeySequence(Qt::Key_Insert));
    m_ui->EditMail1->setShortcuts(
        {QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter), QKeySequence(Qt::Key_F2)});
    m_ui->DelMail1->setShortcut(QKeySequence(Qt::Key_Delete));
    for (QAction* onTree : {m_ui->AddMail1, m_ui->EditMail1, m_ui->DelMail1}) {
        onTree->setShortcutContext(Qt::WidgetShortcut);
    }
    m_ui->AddEventMail1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    m_ui->AddReportMail1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    m_ui->SetSMTP1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
    m_ui->EditAddr1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_B));
    m_ui->Exit1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    m_ui->SendTestMail1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    m_ui->SaveConfig1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));

    // The tree's context menu offers the task commands.
    auto* separator = new QAction(this);
    separator->setSeparator(true);
    auto* secondSeparator = new QAction(this);
    secondSeparator->setSeparator(true);
    tree->addActions({m_ui->AddMail1,
        m_ui->AddEventMail1,
        m_ui->AddReportMail1,
        separator,
        m_ui->EditMail1,
        m_ui->DelMail1,
        secondSeparator,
        m_ui->SendTestMail1});
}

void TQorsmailMainForm::showPanel(QWidget* panel)
{
    m_ui->EventMailPanel->setVisible(panel == m_ui->EventMailPanel);
    m_ui->ReportmailPanel->setVisible(panel == m_ui->ReportmailPanel);
    // The hint is what shows when neither detail panel does.
    m_ui->Panel1->setVisible(panel == nullptr);
}

void TQorsmailMainForm::SetupTreeChange(QTreeWidgetItem* node)
{
    if (!node) {
        return;
    }
    if (m_statusDisplay) {
        m_statusDisplay->setCurrentNode(node);
    }
    QTreeWidgetItem* root = node->parent();
    if (!root) {
        showPanel(nullptr);
        return;
    }
    if (root->parent()) {
        return; // a deeper node changes nothing
    }
    const TMailTables& tables = m_engine.tables();
    const int i = root->indexOfChild(node);
    if (root == m_eventRoot && i < tables.EventTaskCount()) {
        ShowEventTask(tables.EventTasks.task(i));
        showPanel(m_ui->EventMailPanel);
    } else if (root == m_reportRoot && i < tables.ReportTaskCount()) {
        ShowReportTask(tables.ReportTasks.task(i));
        showPanel(m_ui->ReportmailPanel);
    }
}

void TQorsmailMainForm::ShowEventTask(const TEventMailTask& task)
{
    m_ui->EventMailTitleEdit->setText(Gbk::fieldText(task.Title));
    m_ui->EventWaitSecEdit->setValue(PanelWaitSec(task.WaitSec));
    m_ui->EventTriggerMemo->setPlainText(EventTriggerLines(task).join(QLatin1Char('\n')));
    m_ui->EventReceiverMemo->setPlainText(ReceiverLines(task.Receivers, task.ReceiverCount).join(QLatin1Char('\n')));
}

void TQorsmailMainForm::ShowReportTask(const TReportMailTask& task)
{
    m_ui->ReportMailTitleEdit->setText(Gbk::fieldText(task.Title));
    m_ui->ReportListMemo->setPlainText(ReportFileLines(task).join(QLatin1Char('\n')));
    m_ui->ReportSendTypeEdit->setText(SendTypeText(task.SendType));
    m_ui->ReportSendTimeEdit->setText(SendTimeText(task.SendTime));
    m_ui->ReportSendIntervalEdit->setText(SendIntervalText(task.SendInterval));
    m_ui->ReportReceiverMemo->setPlainText(ReceiverLines(task.Receivers, task.ReceiverCount).join(QLatin1Char('\n')));
}

// --- Configuration commands ------------------------------------------------------------------------------------

TMailDialogs& TQorsmailMainForm::dialogs()
{
    return m_commands->dialogs();
}

void TQorsmailMainForm::showConfigState()
{
    setWindowTitle(m_commands->isModified() ? QLatin1Char('*') + m_title : m_title);
    // Below the designed hint: what is wrong with a task file that did not load, or, while there is no task,
    // how to begin.
    const QString hint = m_commands->startHint();
    m_startHint->setText(hint);
    m_startHint->setVisible(!hint.isEmpty());
    if (m_tray && m_statusDisplay) {
        m_tray->setToolTip(windowTitle() + QLatin1Char('\n') + m_statusDisplay->summaryText());
    }
}

// --- Log panel -------------------------------------------------------------------------------------------------

void TQorsmailMainForm::addLogLine(const QString& panelLine)
{
    if (m_logLines.size() >= MaxLogLines) {
        m_logLines.remove(MaxLogLines - 1, m_logLines.size() - (MaxLogLines - 1));
    }
    m_logLines.prepend(panelLine);
    showLogLines();
}

void TQorsmailMainForm::appendLogLine(const QString& line)
{
    m_logLines.append(line);
    showLogLines();
}

void TQorsmailMainForm::showLogLines()
{
    QPlainTextEdit* memo = m_ui->LogMemo;
    memo->setPlainText(m_logLines.join(QLatin1Char('\n')));
    // The newest entry is highlighted.
    QTextCursor cursor(memo->document()->firstBlock());
    cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    memo->setTextCursor(cursor);
}

// --- Tray icon -------------------------------------------------------------------------------------------------

void TQorsmailMainForm::AddTrayIcon()
{
    // A window system without a screen has no tray to put the icon in.
    const QString platform = QGuiApplication::platformName();
    if (m_tray || platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")) {
        return;
    }
    m_tray = new QSystemTrayIcon(windowIcon(), this);
    auto* menu = new QMenu(this);
    menu->addAction(m_ui->ShowWindow1);
    menu->addSeparator();
    menu->addAction(m_ui->StopSend1);
    menu->addAction(m_ui->RestoreSend1);
    menu->addSeparator();
    menu->addAction(m_ui->Exit1);
    m_tray->setContextMenu(menu);
    if (m_statusDisplay) {
        m_tray->setToolTip(windowTitle() + QLatin1Char('\n') + m_statusDisplay->summaryText());
    }
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger) {
            restoreWindow();
        }
    });
    m_tray->show();
}

void TQorsmailMainForm::RemoveTrayIcon()
{
    if (!m_tray) {
        return;
    }
    m_tray->hide();
    delete m_tray;
    m_tray = nullptr;
}

bool TQorsmailMainForm::hidesToTray() const
{
    return m_tray && m_tray->isVisible() && QSystemTrayIcon::isSystemTrayAvailable();
}

void TQorsmailMainForm::restoreWindow()
{
    qCInfo(lcStation, "qormail: window restored");
    if (isMinimized()) {
        showNormal();
    } else {
        show();
    }
    raise();
    activateWindow();
}

void TQorsmailMainForm::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized() && hidesToTray()) {
        // Only the icon remains; hiding is queued so the window system has finished the state change.
        QTimer::singleShot(0, this, [this] {
            if (isMinimized() && hidesToTray()) {
                hide();
                setWindowState(windowState() & ~Qt::WindowMinimized);
            }
        });
    }
}

// --- Closing ---------------------------------------------------------------------------------------------------

void TQorsmailMainForm::Exit1Click()
{
    close();
}

void TQorsmailMainForm::closeWithoutQuestion()
{
    if (!m_closeAccepted) {
        m_commands->noteStopWithoutQuestion();
    }
    m_closeAccepted = true;
    close();
}

bool TQorsmailMainForm::FormCloseQuery()
{
    const QStringList candidates =
        m_options.usrgateCandidates.isEmpty() ? TCheckUsrgate::defaultCandidates() : m_options.usrgateCandidates;
    const TCheckUsrgate usrgate(
        candidates, m_engine.tables().workDirPath() + QStringLiteral("CfgCache/Client/client_zqv.cfg.cah"));
    bool granted = false;
    if (usrgate.CheckExitRight(this, ExitRightCode, granted)) {
        return granted;
    }
    return MessageBoxes::askYesNo(this, GetLangText(LangText::QorsmailMain_Str::Str4));
}

void TQorsmailMainForm::closeEvent(QCloseEvent* event)
{
    if (!m_closeAccepted) {
        // A second close request while the first is still asking is not asked again.
        if (m_inCloseQuery) {
            event->ignore();
            return;
        }
        m_inCloseQuery = true;
        // Unsaved changes are asked about only once the exit itself is allowed.
        const bool accepted = FormCloseQuery() && m_commands->confirmExit();
        m_inCloseQuery = false;
        // A signal that ends the station while a question was open has accepted the close meanwhile.
        if (!accepted && !m_closeAccepted) {
            event->ignore();
            return;
        }
        m_closeAccepted = true;
    }
    event->accept();
    if (m_tray) {
        m_tray->hide();
    }
    emit closed();
}

// --- Stop and restore sending ----------------------------------------------------------------------------------

void TQorsmailMainForm::waitMs(int ms)
{
    // The window keeps working while the command waits: timers, repaints and other commands run.
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void TQorsmailMainForm::StopSend1Click()
{
    if (m_stopRunning) {
        return; // already waiting for the timers
    }
    m_stopRunning = true;
    const auto done = qScopeGuard([this] { m_stopRunning = false; });

    // With no user store nobody could log in: the first user is offered here, where the station needs one.
    if (!OfferFirstUser(
            this, m_engine.tables().workDirPath(), [this](const QString& line) { m_engine.WriteLogLine(line); })) {
        return;
    }
    char userName[21] = {};
    if (!m_engine.logLibrary().VerifyUserDialog(
            static_cast<QWidget*>(this), userName, StopSendRightCode, GetLangText(LangText::QorsmailMain_Str::Str31))) {
        return;
    }
    QTimer& trigger = m_engine.TriggerTimer();
    QTimer& send = m_engine.SendMailTimer();
    // A timer that is off while its handler is not running was stopped before: it counts as stopped. The trigger
    // handler never waits, so it cannot be running under this command; the send pass can.
    bool triggerStopped = !trigger.isActive();
    bool sendStopped = !send.isActive() && !m_engine.isSending();
    for (int poll = 0; poll < m_options.stopPollCount; ++poll) {
        if (trigger.isActive()) {
            trigger.stop();
            triggerStopped = true;
        }
        if (send.isActive()) {
            send.stop();
            sendStopped = true;
        }
        if ((triggerStopped && sendStopped) || m_closeAccepted) {
            break;
        }
        waitMs(m_options.stopPollIntervalMs);
        if (!waitDialog().isVisible()) {
            waitDialog().SetMessage(GetLangText(LangText::QorsmailMain_Str::Str32));
            waitDialog().show();
        }
    }
    if (m_waitDialog && m_waitDialog->isVisible()) {
        m_waitDialog->hide();
    }
    if (triggerStopped && sendStopped) {
        m_engine.setEditAllowed(true);
        const QString joined = QStringLiteral("%1") + GetLangText(LangText::QorsmailMain_Str::Str35);
        m_engine.WriteLogLine(FillText(GetLangText(LangText::Format_Str::Str23, joined), {Gbk::fieldText(userName)}));
    } else {
        m_engine.WriteLogLine(GetLangText(LangText::QorsmailMain_Str::Str33));
        MessageBoxes::information(this, GetLangText(LangText::QorsmailMain_Str::Str34));
    }
}

void TQorsmailMainForm::RestoreSend1Click()
{
    m_engine.TriggerTimer().start();
    // A send pass in progress switches its timer on itself when it ends; starting it now would let a second pass
    // run inside the first.
    if (!m_engine.isSending()) {
        m_engine.SendMailTimer().start();
    }
    m_engine.setEditAllowed(false);
    m_engine.WriteLogLine(GetLangText(LangText::QorsmailMain_Str::Str36));
}
