// SPDX-License-Identifier: MIT
#pragma once

// The configuration dialogs of the main window, each made at its first use and kept for the whole run, so a
// dialog keeps its state between uses (the chooser's folder, for one) and the start-up pays for none of them.
// The property dialogs share the one recipient selection; the report dialog also the one file chooser.

#include <memory>

class QWidget;
class Tch_file_dlg;
class TAddressBookForm;
class TEventmailPropertyDlg;
class TReportmailPropertyDlg;
class TSelEmailAddrDlg;
class TSmtpDlg;
struct TMailTables;

class TMailDialogs
{
public:
    TMailDialogs(TMailTables& tables, QWidget* parent);
    ~TMailDialogs();
    TMailDialogs(const TMailDialogs&) = delete;
    TMailDialogs& operator=(const TMailDialogs&) = delete;

    TEventmailPropertyDlg& eventDialog();
    TReportmailPropertyDlg& reportDialog();
    TSmtpDlg& smtpDialog();
    TAddressBookForm& addressBook();
    TSelEmailAddrDlg& selector();
    Tch_file_dlg& chooser();

    // How many of the six exist (the start-up makes none).
    int createdCount() const;

private:
    TMailTables& m_tables;
    QWidget* m_parent;
    // Declared before the dialogs that hold references to them, so they go last.
    std::unique_ptr<TSelEmailAddrDlg> m_selector;
    std::unique_ptr<Tch_file_dlg> m_chooser;
    std::unique_ptr<TEventmailPropertyDlg> m_event;
    std::unique_ptr<TReportmailPropertyDlg> m_report;
    std::unique_ptr<TSmtpDlg> m_smtp;
    std::unique_ptr<TAddressBookForm> m_addressBook;
};
