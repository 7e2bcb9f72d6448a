// SPDX-License-Identifier: MIT
#include "SmtpSetupDlg.h"

#include "CentreOnScreen.h"
#include "FieldInput.h"
#include "FormTranslator.h"
#include "GbkCodec.h"
#include "LangTexts.h"
#include "MLEngine.h"
#include "MessageBoxes.h"
#include "ui_SmtpSetupDlg.h"

#include <QKeyEvent>
#include <QProxyStyle>
#include <QShowEvent>
#include <algorithm>

namespace Text = LangText::SMTPSetup_Str;
using FieldInput::TrimBlanks;

namespace {

// Typed password characters show as '*'.
class TStarPasswordStyle : public QProxyStyle
{
public:
    int styleHint(
        StyleHint hint, const QStyleOption* option, const QWidget* widget, QStyleHintReturn* data) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter) {
            return '*';
        }
        return QProxyStyle::styleHint(hint, option, widget, data);
    }
};

// Stores the text unless it is what the field already holds: a stored byte that is not valid GBK (such as
// 0x80) would otherwise come back changed from its decoded text.
template <size_t N>
void storeText(char (&field)[N], const QString& text)
{
    if (Gbk::fieldText(field) != text) {
        Gbk::storeField(field, text);
    }
}

// Puts the trimmed text back into the edit (only when trimming changed it) and returns it.
QString trimEdit(QLineEdit* edit)
{
    const QString text = TrimBlanks(edit->text());
    if (text != edit->text()) {
        edit->setText(text);
    }
    return text;
}

} // namespace

TSmtpDlg::TSmtpDlg(QWidget* parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::TSmtpDlg>())
{
    m_ui->setupUi(this);
    // The dialog's own defaults, seen only when it is shown without the caller's settings.
    Settings.smtpport = 25;
    Settings.MaxSendTries = 5;
    Settings.WaitSeconds = 60;

    for (QLineEdit* edit :
        {m_ui->SmtpAddrEdit, m_ui->SmtpPortEdit, m_ui->EmailAddrEdit, m_ui->UsernameEdit, m_ui->PasswordEdit}) {
        FieldInput::LimitToField(edit);
        connect(edit, &QLineEdit::textChanged, this, &TSmtpDlg::FieldChange);
    }
    for (QSpinBox* spin : {m_ui->WaitSecEdit, m_ui->RepeattimesEdit}) {
        connect(spin, &QSpinBox::textChanged, this, &TSmtpDlg::FieldChange);
    }
    auto* passwordStyle = new TStarPasswordStyle;
    passwordStyle->setParent(this);
    m_ui->PasswordEdit->setStyle(passwordStyle);

    connect(m_ui->NeedAuthChk, &QCheckBox::toggled, this, &TSmtpDlg::NeedAuthChkClick);
    connect(m_ui->OkBtn, &QPushButton::clicked, this, &TSmtpDlg::OkBtnClick);
    connect(m_ui->CancelBtn, &QPushButton::clicked, this, &TSmtpDlg::CancelBtnClick);
}

TSmtpDlg::~TSmtpDlg() = default;

void TSmtpDlg::showEvent(QShowEvent* event)
{
    if (!event->spontaneous()) {
        TranslateForm(this);
        // The unit labels beside the spin boxes describe them to assistive technology too.
        m_ui->WaitSecEdit->setAccessibleDescription(m_ui->Label5->text());
        m_ui->RepeattimesEdit->setAccessibleDescription(m_ui->Label7->text());
        loadControls();
        Modified = false;
        m_ui->GroupBox1->setEnabled(Editable);
        m_ui->GroupBox2->setEnabled(Editable);
        CentreOnScreen(this);
    }
    QDialog::showEvent(event);
}

