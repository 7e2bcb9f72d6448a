// SPDX-License-Identifier: MIT
#pragma once

// The address book: lists, adds, renames, re-addresses and deletes entries on screen; OK replaces the
// in-memory book with the list, in list order. Created once and reused.

#include "QorsmailDef.h"

#include <QDialog>
#include <memory>

class QTreeWidgetItem;

namespace Ui {
class TAddressBookForm;
}

class TAddressBookForm : public QDialog
{
    Q_OBJECT

public:
    explicit TAddressBookForm(TMailTables& tables, QWidget* parent = nullptr);
    ~TAddressBookForm() override;

    bool Editable = false; // adding and storing allowed
    bool Modified = false;

protected:
    void showEvent(QShowEvent* event) override; // translate, fill the list from the book, Modified cleared
    void keyPressEvent(QKeyEvent* event) override; // Escape is the cancel button
    bool eventFilter(QObject* watched, QEvent* event) override; // Delete and F2 in the list

private:
    void AddNewBtnClick();
    void AddressBookListDblClick();
    void AddressBookListDelete();
    void OkBtnClick();
    void CancelBtnClick();

    QTreeWidgetItem* selectedRow() const;
    // Whether a row other than `except` has this name, ASCII letters folded.
    bool nameTaken(const QString& name, const QTreeWidgetItem* except) const;
    void fail(QWidget* field, const QString& text);

    TMailTables& m_tables;
    std::unique_ptr<Ui::TAddressBookForm> m_ui;
};
