// SPDX-License-Identifier: MIT
#include "LoginDlg.h"

#include "GbkCodec.h"
#include "MLEngine.h"
#include "UserVerify.h"
#include "ui_LoginDlg.h"

#include <QApplication>
#include <QThread>

TLoginDlg::TLoginDlg(QWidget* owner, const QString& caption)
    : QDialog(owner)
    , m_ui(std::make_unique<Ui::LoginDlg>())
{
    m_ui->setupUi(this);
    // The dialog speaks the language of the program that shows it: the library holds a language engine of its
    // own, which reads that program's language files by the same rule (a second call changes nothing).
    LangEngine().LoadLanguageFile();
    using namespace LangText::LoginDlg_Str;
    setWindowTitle(caption.isEmpty() ? GetLangText(Str0) : caption);
    m_ui->UserLabel->setText(GetLangText(Str1));
    m_ui->PasswordLabel->setText(GetLangText(Str2));
    m_ui->OkBtn->setText(GetLangText(Str3));
    m_ui->CancelBtn->setText(GetLangText(Str4));
    connect(m_ui->OkBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_ui->CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
    m_ui->UserEdit->setFocus();
}

TLoginDlg::~TLoginDlg()
{
    m_ui->PasswordEdit->clear();
}

QString TLoginDlg::userName() const
{
    return m_ui->UserEdit->text();
}

QString TLoginDlg::takePassword()
{
    QString password = m_ui->PasswordEdit->text();
    m_ui->PasswordEdit->clear();
    return password;
}

namespace UserStore {

LoginOutcome RunLoginDialog(QWidget* owner, const QString& caption, QString* user, QString* password)
{
    QApplication* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app || QThread::currentThread() != app->thread()) {
        return LoginOutcome::NoGui;
    }
    // Without an owner the dialog would float free and could open behind the caller's window.
    TLoginDlg dialog(owner ? owner : QApplication::activeWindow(), caption);
    if (dialog.exec() != QDialog::Accepted) {
        return LoginOutcome::Cancelled;
    }
    *user = dialog.userName();
    *password = dialog.takePassword();
    return LoginOutcome::Entered;
}

bool VerifyUserWithDialog(
    QWidget* owner, const QString& caption, const QString& storePath, int32_t rightCode, QByteArray* nameGbk)
{
    QString user;
    QString password;
    if (RunLoginDialog(owner, caption, &user, &password) != LoginOutcome::Entered) {
        return false;
    }
    const QByteArray name = Gbk::encode(user);
    QByteArray secret = Gbk::encode(password);
    WipeString(password);
    const TVerifyResult verified = VerifyUser(storePath, name, secret);
    WipeBytes(secret);
    if (verified.Status != VerifyStatus::Valid || !verified.Rights.contains(rightCode)) {
        return false;
    }
    *nameGbk = name; // a stored name, so at most 20 bytes
    return true;
}

} // namespace UserStore
