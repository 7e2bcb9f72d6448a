// SPDX-License-Identifier: MIT
#pragma once

// The outgoing mail settings (server, port, sender, login, re-send wait and limit), edited on the dialog's own
// copy of the settings record; the caller copies it back after OK when Modified is set. Created once and reused.

#include "QorsmailDef.h"

#include <QDialog>
#include <memory>

namespace Ui {
class TSmtpDlg;
}

class TSmtpDlg : public QDialog
{
    Q_OBJECT

public:
    explicit TSmtpDlg(QWidget* parent = nullptr);
    ~TSmtpDlg() override;

    TSmtpSettings Settings{};
    bool Editable = false; // the group boxes may be edited and OK may store
    bool Modified = false;

protected:
    void showEvent(QShowEvent* event) override; // translate, load the controls, Modified cleared
    void keyPressEvent(QKeyEvent* event) override; // Escape is the cancel button

private:
    void FieldChange() { Modified = true; }
    void NeedAuthChkClick();
    void OkBtnClick();
    void CancelBtnClick();

    void loadControls();
    bool checkAndStore(); // in the described order; the first failure is shown and gives false
    bool fail(QWidget* field, const QString& text);

    std::unique_ptr<Ui::TSmtpDlg> m_ui;
};
