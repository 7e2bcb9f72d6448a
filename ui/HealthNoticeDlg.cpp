// SPDX-License-Identifier: MIT
#include "HealthNoticeDlg.h"

#include "FormTranslator.h"
#include "LangTexts.h"
#include "MLEngine.h"
#include "MessageBoxes.h"
#include "ui_HealthNoticeDlg.h"

namespace Text = LangText::HealthNotice_Str;

namespace {

// The entries of ScheduleCombo.
constexpr int NoHealthMail = 0;
constexpr int DailyHealthMail = 1;
constexpr int HourlyHealthMail = 2;

} // namespace

THealthNoticeDlg::THealthNoticeDlg(QWidget* parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::THealthNoticeDlg>())
{
    m_ui->setupUi(this);
    TranslateForm(this);
    m_ui->EveryHoursSpin->setRange(1, MaxHealthEveryHours);
    connect(m_ui->RecipientsEdit, &QLineEdit::textEdited, this, &THealthNoticeDlg::FieldChange);
    connect(m_ui->ScheduleCombo, &QComboBox::activated, this, &THealthNoticeDlg::FieldChange);
    connect(m_ui->ScheduleCombo, &QComboBox::currentIndexChanged, this, &THealthNoticeDlg::ScheduleComboChange);
    connect(m_ui->TimeEdit, &QTimeEdit::timeChanged, this, &THealthNoticeDlg::FieldChange);
    connect(m_ui->EveryHoursSpin, &QSpinBox::valueChanged, this, &THealthNoticeDlg::FieldChange);
    connect(m_ui->GiveUpChk, &QCheckBox::toggled, this, &THealthNoticeDlg::FieldChange);
    connect(m_ui->MissingReportChk, &QCheckBox::toggled, this, &THealthNoticeDlg::FieldChange);
    connect(m_ui->OkBtn, &QPushButton::clicked, this, &THealthNoticeDlg::OkBtnClick);
    connect(m_ui->CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
}

THealthNoticeDlg::~THealthNoticeDlg() = default;

void THealthNoticeDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    m_ui->RecipientsEdit->setText(Health.recipients.join(QStringLiteral(", ")));
    const int schedule =
        Health.everyHours > 0 ? HourlyHealthMail : (Health.timeOfDay >= 0 ? DailyHealthMail : NoHealthMail);
    m_ui->ScheduleCombo->setCurrentIndex(schedule);
    ScheduleComboChange(schedule);
    const int minutes = Health.timeOfDay >= 0 ? Health.timeOfDay : 8 * 60;
    m_ui->TimeEdit->setTime(QTime(minutes / 60, minutes % 60));
    m_ui->EveryHoursSpin->setValue(Health.everyHours > 0 ? Health.everyHours : 24);
    m_ui->GiveUpChk->setChecked(Notices.giveUp);
    m_ui->MissingReportChk->setChecked(Notices.missingReport);
    for (QWidget* group : {static_cast<QWidget*>(m_ui->HealthGroup), static_cast<QWidget*>(m_ui->NoticeGroup)}) {
        group->setEnabled(Editable);
    }
    m_ui->RecipientsEdit->setFocus();
    Modified = false;
}

void THealthNoticeDlg::ScheduleComboChange(int index)
{
    m_ui->TimeEdit->setEnabled(index == DailyHealthMail);
    m_ui->TimeLabel->setEnabled(index == DailyHealthMail);
    m_ui->EveryHoursSpin->setEnabled(index == HourlyHealthMail);
    m_ui->EveryHoursLabel->setEnabled(index == HourlyHealthMail);
}

bool THealthNoticeDlg::fail(QWidget* field, const QString& text)
{
    MessageBoxes::error(this, text);
    field->setFocus();
    return false;
}

bool THealthNoticeDlg::checkAndStore()
{
    const std::optional<QStringList> recipients = ParseHealthRecipients(m_ui->RecipientsEdit->text());
    if (!recipients) {
        return fail(m_ui->RecipientsEdit, GetLangText(Text::Str0));
    }
    const int schedule = m_ui->ScheduleCombo->currentIndex();
    if (recipients->isEmpty() && (schedule != NoHealthMail || m_ui->GiveUpChk->isChecked())) {
        // Neither the health mail nor the notice of given-up mails would have anyone to go to.
        return fail(m_ui->RecipientsEdit, GetLangText(Text::Str1));
    }
    Health.recipients = *recipients;
    const QTime time = m_ui->TimeEdit->time();
    Health.timeOfDay = schedule == DailyHealthMail ? time.hour() * 60 + time.minute() : -1;
    Health.everyHours = schedule == HourlyHealthMail ? m_ui->EveryHoursSpin->value() : 0;
    Notices.giveUp = m_ui->GiveUpChk->isChecked();
    Notices.missingReport = m_ui->MissingReportChk->isChecked();
    return true;
}

void THealthNoticeDlg::OkBtnClick()
{
    if (!Editable) {
        reject();
        return;
    }
    if (checkAndStore()) {
        accept();
    }
}
