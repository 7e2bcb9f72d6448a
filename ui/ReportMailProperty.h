// SPDX-License-Identifier: MIT
#pragma once

// The report mail property dialog: shows and edits one report mail task (title, recipients, up to ten report
// files and the schedule) on its own copy of the record. Created once and reused; the caller sets Task and
// Editable before each showing and takes Task back after OK when Modified is set.

#include "QorsmailDef.h"
#include "TaskPropertyDlg.h"

#include <array>
#include <cstdint>
#include <memory>

class QLineEdit;
class QShowEvent;
class QWidget;
class TSelEmailAddrDlg;
class Tch_file_dlg;

namespace Ui {
class TReportmailPropertyDlg;
}

class TReportmailPropertyDlg : public TTaskPropertyDlg
{
    Q_OBJECT

public:
    // FormCreate: translated, Editable 0, the defaults loaded.
    TReportmailPropertyDlg(
        const TMailTables& tables, TSelEmailAddrDlg& selector, Tch_file_dlg& chooser, QWidget* parent = nullptr);
    ~TReportmailPropertyDlg() override;

    // Task to the defaults of a new report mail task.
    void LoadDefaults();

    TReportMailTask Task{};
    static constexpr int TitleLimit = 39;

protected:
    void showEvent(QShowEvent* event) override; // FormShow

private:
    void FormShow();
    void ReceiverBtnClick();
    void FileListBtnClick();
    void TitleEditChange() { Modified = 1; }

    bool validateAndStore() override;
    QString cancelQuestion() const override;
    void showReceivers();
    std::array<QLineEdit*, 5> timeEdits() const;
    std::array<QLineEdit*, 5> intervalEdits() const;

    const TMailTables& m_tables;
    Tch_file_dlg& m_chooser;
    std::unique_ptr<Ui::TReportmailPropertyDlg> m_ui;
};
