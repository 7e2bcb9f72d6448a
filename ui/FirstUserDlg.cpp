// SPDX-License-Identifier: MIT
#include "FirstUserDlg.h"

#include "FieldInput.h"
#include "FormTranslator.h"
#include "GbkCodec.h"
#include "LangTexts.h"
#include "MLEngine.h"
#include "MessageBoxes.h"
#include "QorsmailMainForm.h"
#include "UserStore.h"
#include "UserVerify.h"
#include "ui_FirstUserDlg.h"

#include <QScopeGuard>
#include <utility>

namespace Text = LangText::FirstUser_Str;

namespace {

bool storeMissing(const QString& workDir)
{
    return !workDir.isEmpty()
        && UserStore::Load(UserStore::StorePathIn(workDir)).Status == UserStore::LoadStatus::Missing;
}

} // namespace

TFirstUserDlg::TFirstUserDlg(QString storePath, LogLine log, QWidget* parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::TFirstUserDlg>())
    , m_storePath(std::move(storePath))
    , m_log(std::move(log))
{
    m_ui->setupUi(this);
    TranslateForm(this);
    m_ui->IntroLabel->setText(GetLangText(Text::Str0).arg(m_storePath));
    connect(m_ui->OkBtn, &QPushButton::clicked, this, &TFirstUserDlg::OkBtnClick);
    connect(m_ui->CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
}

TFirstUserDlg::~TFirstUserDlg()
{
    m_ui->PasswordEdit->clear();
    m_ui->RepeatEdit->clear();
}

void TFirstUserDlg::writeLog(const QString& line) const
{
    if (m_log) {
        m_log(line);
    }
}

void TFirstUserDlg::fail(QWidget* field, const QString& text)
{
    MessageBoxes::error(this, text);
    field->setFocus();
}

void TFirstUserDlg::OkBtnClick()
{
    const QString name = FieldInput::TrimBlanks(m_ui->NameEdit->text());
    if (name != m_ui->NameEdit->text()) {
        m_ui->NameEdit->setText(name);
    }
    if (!UserStore::CheckName(name).isEmpty()) {
        return fail(m_ui->NameEdit, GetLangText(Text::Str1));
    }
    QByteArray password = Gbk::encode(m_ui->PasswordEdit->text());
    const auto wipe = qScopeGuard([&password] { UserStore::WipeBytes(password); });
    if (password.isEmpty()) {
        return fail(m_ui->PasswordEdit, GetLangText(Text::Str2));
    }
    if (password.size() > UserStore::MaxPasswordBytes) {
        return fail(m_ui->PasswordEdit, GetLangText(Text::Str3));
    }
    if (m_ui->PasswordEdit->text() != m_ui->RepeatEdit->text()) {
        m_ui->RepeatEdit->clear();
        return fail(m_ui->RepeatEdit, GetLangText(Text::Str4));
    }
    const std::optional<QByteArray> hash = UserStore::HashPassword(password);
    if (!hash) {
        return fail(m_ui->PasswordEdit, GetLangText(Text::Str11));
    }
    const QList<int32_t> rights{TQorsmailMainForm::ExitRightCode, TQorsmailMainForm::StopSendRightCode};
    const UserStore::TAddResult added = UserStore::AddUser(m_storePath, {name, *hash, rights}, true);
    switch (added.Status) {
    case UserStore::AddStatus::Added:
        writeLog(GetLangText(Text::Str8).arg(name, m_storePath));
        accept();
        return;
    case UserStore::AddStatus::StoreExists:
        // Someone made the store while the dialog was open: its users log in, none is added here.
        MessageBoxes::information(this, GetLangText(Text::Str5).arg(m_storePath));
        accept();
        return;
    case UserStore::AddStatus::Refused:
        break;
    }
    writeLog(GetLangText(Text::Str7).arg(added.Error));
    MessageBoxes::error(this, GetLangText(Text::Str6).arg(added.Error));
}

bool OfferFirstUser(QWidget* parent, const QString& workDir, const TFirstUserDlg::LogLine& log)
{
    if (!storeMissing(workDir)) {
        return true;
    }
    TFirstUserDlg dialog(UserStore::StorePathIn(workDir), log, parent);
    return MessageBoxes::execDialog(dialog) == QDialog::Accepted;
}

QString MissingUserStoreLine(const QString& workDir)
{
    return storeMissing(workDir) ? GetLangText(Text::Str9).arg(UserStore::StorePathIn(workDir)) : QString();
}

QString MissingUserStoreHint(const QString& workDir)
{
    return storeMissing(workDir) ? GetLangText(Text::Str10) : QString();
}
