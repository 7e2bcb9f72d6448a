// SPDX-License-Identifier: MIT
#pragma once

// The outgoing mail settings (server, port, sender, login, re-send wait and limit), edited on the dialog's own
// copy of the settings record; the caller copies it back after OK when Modified is set. Created once and reused.
// Beside the record: the connection security and the CA file of the first relay, and, on a tab of its own, the
// fallback relay (the station's own settings file keeps them).

#include "QorsmailDef.h"

#include <QDialog>
#include <QStringList>
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
    TStationTls Security = TStationTls::None;
    QString CAFile;
    TRelaySettings Fallback;
    // The keys of the settings file IniPath that replace Security and CAFile at every start; the dialog says so.
    QStringList IniTlsKeys;
    QString IniPath;
    bool Editable = false; // the group boxes may be edited and OK may store
    bool Modified = false;

protected:
    void showEvent(QShowEvent* event) override; // translate, load the controls, Modified cleared
    void keyPressEvent(QKeyEvent* event) override; // Escape is the cancel button

private:
    void FieldChange() { Modified = true; }
    void NeedAuthChkClick();
    // The port follows the security choice while it holds the usual port of the previous choice.
    void SecurityComboChange(int index);
    void FallbackSecurityComboChange(int index);
    void OkBtnClick();
    void CancelBtnClick();

    void loadControls();
    void fitWrappedLabels();
    bool checkAndStore(); // in the described order; the first failure is shown and gives false
    bool checkAndStoreRelays(); // then the security, the CA file and the fallback relay
    bool fail(QWidget* field, const QString& text);

    std::unique_ptr<Ui::TSmtpDlg> m_ui;
    TStationTls m_shownSecurity = TStationTls::None;
    TStationTls m_shownFallbackSecurity = TStationTls::None;
};
