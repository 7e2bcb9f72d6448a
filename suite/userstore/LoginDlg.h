// SPDX-License-Identifier: MIT
#pragma once

// The suite's one login dialog (user name and password), shown modally by the event-log library's
// VerifyUserDialog and by the rights library's UGT_LoginDlg. Object names LoginDlg, UserEdit, PasswordEdit,
// OkBtn and CancelBtn are fixed: GUI tests find and fill the dialog by them.

#include "UserStore.h"

#include <QDialog>
#include <QString>
#include <cstdint>
#include <memory>

namespace Ui {
class LoginDlg;
}

class TLoginDlg : public QDialog
{
    Q_OBJECT

public:
    explicit TLoginDlg(QWidget* owner, const QString& caption);
    ~TLoginDlg() override;

    QString userName() const;
    // Hands the password out and clears the edit, so the text lives in one place only.
    QString takePassword();

private:
    std::unique_ptr<Ui::LoginDlg> m_ui;
};

namespace UserStore {

enum class LoginOutcome
{
    Entered,
    Cancelled,
    NoGui
};

// Has the library's language engine read the calling program's language files (the dialog's and the boxes' texts).
void LoadCallersLanguage();

// Why nobody can log in with rightCode against this store (missing, unusable, or no user holds the right), as a
// message that names the store and the qorvane-user command that helps; empty when someone can.
QString LoginNotice(const QString& storePath, const TLoadResult& store, int32_t rightCode);

// Shows the login dialog modally. NoGui when no QApplication exists or the call is not on its thread: widgets
// cannot exist then, and the caller must not crash.
LoginOutcome RunLoginDialog(QWidget* owner, const QString& caption, QString* user, QString* password);

// The whole check behind VerifyUserDialog: shows the dialog, verifies the entered name and password against the
// store and tells whether the user holds rightCode. On success the name (GBK, at most 20 bytes) is in *nameGbk.
// Every refusal but a cancelled dialog is said in a box: a store nobody could log in with (LoginNotice, before any
// dialog), a wrong name or password, a user without the right.
bool VerifyUserWithDialog(
    QWidget* owner, const QString& caption, const QString& storePath, int32_t rightCode, QByteArray* nameGbk);

} // namespace UserStore
