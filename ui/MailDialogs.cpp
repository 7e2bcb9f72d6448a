// SPDX-License-Identifier: MIT
#include "MailDialogs.h"

#include "AddressBookDlg.h"
#include "Ch_file.h"
#include "EventMailProperty.h"
#include "ReportMailProperty.h"
#include "SelAddrDlg.h"
#include "SmtpSetupDlg.h"

TMailDialogs::TMailDialogs(TMailTables& tables, QWidget* parent)
    : m_tables(tables)
    , m_parent(parent)
{
}

TMailDialogs::~TMailDialogs() = default;

TSelEmailAddrDlg& TMailDialogs::selector()
{
    if (!m_selector) {
        m_selector = std::make_unique<TSelEmailAddrDlg>(m_tables, m_parent);
    }
    return *m_selector;
}

Tch_file_dlg& TMailDialogs::chooser()
{
    if (!m_chooser) {
        m_chooser = std::make_unique<Tch_file_dlg>(m_parent);
    }
    return *m_chooser;
}

TEventmailPropertyDlg& TMailDialogs::eventDialog()
{
    if (!m_event) {
        m_event = std::make_unique<TEventmailPropertyDlg>(m_tables, selector(), m_parent);
    }
    return *m_event;
}

TReportmailPropertyDlg& TMailDialogs::reportDialog()
{
    if (!m_report) {
        m_report = std::make_unique<TReportmailPropertyDlg>(m_tables, selector(), chooser(), m_parent);
    }
    return *m_report;
}

TSmtpDlg& TMailDialogs::smtpDialog()
{
    if (!m_smtp) {
        m_smtp = std::make_unique<TSmtpDlg>(m_parent);
    }
    return *m_smtp;
}

TAddressBookForm& TMailDialogs::addressBook()
{
    if (!m_addressBook) {
        m_addressBook = std::make_unique<TAddressBookForm>(m_tables, m_parent);
    }
    return *m_addressBook;
}

int TMailDialogs::createdCount() const
{
    return int(m_selector != nullptr) + int(m_chooser != nullptr) + int(m_event != nullptr) + int(m_report != nullptr)
        + int(m_smtp != nullptr) + int(m_addressBook != nullptr);
}
