// SPDX-License-Identifier: MIT
#pragma once

// The event mail property dialog: shows and edits one event mail task (title, recipients, event types, levels,
// keyword and the wait before sending) on its own copy of the record. Created once and reused; the caller sets
// Task and Editable before each showing and takes Task back after OK when Modified is set.

#include "QorsmailDef.h"
#include "TaskPropertyDlg.h"

#include <cstdint>
#include <memory>

class QMenu;
class QShowEvent;
class QWidget;
class TSelEmailAddrDlg;

namespace Ui {
class TEventmailPropertyDlg;
}

class TEventmailPropertyDlg : public TTaskPropertyDlg
{
    Q_OBJECT

public:
    // FormCreate: translated, the type list filled, Editable 0, the defaults loaded.
    TEventmailPropertyDlg(const TMailTables& tables, TSelEmailAddrDlg& selector, QWidget* parent = nullptr);
    ~TEventmailPropertyDlg() override;

    // Task to the defaults of a new event mail task.
    void LoadDefaults();

    TEventMailTask Task{};
    // The keyword field holds 255 GBK bytes.
    static constexpr int KeywordLimit = 255;
    static constexpr int TitleLimit = 39;

protected:
    void showEvent(QShowEvent* event) override; // FormShow

private:
    void FormShow();
    void Button1Click();
    void SelectAllType1Click();
    void UnSelectAllType1Click();
    void TitleEditChange() { Modified = 1; }
    void PopupMenu1Popup(const QPoint& pos);

    bool validateAndStore() override;
    QString cancelQuestion() const override;
    void setAllTypeTicks(bool ticked);
    void showReceivers();

    const TMailTables& m_tables;
    std::unique_ptr<Ui::TEventmailPropertyDlg> m_ui;
    QMenu* m_popupMenu = nullptr;
};
