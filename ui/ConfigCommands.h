// SPDX-License-Identifier: MIT
#pragma once

// The main window's configuration commands: add, edit and delete tasks, the SMTP and address-book dialogs, the
// test mail, the export and the save of the tables to the task file, with the edit rule on those that change
// something. The window wires its menus to them and shows what they report: the tree, the detail panel of
// the selected node, a "*" in its title while there are unsaved changes.

#include <QIcon>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QTreeWidget;
class QTreeWidgetItem;
class QWidget;
class THealthNoticeDlg;
class TMailDialogs;
class TQorsmailMain;

class TConfigCommands : public QObject
{
    Q_OBJECT

public:
    struct TView
    {
        QWidget* window = nullptr; // parent of the dialogs and boxes
        QTreeWidget* tree = nullptr;
        QTreeWidgetItem* eventRoot = nullptr;
        QTreeWidgetItem* reportRoot = nullptr;
        QIcon taskImage;
        // Shows the panel of a node again after its task changed.
        std::function<void(QTreeWidgetItem*)> showNode;
    };

    TConfigCommands(TQorsmailMain& engine, TView view, QObject* parent = nullptr);
    ~TConfigCommands() override;

    // Those that change the tables or the SMTP settings refuse with one message while EditAllowed is 0; those
    // that need a kind of node do nothing when the selection does not fit.
    void EditMail1Click();
    void AddMail1Click();
    void AddEventMail1Click();
    void AddReportMail1Click();
    void DelMail1Click();
    void SetSMTP1Click();
    void EditAddr1Click();
    // The health mail and notices dialog (settings file [Health], [Notices]); made at its first use.
    void HealthNotice1Click();
    // Writes tables, address book and SMTP settings as the configuration tool's JSON to a file the user picks.
    void ExportConfig1Click();
    // Writes them as the task file, unless someone else changed it since it was read. True when saved.
    bool SaveConfig1Click();
    // Sends the selected task's mail now as a test (the edit rule applies); the task's state is left alone.
    void SendTestMail1Click();

    // True while the tables hold changes not yet saved.
    bool isModified() const { return m_modified; }
    // The window is closing after its exit check: asks save / discard / cancel when there are unsaved changes.
    // False for cancel, or when the save asked for did not happen.
    bool confirmExit();
    // The station was told to stop: nothing is asked, the loss of unsaved changes is logged.
    void noteStopWithoutQuestion();
    // At start-up: the log line saying where the task file was looked for, when there was none, or what is wrong
    // with a file that did not load in whole.
    void reportTaskFileAtStart();
    // The right-hand panel's hint: what is wrong with a task file that did not load in whole; how to begin while
    // there is no task; else null (the window keeps its own).
    QString startHint() const;

    // The dialogs, made at their first use.
    TMailDialogs& dialogs();

signals:
    // The tables or the saved state changed: the window's title and hint follow.
    void configChanged();

private:
    bool refusedByEditRule();
    void setModified(bool modified);
    void addEventTask();
    void addReportTask();
    QTreeWidgetItem* selectedNode() const;
    // The root of the selected task node; null when the selection is no task (a root, a deeper node, nothing).
    QTreeWidgetItem* selectedTaskRoot() const;
    QTreeWidgetItem* addTaskNode(QTreeWidgetItem* root); // for the task just appended to its table
    // The second file of a save: the station's own settings, when they changed. False when not saved (told).
    bool saveStationFile();
    bool refuseChangedStationFile(); // told in the log and a message; false

    TQorsmailMain& m_engine;
    TView m_view;
    std::unique_ptr<TMailDialogs> m_dialogs;
    std::unique_ptr<THealthNoticeDlg> m_healthDialog;
    QString m_exportPath; // the export's last file
    bool m_modified = false;
};

// At start-up, with or without a window: the log line saying where the task file was looked for, when there was
// none, or what is wrong with a file that did not load in whole.
void ReportTaskFileAtStart(TQorsmailMain& engine);
