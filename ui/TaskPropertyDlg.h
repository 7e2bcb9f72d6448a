// SPDX-License-Identifier: MIT
#pragma once

// What the two task property dialogs share: the caller's Editable/Modified contract, OK that validates and stores
// (a read-only view never returns OK), Cancel and Escape that ask before changes are thrown away, the title
// bar's close, the recipients button and the message for a refused field.

#include "QorsmailDef.h"

#include <QDialog>
#include <QString>
#include <cstdint>

class QCloseEvent;
class QWidget;
class TSelEmailAddrDlg;

class TTaskPropertyDlg : public QDialog
{
    Q_OBJECT

public:
    uint8_t Editable = 0;
    uint8_t Modified = 0;

    // Escape: the cancel question when something changed.
    void reject() override;

protected:
    TTaskPropertyDlg(TSelEmailAddrDlg& selector, QWidget* parent);

    void closeEvent(QCloseEvent* event) override; // the title bar's close: cancelled, no question
    void OkBtnClick();
    void CancelBtnClick();
    // The address selector on the recipients the memo shows; when it is accepted, they are stored and the task
    // counts as changed. Their number, or -1 when the selector was cancelled.
    int chooseReceivers(const QString& memoText, TMailAddr (&receivers)[MaxReceivers]);
    // Tells why a field is refused and puts the focus there; false, for `return fail(...)`.
    bool fail(QWidget* field, const QString& text);

    // Checks every field and stores them in the task; false (after the message) when one is refused.
    virtual bool validateAndStore() = 0;
    // The question before changes are thrown away.
    virtual QString cancelQuestion() const = 0;

    TSelEmailAddrDlg& m_selector;
};
