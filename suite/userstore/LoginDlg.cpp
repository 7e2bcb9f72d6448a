// SPDX-License-Identifier: MIT
#include "LoginDlg.h"

#include "GbkCodec.h"
#include "MLEngine.h"
#include "UserVerify.h"
#include "ui_LoginDlg.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

TLoginDlg::TLoginDlg(QWidget* owner, const QString& caption)
    : QDialog(owner)
    , m_ui(std::make_unique<Ui::LoginDlg>())
{
    m_ui->setupUi(this);
    UserStore::LoadCallersLanguage();
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

namespace {

bool guiAvailable()
{
    const QApplication* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    return app && QThread::currentThread() == app->thread();
}

// A login that cannot succeed or did not is said in a box over the caller's window, never by closing alone.
void showRefusal(QWidget* owner, const QString& caption, const QString& text)
{
    QMessageBox box(QMessageBox::Warning,
        caption.isEmpty() ? GetLangText(LangText::LoginDlg_Str::Str0) : caption,
        text,
        QMessageBox::Ok,
        owner ? owner : QApplication::activeWindow());
    box.setObjectName(QStringLiteral("LoginRefusal"));
    box.exec();
}

} // namespace

void LoadCallersLanguage()
{
    // The library holds a language engine of its own, which reads the calling program's language files by the
    // same rule (a second call changes nothing).
    LangEngine().LoadLanguageFile();
}

QString LoginNotice(const QString& storePath, const TLoadResult& store, int32_t rightCode)
{
    using namespace LangText::LoginCheck_Str;
    switch (store.Status) {
    case LoadStatus::Ok:
        break;
    case LoadStatus::Missing:
        return GetLangText(Str2).arg(storePath);
    case LoadStatus::Unreadable:
    case LoadStatus::Malformed:
        return GetLangText(Str4).arg(storePath, store.Error);
    }
    for (const TUserEntry& user : store.Table.Users) {
        if (user.Rights.contains(rightCode)) {
            return {};
        }
    }
    return GetLangText(Str3).arg(storePath, QString::number(rightCode));
}

LoginOutcome RunLoginDialog(QWidget* owner, const QString& caption, QString* user, QString* password)
{
    if (!guiAvailable()) {
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
    if (!guiAvailable()) {
        return false;
    }
    LoadCallersLanguage();
    // A store that nobody could log in with is said at once, rather than after a login that must fail.
    if (const QString notice = LoginNotice(storePath, Load(storePath), rightCode); !notice.isEmpty()) {
        showRefusal(owner, caption, notice);
        return false;
    }
    QString user;
    QString password;
    if (RunLoginDialog(owner, caption, &user, &password) != LoginOutcome::Entered) {
        return false; // cancelled: no message
    }
    const QByteArray name = Gbk::encode(user);
    QByteArray secret = Gbk::encode(password);
    WipeString(password);
    const TVerifyResult verified = VerifyUser(storePath, name, secret);
    WipeBytes(secret);
    using namespace LangText::LoginCheck_Str;
    switch (verified.Status) {
    case VerifyStatus::Valid:
        break;
    case VerifyStatus::Invalid:
        showRefusal(owner, caption, GetLangText(Str0));
        return false;
    case VerifyStatus::NotReady: {
        // The store went away or broke while the dialog was open.
        const QString notice = LoginNotice(storePath, Load(storePath), rightCode);
        showRefusal(owner, caption, notice.isEmpty() ? GetLangText(Str0) : notice);
        return false;
    }
    }
    if (!verified.Rights.contains(rightCode)) {
        showRefusal(owner, caption, GetLangText(Str1).arg(user, QString::number(rightCode)));
        return false;
    }
    *nameGbk = name; // a stored name, so at most 20 bytes
    return true;
}

} // namespace UserStore
