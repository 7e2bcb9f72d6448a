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

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QProxyStyle>
#include <QShowEvent>
#include <QSignalBlocker>
#include <algorithm>

namespace Text = LangText::SMTPSetup_Str;
namespace RelayText = LangText::SmtpRelay_Str;
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

int comboIndexOf(TStationTls tls)
{
    return tls == TStationTls::Implicit ? 1 : (tls == TStationTls::StartTls ? 2 : 0);
}

TStationTls securityOf(int comboIndex)
{
    return comboIndex == 1 ? TStationTls::Implicit : (comboIndex == 2 ? TStationTls::StartTls : TStationTls::None);
}

// A port edit that holds the usual port of the previous choice takes the usual port of the new one; one the user
// changed keeps its number.
void followSecurity(QLineEdit* port, TStationTls& shown, TStationTls chosen)
{
    if (TrimBlanks(port->text()) == QString::number(DefaultSmtpPort(shown))) {
        port->setText(QString::number(DefaultSmtpPort(chosen)));
    }
    shown = chosen;
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
    for (QLineEdit* edit : {m_ui->CAFileEdit,
             m_ui->FallbackHostEdit,
             m_ui->FallbackPortEdit,
             m_ui->FallbackUserEdit,
             m_ui->FallbackPasswordEdit}) {
        connect(edit, &QLineEdit::textChanged, this, &TSmtpDlg::FieldChange);
    }
    connect(m_ui->SecurityCombo, &QComboBox::currentIndexChanged, this, &TSmtpDlg::SecurityComboChange);
    connect(m_ui->FallbackSecurityCombo, &QComboBox::currentIndexChanged, this, &TSmtpDlg::FallbackSecurityComboChange);
    auto* passwordStyle = new TStarPasswordStyle;
    passwordStyle->setParent(this);
    m_ui->PasswordEdit->setStyle(passwordStyle);
    m_ui->FallbackPasswordEdit->setStyle(passwordStyle);

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
        // A tab's text is its page's caption, so the language file sets it like any other.
        for (int i = 0; i < m_ui->SmtpTabs->count(); ++i) {
            m_ui->SmtpTabs->setTabText(i, m_ui->SmtpTabs->widget(i)->windowTitle());
        }
        m_ui->SmtpTabs->setCurrentIndex(0);
        loadControls();
        Modified = false;
        m_ui->GroupBox1->setEnabled(Editable);
        m_ui->GroupBox2->setEnabled(Editable);
        m_ui->GroupBox3->setEnabled(Editable);
        fitWrappedLabels();
        CentreOnScreen(this);
    }
    QDialog::showEvent(event);
}

void TSmtpDlg::fitWrappedLabels()
{
    // The note is wrapped to the width the fields give it; its height follows once the layout has given it one
    // (the tab widget lays its pages out by their size hints, which know nothing of a text set at show time).
    layout()->activate();
    QLabel* note = m_ui->TlsNoteLabel;
    note->setMinimumHeight(note->text().isEmpty() ? 0 : note->heightForWidth(note->width()));
    // The new heights travel up through the tab widget as layout requests; the dialog's fixed size follows them.
    for (int round = 0; round < 3; ++round) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    }
    layout()->activate();
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

    {
        // Loading a choice is no change of it: the ports shown are the stored ones.
        const QSignalBlocker blockMain(m_ui->SecurityCombo);
        const QSignalBlocker blockFallback(m_ui->FallbackSecurityCombo);
        m_ui->SecurityCombo->setCurrentIndex(comboIndexOf(Security));
        m_ui->FallbackSecurityCombo->setCurrentIndex(comboIndexOf(Fallback.tls));
    }
    m_shownSecurity = Security;
    m_shownFallbackSecurity = Fallback.tls;
    m_ui->CAFileEdit->setText(CAFile);
    m_ui->FallbackHostEdit->setText(Fallback.host);
    m_ui->FallbackPortEdit->setText(QString::number(Fallback.effectivePort()));
    m_ui->FallbackUserEdit->setText(Fallback.user);
    m_ui->FallbackPasswordEdit->setText(Fallback.password);
    m_ui->TlsNoteLabel->setText(IniTlsKeys.isEmpty()
            ? QString()
            : GetLangText(RelayText::Str2)
                  .arg(QDir::toNativeSeparators(IniPath), IniTlsKeys.join(QStringLiteral(", "))));
    m_ui->TlsNoteLabel->setVisible(!IniTlsKeys.isEmpty());
}

void TSmtpDlg::SecurityComboChange(int index)
{
    followSecurity(m_ui->SmtpPortEdit, m_shownSecurity, securityOf(index));
    Modified = true;
}

void TSmtpDlg::FallbackSecurityComboChange(int index)
{
    followSecurity(m_ui->FallbackPortEdit, m_shownFallbackSecurity, securityOf(index));
    Modified = true;
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
    for (int i = 0; i < m_ui->SmtpTabs->count(); ++i) {
        if (m_ui->SmtpTabs->widget(i)->isAncestorOf(field)) {
            m_ui->SmtpTabs->setCurrentIndex(i);
        }
    }
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
    return checkAndStoreRelays();
}

bool TSmtpDlg::checkAndStoreRelays()
{
    Security = securityOf(m_ui->SecurityCombo->currentIndex());
    const QString caFile = trimEdit(m_ui->CAFileEdit);
    const QFileInfo caInfo(caFile);
    if (!caFile.isEmpty() && !(caInfo.isFile() && caInfo.isReadable())) {
        return fail(m_ui->CAFileEdit, GetLangText(RelayText::Str0));
    }
    CAFile = caFile;

    TRelaySettings f;
    f.host = trimEdit(m_ui->FallbackHostEdit);
    f.tls = securityOf(m_ui->FallbackSecurityCombo->currentIndex());
    f.user = trimEdit(m_ui->FallbackUserEdit);
    f.password = trimEdit(m_ui->FallbackPasswordEdit);
    bool isNumber = false;
    const int port = trimEdit(m_ui->FallbackPortEdit).toInt(&isNumber, 10);
    const bool portOk = isNumber && port >= 1 && port <= 65535;
    // Without a server the relay is off and nothing else of it is checked; what was typed is kept.
    if (!f.host.isEmpty()) {
        if (!IsRelayHostName(f.host)) {
            return fail(m_ui->FallbackHostEdit, GetLangText(RelayText::Str3));
        }
        if (!portOk) {
            return fail(m_ui->FallbackPortEdit, GetLangText(RelayText::Str1));
        }
    }
    // A relay that took the usual port keeps doing so when the port shown is still the usual one.
    f.port = !portOk || (Fallback.port == 0 && port == DefaultSmtpPort(f.tls)) ? 0 : port;
    Fallback = f;
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
