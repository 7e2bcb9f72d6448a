// SPDX-License-Identifier: MIT
#include "TaskPropertyDlg.h"

#include "MessageBoxes.h"
#include "SelAddrDlg.h"
#include "TaskEditRules.h"

#include <QCloseEvent>

TTaskPropertyDlg::TTaskPropertyDlg(TSelEmailAddrDlg& selector, QWidget* parent)
    : QDialog(parent)
    , m_selector(selector)
{
}

void TTaskPropertyDlg::OkBtnClick()
{
    if (Editable == 0) {
        QDialog::reject(); // a read-only view never returns OK
        return;
    }
    if (validateAndStore()) {
        accept();
    }
}

void TTaskPropertyDlg::CancelBtnClick()
{
    if (Modified == 1) {
        const MessageBoxes::Request question{
            QMessageBox::Question, {}, cancelQuestion(), QMessageBox::Yes | QMessageBox::No, QMessageBox::No};
        if (MessageBoxes::show(this, question) == QMessageBox::No) {
            return;
        }
    }
    QDialog::reject();
}

void TTaskPropertyDlg::reject()
{
    CancelBtnClick();
}

void TTaskPropertyDlg::closeEvent(QCloseEvent* event)
{
    QDialog::done(QDialog::Rejected);
    event->accept();
}

int TTaskPropertyDlg::chooseReceivers(const QString& memoText, TMailAddr (&receivers)[MaxReceivers])
{
    m_selector.LoadReceivers(TaskEdit::MemoLines(memoText));
    if (MessageBoxes::execDialog(m_selector) != QDialog::Accepted) {
        return -1;
    }
    const int count = m_selector.GetReceivers(receivers);
    Modified = 1;
    return count;
}

bool TTaskPropertyDlg::fail(QWidget* field, const QString& text)
{
    MessageBoxes::information(this, text);
    field->setFocus();
    return false;
}
