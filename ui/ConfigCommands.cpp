// SPDX-License-Identifier: MIT
#include "ConfigCommands.h"

#include "AddressBookDlg.h"
#include "ConfigExport.h"
#include "EventMailProperty.h"
#include "FirstUserDlg.h"
#include "GbkCodec.h"
#include "HealthNoticeDlg.h"
#include "MLEngine.h"
#include "MailDialogs.h"
#include "MessageBoxes.h"
#include "QorsmailMain.h"
#include "ReportMailProperty.h"
#include "SmtpIni.h"
#include "SmtpSetupDlg.h"
#include "StationSettings.h"
#include "TaskFileStore.h"
#include "TaskStatusDisplay.h"

#include <QDir>
#include <QTreeWidget>

namespace {

// Runs the property dialog on a copy of task i. Returns the index of the task to replace, found again by its
// identity since timers run while the dialog is open, or -1 when nothing is to change.
template <class Table, class Dialog>
int editInDialog(Table& table, Dialog& dlg, int i)
{
    const uint64_t serial = table.serial(i);
    dlg.Task = table.task(i);
    dlg.Editable = 1;
    if (MessageBoxes::execDialog(dlg) == QDialog::Rejected || !dlg.Modified) {
        return -1;
    }
    return table.indexOfSerial(serial);
}

QString nativePath(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

} // namespace

TConfigCommands::TConfigCommands(TQorsmailMain& engine, TView view, QObject* parent)
    : QObject(parent)
    , m_engine(engine)
    , m_view(std::move(view))
{
}

TConfigCommands::~TConfigCommands() = default;

TMailDialogs& TConfigCommands::dialogs()
{
    if (!m_dialogs) {
        m_dialogs = std::make_unique<TMailDialogs>(m_engine.tables(), m_view.window);
    }
    return *m_dialogs;
}

bool TConfigCommands::refusedByEditRule()
{
    if (m_engine.EditAllowed()) {
        return false;
    }
    MessageBoxes::information(m_view.window, GetLangText(LangText::QorsmailMain_Str::Str22));
    return true;
}

void TConfigCommands::setModified(bool modified)
{
    m_modified = modified;
    emit configChanged();
}

QTreeWidgetItem* TConfigCommands::selectedNode() const
{
    return m_view.tree->currentItem();
}

QTreeWidgetItem* TConfigCommands::selectedTaskRoot() const
{
    QTreeWidgetItem* node = selectedNode();
    QTreeWidgetItem* root = node ? node->parent() : nullptr;
    return root && !root->parent() ? root : nullptr;
}

QTreeWidgetItem* TConfigCommands::addTaskNode(QTreeWidgetItem* root)
{
    const TTaskKind kind = root == m_view.eventRoot ? TTaskKind::Event : TTaskKind::Report;
    auto* node = new TTaskNode(m_engine, kind, m_view.taskImage);
    root->addChild(node);
    root->setExpanded(true);
    return node;
}

void TConfigCommands::EditMail1Click()
{
    QTreeWidgetItem* node = selectedNode();
    QTreeWidgetItem* root = selectedTaskRoot();
    if (!root || refusedByEditRule()) {
        return;
    }
    TMailTables& tables = m_engine.tables();
    const int i = root->indexOfChild(node);
    int k = -1;
    if (root == m_view.eventRoot && i < tables.EventTaskCount()) {
        TEventmailPropertyDlg& dlg = dialogs().eventDialog();
        k = editInDialog(tables.EventTasks, dlg, i);
        if (k >= 0) {
            // A new identity: a send of the old record still underway writes no outcome into this one, and the
            // old record's mark leaves the mark file.
            tables.EventTasks.replace(k, dlg.Task);
            m_engine.notifyTableEdited(TTaskKind::Event);
            root->child(k)->setText(0, Gbk::fieldText(dlg.Task.Title));
        }
    } else if (root == m_view.reportRoot && i < tables.ReportTaskCount()) {
        TReportmailPropertyDlg& dlg = dialogs().reportDialog();
        k = editInDialog(tables.ReportTasks, dlg, i);
        if (k >= 0) {
            tables.ReportTasks.replace(k, dlg.Task);
            m_engine.notifyTableEdited(TTaskKind::Report);
            root->child(k)->setText(0, Gbk::fieldText(dlg.Task.Title));
        }
    }
    if (k >= 0) {
        m_view.showNode(m_view.tree->currentItem());
        setModified(true);
    }
}

void TConfigCommands::AddMail1Click()
{
    QTreeWidgetItem* node = selectedNode();
    if (!node || node->parent()) {
        return;
    }
    if (refusedByEditRule()) {
        return;
    }
    if (node == m_view.eventRoot) {
        addEventTask();
    } else if (node == m_view.reportRoot) {
        addReportTask();
    }
}

void TConfigCommands::AddEventMail1Click()
{
    if (!refusedByEditRule()) {
        addEventTask();
    }
}

void TConfigCommands::AddReportMail1Click()
{
    if (!refusedByEditRule()) {
        addReportTask();
    }
}

void TConfigCommands::addEventTask()
{
    TEventmailPropertyDlg& dlg = dialogs().eventDialog();
    dlg.LoadDefaults();
    dlg.Editable = 1;
    if (MessageBoxes::execDialog(dlg) == QDialog::Rejected) {
        return;
    }
    m_engine.tables().EventTasks.append(dlg.Task); // with a zeroed state
    m_engine.notifyTableEdited(TTaskKind::Event);
    setModified(true);
    m_view.tree->setCurrentItem(addTaskNode(m_view.eventRoot)); // the selection shows its panel
}

void TConfigCommands::addReportTask()
{
    TReportmailPropertyDlg& dlg = dialogs().reportDialog();
    dlg.LoadDefaults();
    dlg.Editable = 1;
    if (MessageBoxes::execDialog(dlg) == QDialog::Rejected) {
        return;
    }
    m_engine.tables().ReportTasks.append(dlg.Task);
    m_engine.notifyTableEdited(TTaskKind::Report);
    setModified(true);
    m_view.tree->setCurrentItem(addTaskNode(m_view.reportRoot));
}

void TConfigCommands::HealthNotice1Click()
{
    if (refusedByEditRule()) {
        return;
    }
    if (!m_healthDialog) {
        m_healthDialog = std::make_unique<THealthNoticeDlg>(m_view.window);
    }
    TStationSettings& station = m_engine.tables().Station;
    THealthNoticeDlg& dlg = *m_healthDialog;
    dlg.Health = station.health;
    dlg.Notices = station.notices;
    dlg.Editable = true;
    if (MessageBoxes::execDialog(dlg) != QDialog::Rejected && dlg.Modified) {
        // The engine's health schedule follows the new settings at its next tick.
        station.health = dlg.Health;
        station.notices = dlg.Notices;
        setModified(true);
    }
}

void TConfigCommands::SetSMTP1Click()
{
    if (refusedByEditRule()) {
        return;
    }
    TMailTables& tables = m_engine.tables();
    TSmtpDlg& dlg = dialogs().smtpDialog();
    dlg.Settings = tables.SmtpSettings;
    // The security in use (QorMail.ini may have set it), not only the one our settings file holds.
    const TStationTls security = SmtpTlsInUse(tables);
    dlg.Security = security;
    dlg.CAFile = tables.CAFile;
    dlg.Fallback = tables.Station.fallback;
    dlg.IniPath = tables.workDirPath() + QStringLiteral("QorMail.ini");
    dlg.IniTlsKeys = SmtpIniTlsKeys(dlg.IniPath);
    dlg.Editable = true;
    if (MessageBoxes::execDialog(dlg) != QDialog::Rejected && dlg.Modified) {
        tables.SmtpSettings = dlg.Settings;
        // Our settings file takes a value only when it was changed here: one that QorMail.ini set is never
        // copied into it unasked.
        if (dlg.Security != security) {
            SetSmtpTlsInUse(tables, dlg.Security);
            tables.Station.smtpTls = dlg.Security;
        }
        if (dlg.CAFile != tables.CAFile) {
            tables.CAFile = dlg.CAFile;
            tables.Station.smtpCaFile = dlg.CAFile;
        }
        tables.Station.fallback = dlg.Fallback;
        m_engine.ApplySmtpSettings();
        setModified(true);
    }
}

void TConfigCommands::EditAddr1Click()
{
    // Not under the edit rule: the address book only helps to fill recipients in; sending never reads it.
    TAddressBookForm& dlg = dialogs().addressBook();
    dlg.Editable = true;
    if (MessageBoxes::execDialog(dlg) == QDialog::Accepted && dlg.Modified) {
        setModified(true);
    }
}

void TConfigCommands::DelMail1Click()
{
    QTreeWidgetItem* node = selectedNode();
    QTreeWidgetItem* root = selectedTaskRoot();
    if (!root || refusedByEditRule()) {
        return;
    }
    TMailTables& tables = m_engine.tables();
    const bool event = root == m_view.eventRoot;
    const int i = root->indexOfChild(node);
    if (i < 0 || i >= (event ? tables.EventTaskCount() : tables.ReportTaskCount())) {
        return;
    }
    const uint64_t serial = event ? tables.EventTasks.serial(i) : tables.ReportTasks.serial(i);
    const QString joined = GetLangText(LangText::QorsmailMain_Str::Str23) + QStringLiteral("%1?");
    const QString question = FillText(GetLangText(LangText::Format_Str::Str19, joined), {node->text(0)});
    if (!MessageBoxes::askYesNo(m_view.window, question)) {
        return;
    }
    // Timers ran while the question was open: the task is looked up again by its identity, not its old index.
    const int k = event ? tables.EventTasks.indexOfSerial(serial) : tables.ReportTasks.indexOfSerial(serial);
    if (k < 0) {
        return;
    }
    if (event) {
        tables.EventTasks.remove(k);
    } else {
        tables.ReportTasks.remove(k);
    }
    // The later tasks moved down one place: their marks (and the mark file) follow.
    m_engine.notifyTableEdited(event ? TTaskKind::Event : TTaskKind::Report);
    // The tree moves its current node to a neighbour (or the root) while the node is still there, so the
    // panel is shown again once the tree and the table agree.
    delete root->child(k);
    setModified(true);
    if (QTreeWidgetItem* current = m_view.tree->currentItem()) {
        current->setSelected(true);
        m_view.showNode(current);
    }
}

void TConfigCommands::ExportConfig1Click()
{
    if (refusedByEditRule()) {
        return;
    }
    ExportConfiguration(m_view.window, m_engine, m_exportPath);
}

bool TConfigCommands::SaveConfig1Click()
{
    using namespace LangText::ConfigSave_Str;
    if (refusedByEditRule()) {
        return false;
    }
    TMailTables& tables = m_engine.tables();
    if (tables.workDirPath().isEmpty()) {
        MessageBoxes::error(m_view.window, GetLangText(Str9));
        return false;
    }
    TTaskFileState& state = m_engine.taskFileState();
    // The tables hold only a part of a damaged file: replacing it is the user's decision, and the file is kept.
    if (state.damaged()
        && !MessageBoxes::askYesNo(m_view.window,
            GetLangText(LangText::TaskFileLoad_Str::Str2).arg(nativePath(state.path), state.loadError))) {
        return false;
    }
    const QString iniPath = tables.workDirPath() + QStringLiteral("QorMail.ini");
    // Both files or neither: our settings file changed by someone else stops the save before the task file.
    if (StationSaveWouldOverwrite(tables.Station, m_engine.stationFileState())) {
        return refuseChangedStationFile();
    }
    const TTaskFileSaveOutcome outcome = SaveTaskFile(tables, state, iniPath);
    if (!outcome.damagedCopy.isEmpty()) {
        m_engine.WriteLogLine(GetLangText(LangText::TaskFileLoad_Str::Str3).arg(nativePath(outcome.damagedCopy)));
    }
    switch (outcome.result) {
    case TTaskFileSave::Saved:
        m_engine.WriteLogLine(GetLangText(Str0).arg(nativePath(state.path)));
        if (!saveStationFile()) {
            return false;
        }
        setModified(false);
        if (!outcome.overridden.isEmpty()) {
            const QString note =
                GetLangText(Str5).arg(nativePath(iniPath), outcome.overridden.join(QStringLiteral(", ")));
            m_engine.WriteLogLine(note);
            MessageBoxes::information(m_view.window, note);
        }
        return true;
    case TTaskFileSave::ChangedOnDisk: {
        m_engine.WriteLogLine(GetLangText(Str4).arg(nativePath(state.path)));
        const MessageBoxes::Request refusal{QMessageBox::Warning,
            {},
            GetLangText(Str3).arg(nativePath(state.path)),
            QMessageBox::Save | QMessageBox::Cancel,
            QMessageBox::Save,
            {{QMessageBox::Save, GetLangText(Str13)}, {QMessageBox::Cancel, GetLangText(Str12)}}};
        if (MessageBoxes::show(m_view.window, refusal) == QMessageBox::Save) {
            ExportConfiguration(m_view.window, m_engine, m_exportPath);
        }
        return false;
    }
    case TTaskFileSave::Failed:
        m_engine.WriteLogLine(GetLangText(Str2).arg(outcome.error));
        MessageBoxes::error(m_view.window, GetLangText(Str1).arg(outcome.error));
        return false;
    case TTaskFileSave::NotFlushed:
        // Written, but not surely on the disk: the changes stay marked unsaved, and the box does not claim the
        // file was left alone.
        m_engine.WriteLogLine(GetLangText(Str2).arg(outcome.error));
        MessageBoxes::error(m_view.window, GetLangText(Str2).arg(outcome.error));
        return false;
    }
    return false;
}

bool TConfigCommands::saveStationFile()
{
    TStationFileState& station = m_engine.stationFileState();
    QString error;
    switch (SaveStationSettings(m_engine.tables().Station, station, error)) {
    case TStationSave::Saved:
        m_engine.WriteLogLine(GetLangText(LangText::StationSettings_Str::Str18).arg(nativePath(station.path)));
        return true;
    case TStationSave::Unchanged:
        return true;
    case TStationSave::ChangedOnDisk:
        return refuseChangedStationFile();
    case TStationSave::Failed:
        break;
    }
    m_engine.WriteLogLine(GetLangText(LangText::ConfigSave_Str::Str2).arg(error));
    MessageBoxes::error(m_view.window, GetLangText(LangText::ConfigSave_Str::Str2).arg(error));
    return false;
}

bool TConfigCommands::refuseChangedStationFile()
{
    const QString path = nativePath(m_engine.stationFileState().path);
    m_engine.WriteLogLine(GetLangText(LangText::StationSettings_Str::Str17).arg(path));
    MessageBoxes::information(m_view.window, GetLangText(LangText::StationSettings_Str::Str16).arg(path));
    return false;
}

bool TConfigCommands::confirmExit()
{
    using namespace LangText::ConfigSave_Str;
    if (!m_modified) {
        return true;
    }
    const MessageBoxes::Request question{QMessageBox::Question,
        {},
        GetLangText(Str6),
        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel,
        QMessageBox::Save,
        {{QMessageBox::Save, GetLangText(Str10)},
            {QMessageBox::Discard, GetLangText(Str11)},
            {QMessageBox::Cancel, GetLangText(Str12)}}};
    switch (MessageBoxes::show(m_view.window, question)) {
    case QMessageBox::Save:
        // A refused or failed save keeps the station running, so the changes are not lost with it.
        return SaveConfig1Click();
    case QMessageBox::Discard:
        m_engine.WriteLogLine(GetLangText(Str8));
        return true;
    default:
        return false;
    }
}

void TConfigCommands::noteStopWithoutQuestion()
{
    if (m_modified) {
        m_engine.WriteLogLine(GetLangText(LangText::ConfigSave_Str::Str7));
    }
}

void TConfigCommands::reportTaskFileAtStart()
{
    ReportTaskFileAtStart(m_engine);
}

void ReportTaskFileAtStart(TQorsmailMain& engine)
{
    const TTaskFileState& state = engine.taskFileState();
    const TMailTables& tables = engine.tables();
    if (!state.present) {
        engine.WriteLogLine(GetLangText(LangText::FirstStart_Str::Str0).arg(nativePath(state.path)));
        // After the first save and restart the tasks lock editing, and unlocking it asks for a user.
        if (const QString line = MissingUserStoreLine(engine.tables().workDirPath()); !line.isEmpty()) {
            engine.WriteLogLine(line);
        }
    } else if (state.damaged()) {
        engine.WriteLogLine(FillText(GetLangText(LangText::TaskFileLoad_Str::Str0),
            {nativePath(state.path),
                state.loadError,
                QString::number(tables.EventTaskCount()),
                QString::number(tables.ReportTaskCount())}));
    }
}

QString TConfigCommands::startHint() const
{
    const TTaskFileState& state = m_engine.taskFileState();
    if (state.damaged()) {
        return GetLangText(LangText::TaskFileLoad_Str::Str1).arg(nativePath(state.path), state.loadError);
    }
    const TMailTables& tables = m_engine.tables();
    if (tables.EventTaskCount() + tables.ReportTaskCount() != 0) {
        return {};
    }
    const QString users = MissingUserStoreHint(tables.workDirPath());
    return GetLangText(LangText::FirstStart_Str::Str1) + (users.isEmpty() ? QString() : QStringLiteral("\n\n") + users);
}

void TConfigCommands::SendTestMail1Click()
{
    QTreeWidgetItem* node = selectedNode();
    QTreeWidgetItem* root = selectedTaskRoot();
    // While sending runs the station is locked: a test must not become a way to flood recipients.
    if (!root || refusedByEditRule()) {
        return;
    }
    const TTaskKind kind = root == m_view.eventRoot ? TTaskKind::Event : TTaskKind::Report;
    const QString title = node->text(0);
    // The exchange keeps the window working; its outcome goes to the log panel.
    switch (m_engine.SendTestMail(kind, root->indexOfChild(node))) {
    case TQorsmailMain::TTestMailResult::NoReportFile:
        MessageBoxes::information(m_view.window, GetLangText(LangText::TestMail_Str::Str6).arg(title));
        break;
    case TQorsmailMain::TTestMailResult::Busy:
        MessageBoxes::information(m_view.window, GetLangText(LangText::TestMail_Str::Str7).arg(title));
        break;
    default:
        break;
    }
}