void TSmtpDlg::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Cancel)) {
        CancelBtnClick();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TSmtpDlg::loadControls()
{
    m_ui->SmtpAddrEdit->setText(Gbk::fieldText(Settings.smtpaddr));
    m_ui->SmtpPortEdit->setText(QString::number(Settings.smtpport));
    m_ui->EmailAddrEdit->setText(Gbk::fieldText(Settings.LocalEmailAddr));
    m_ui->NeedAuthChk->setChecked(Settings.NeedAuth != 0);
    m_ui->UsernameEdit->setText(Gbk::fieldText(Settings.Username));
    m_ui->PasswordEdit->setText(Gbk::fieldText(Settings.Password));
    // The spin boxes bring the values into their ranges (a WaitSeconds of 120 from the ini file shows as 60).
    m_ui->WaitSecEdit->setValue(Settings.WaitSeconds);
    m_ui->RepeattimesEdit->setValue(Settings.MaxSendTries);
    m_ui->UsernameEdit->setEnabled(m_ui->NeedAuthChk->isChecked());
    m_ui->PasswordEdit->setEnabled(m_ui->NeedAuthChk->isChecked());
}

void TSmtpDlg::NeedAuthChkClick()
{
    m_ui->UsernameEdit->setEnabled(m_ui->NeedAuthChk->isChecked());
    m_ui->PasswordEdit->setEnabled(m_ui->NeedAuthChk->isChecked());
    Modified = true;
}

bool TSmtpDlg::fail(QWidget* field, const QString& text)
{
    MessageBoxes::information(this, text);
    field->setFocus();
    return false;
}

bool TSmtpDlg::checkAndStore()
{
    const QString server = trimEdit(m_ui->SmtpAddrEdit);
    const QString portText = trimEdit(m_ui->SmtpPortEdit);
    const QString sender = trimEdit(m_ui->EmailAddrEdit);
    const QString user = trimEdit(m_ui->UsernameEdit);
    const QString password = trimEdit(m_ui->PasswordEdit);

    if (server.isEmpty()) {
        return fail(m_ui->SmtpAddrEdit, GetLangText(Text::Str0));
    }
    storeText(Settings.smtpaddr, server);
    bool isNumber = false;
    const int port = portText.toInt(&isNumber, 10);
    if (!isNumber) {
        return fail(m_ui->SmtpPortEdit, GetLangText(Text::Str5));
    }
    Settings.smtpport = port;
    if (port < 1 || port > 65535) {
        return fail(m_ui->SmtpPortEdit, GetLangText(Text::Str1));
    }
    if (sender.isEmpty()) {
        return fail(m_ui->EmailAddrEdit, GetLangText(Text::Str2));
    }
    if (!FieldInput::HasAddressShape(sender)) {
        return fail(m_ui->EmailAddrEdit, GetLangText(Text::Str3));
    }
    storeText(Settings.LocalEmailAddr, sender);
    Settings.NeedAuth = m_ui->NeedAuthChk->isChecked() ? 1 : 0;
    if (Settings.NeedAuth && user.isEmpty()) {
        return fail(m_ui->UsernameEdit, GetLangText(Text::Str4));
    }
    // Stored also when no login is asked for, so ticking the box later brings them back.
    storeText(Settings.Username, user);
    storeText(Settings.Password, password);
    Settings.WaitSeconds = FieldInput::SpinNumber(m_ui->WaitSecEdit);
    Settings.MaxSendTries = FieldInput::SpinNumber(m_ui->RepeattimesEdit);
    return true;
}

void TSmtpDlg::OkBtnClick()
{
    if (!Editable) {
        reject();
        return;
    }
    if (checkAndStore()) {
        accept();
    }
}

void TSmtpDlg::CancelBtnClick()
{
    if (Modified) {
        const MessageBoxes::Request question{
            QMessageBox::Question, {}, GetLangText(Text::Str6), QMessageBox::Yes | QMessageBox::No, QMessageBox::No};
        if (MessageBoxes::show(this, question) == QMessageBox::No) {
            return;
        }
    }
    reject();
}
