// SPDX-License-Identifier: MIT
#pragma once

// The station's main window: the setup tree of the loaded tasks, the detail panels, the log panel, the tray icon,
// the exit rights check and the stop/restore sending commands. The engine does the work; the window shows it. The
// configuration commands live in TConfigCommands, which the window wires to its menus.

#include "CheckUsrgate.h"
#include "QorsmailDef.h"

#include <QIcon>
#include <QMainWindow>
#include <QStringList>
#include <memory>

class QLabel;
class QSystemTrayIcon;
class TTaskStatusDisplay;
class TConfigCommands;
class TMailDialogs;
class QTreeWidgetItem;
class TQorsmailMain;
class TWaitDialog;

namespace Ui {
class TQorsmailMainForm;
}

struct TMainFormOptions
{
    // Where the rights library is looked for, in order; empty = beside the program, then the search path.
    QStringList usrgateCandidates;
    // The stop command's wait for a running send: polls and their interval.
    int stopPollCount = 600;
    int stopPollIntervalMs = 100;
    // Tests run without the icon (an offscreen session has no tray anyway).
    bool trayIcon = true;
};

class TQorsmailMainForm : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr int MaxLogLines = 100;
    static constexpr int32_t ExitRightCode = 12;
    static constexpr int32_t StopSendRightCode = 1025;

    // Creates the window (FormCreate): the engine is created and its timers started.
    explicit TQorsmailMainForm(TQorsmailMain& engine, TMainFormOptions options = {}, QWidget* parent = nullptr);
    // FormDestroy.
    ~TQorsmailMainForm() override;

    // The selection changed: a task shows its panel, a root the hint.
    void SetupTreeChange(QTreeWidgetItem* node);
    void ShowEventTask(const TEventMailTask& task);
    void ShowReportTask(const TReportMailTask& task);

    // The configuration commands (add, edit, delete, SMTP, address book, test mail, export, save).
    TConfigCommands& commands() { return *m_commands; }

    // Commands.
    void StopSend1Click();
    void RestoreSend1Click();
    void Exit1Click();

    // The close request's decision: the rights library when it is ready, else the Yes/No question.
    bool FormCloseQuery();
    // Closes without the exit check (the station was told to stop by a signal).
    void closeWithoutQuestion();
    // The icon's left click and a second start: shows the window again, in front.
    void restoreWindow();

    void AddTrayIcon();
    void RemoveTrayIcon();
    // True while minimising hides the window: only when a tray icon is really visible.
    bool hidesToTray() const;

    QStringList logLines() const { return m_logLines; }
    TWaitDialog& waitDialog();
    QSystemTrayIcon* trayIcon() const { return m_tray; }
    TQorsmailMain& engine() { return m_engine; }
    // The dialogs, made at their first use.
    TMailDialogs& dialogs();

    void setOptions(const TMainFormOptions& options) { m_options = options; }

signals:
    // The window accepted a close; the message loop may end.
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void FormCreate();
    void FormShow();
    void FormDestroy();
    void fillSetupTree();
    void setupCommands();
    void setupTaskStatus();
    void showStatusSummary(const QString& summary);
    // Mails given up: the status bar keeps the last such line; the tray, where there is one, shows it once.
    void showGivenUp(const QString& text);
    // The title ("*" first while there are unsaved changes) and the hint follow the configuration.
    void showConfigState();
    void showPanel(QWidget* panel);
    void addLogLine(const QString& panelLine);
    void appendLogLine(const QString& line);
    void showLogLines();
    void waitMs(int ms);

    std::unique_ptr<Ui::TQorsmailMainForm> m_ui;
    TQorsmailMain& m_engine;
    TMainFormOptions m_options;
    std::unique_ptr<TWaitDialog> m_waitDialog;
    TConfigCommands* m_commands = nullptr;

    QSystemTrayIcon* m_tray = nullptr;
    TTaskStatusDisplay* m_statusDisplay = nullptr;
    QLabel* m_statusSummary = nullptr;
    QLabel* m_givenUpLabel = nullptr;
    QLabel* m_startHint = nullptr; // how to begin, while there is no task
    QTreeWidgetItem* m_eventRoot = nullptr;
    QTreeWidgetItem* m_reportRoot = nullptr;
    QIcon m_taskImage;
    QStringList m_logLines; // newest first
    QString m_title; // as translated, without the "*"
    bool m_closeAccepted = false;
    bool m_inCloseQuery = false;
    bool m_stopRunning = false;
    bool m_destroyed = false;
};
