// SPDX-License-Identifier: MIT
#pragma once

// The first user, offered while no user store exists: a name and a password typed twice, stored through the
// suite's store code (as qorvane-user stores them) with both of the station's rights, 12 to quit and 1025 to stop
// sending. Once any store exists nothing is offered; qorvane-user adds further users.

#include <QDialog>
#include <QString>
#include <functional>
#include <memory>

namespace Ui {
class TFirstUserDlg;
}

class TFirstUserDlg : public QDialog
{
    Q_OBJECT

public:
    // Writes a line to the log panel and the debug log (may be empty: nothing is logged then).
    using LogLine = std::function<void(const QString&)>;

    TFirstUserDlg(QString storePath, LogLine log, QWidget* parent = nullptr);
    ~TFirstUserDlg() override;

private:
    // Checks the fields in their order, then adds the user; accepts when a user was made or a store exists now.
    void OkBtnClick();
    void fail(QWidget* field, const QString& text);
    void writeLog(const QString& line) const;

    std::unique_ptr<Ui::TFirstUserDlg> m_ui;
    QString m_storePath;
    LogLine m_log;
};

// Before a login: with no user store at all, runs the dialog. True when the login may go on (a user was made, a
// store exists, or the working directory is unknown and the login will say why it cannot succeed).
bool OfferFirstUser(QWidget* parent, const QString& workDir, const TFirstUserDlg::LogLine& log);

// The first start's log line and the start hint's paragraph while no user store exists; empty once one does.
QString MissingUserStoreLine(const QString& workDir);
QString MissingUserStoreHint(const QString& workDir);
