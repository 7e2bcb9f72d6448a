// SPDX-License-Identifier: MIT
#pragma once

// The recipient selection: names picked from the address book are added to the recipient lines of a property
// dialog. Created once and reused; the recipient lines stay from one run to the next until LoadReceivers.

#include "QorsmailDef.h"

#include <QDialog>
#include <QStringList>
#include <memory>

namespace Ui {
class TSelEmailAddrDlg;
}

class TSelEmailAddrDlg : public QDialog
{
    Q_OBJECT

public:
    explicit TSelEmailAddrDlg(const TMailTables& tables, QWidget* parent = nullptr);
    ~TSelEmailAddrDlg() override;

    // The recipient memo's lines, in order and unchanged (empty lines too); clears Modified.
    void LoadReceivers(const QStringList& lines);
    // The first 100 recipient lines as entries: an address-book name gives the name and the book's address,
    // any other line is the address. Returns the number of entries written.
    int GetReceivers(TMailAddr (&receivers)[MaxReceivers]) const;

    bool Modified = false;

protected:
    void showEvent(QShowEvent* event) override; // the address book's names; Modified cleared

private:
    void AddBtnClick();
    void DelBtnClick();
    void OkBtnClick();
    void CancelBtnClick();

    const TMailTables& m_tables;
    std::unique_ptr<Ui::TSelEmailAddrDlg> m_ui;
};
