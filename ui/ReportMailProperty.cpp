// SPDX-License-Identifier: MIT
#include "ReportMailProperty.h"

#include "Ch_file.h"
#include "FieldInput.h"
#include "FormTranslator.h"
#include "GbkCodec.h"
#include "MLEngine.h"
#include "MessageBoxes.h"
#include "QorsmailFunc.h"
#include "SelAddrDlg.h"
#include "TaskEditRules.h"
#include "ui_ReportMailProperty.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QScreen>
#include <QShowEvent>
#include <cstring>

TReportmailPropertyDlg::TReportmailPropertyDlg(
    const TMailTables& tables, TSelEmailAddrDlg& selector, Tch_file_dlg& chooser, QWidget* parent)
    : TTaskPropertyDlg(selector, parent)
    , m_tables(tables)
    , m_chooser(chooser)
    , m_ui(std::make_unique<Ui::TReportmailPropertyDlg>())
{
    m_ui->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    FieldInput::LimitToTitle(m_ui->TitleEdit, TitleLimit);
    TranslateForm(this);
    // The inner groups are named by their own titles, so a screen reader tells the start-time fields from the
    // interval fields (otherwise both are reached under the outer group's name).
    for (QGroupBox* group : {m_ui->TimeGroup, m_ui->IntervalGroup}) {
        group->setAccessibleName(group->title());
    }
    setFixedSize(sizeHint().expandedTo(size()));

    connect(m_ui->OkBtn, &QPushButton::clicked, this, &TReportmailPropertyDlg::OkBtnClick);
    connect(m_ui->CancelBtn, &QPushButton::clicked, this, &TReportmailPropertyDlg::CancelBtnClick);
    connect(m_ui->ReceiverBtn, &QPushButton::clicked, this, &TReportmailPropertyDlg::ReceiverBtnClick);
    connect(m_ui->FileListBtn, &QToolButton::clicked, this, &TReportmailPropertyDlg::FileListBtnClick);

    connect(m_ui->TitleEdit, &QLineEdit::textChanged, this, &TReportmailPropertyDlg::TitleEditChange);
    connect(m_ui->ReceiverMemo, &QPlainTextEdit::textChanged, this, &TReportmailPropertyDlg::TitleEditChange);
    connect(m_ui->FilesMemo, &QPlainTextEdit::textChanged, this, &TReportmailPropertyDlg::TitleEditChange);
    for (QLineEdit* edit : timeEdits()) {
        connect(edit, &QLineEdit::textChanged, this, &TReportmailPropertyDlg::TitleEditChange);
    }
    for (QLineEdit* edit : intervalEdits()) {
        connect(edit, &QLineEdit::textChanged, this, &TReportmailPropertyDlg::TitleEditChange);
    }
    for (QRadioButton* radio :
        {m_ui->AutoTypeRadio1, m_ui->AutoTypeRadio2, m_ui->AutoTypeRadio3, m_ui->AutoTypeRadio4}) {
        connect(radio, &QRadioButton::clicked, this, &TReportmailPropertyDlg::TitleEditChange);
    }

    Editable = 0;
    LoadDefaults();
}

TReportmailPropertyDlg::~TReportmailPropertyDlg() = default;

std::array<QLineEdit*, 5> TReportmailPropertyDlg::timeEdits() const
{
    return {m_ui->YearEdit, m_ui->MonthEdit, m_ui->DayEdit, m_ui->HourEdit, m_ui->MinuteEdit};
}

std::array<QLineEdit*, 5> TReportmailPropertyDlg::intervalEdits() const
{
    return {m_ui->YearEdit1, m_ui->MonthEdit1, m_ui->DayEdit1, m_ui->HourEdit1, m_ui->MinuteEdit1};
}

void TReportmailPropertyDlg::LoadDefaults()
{
    Gbk::storeField(Task.Title, GetLangText(LangText::ReportMail_Str::Str0));
    Task.FileCount = 0;
    std::memset(Task.Files, 0, sizeof(Task.Files));
    Task.SendType = 1;
    Task.SendTime = SYSTEMTIME{};
    Task.SendInterval = SYSTEMTIME{};
    Task.ReceiverCount = 0;
    std::memset(Task.Receivers, 0, sizeof(Task.Receivers));
}

void TReportmailPropertyDlg::showEvent(QShowEvent* event)
{
    if (!event->spontaneous()) {
        FormShow();
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            move(screen->availableGeometry().center() - rect().center());
        }
    }
    QDialog::showEvent(event);
}

void TReportmailPropertyDlg::FormShow()
{
    m_ui->TitleEdit->setText(Gbk::fieldText(Task.Title));
    showReceivers();
    m_ui->FilesMemo->setPlainText(TaskEdit::MemoText(TaskEdit::ReportFileLines(Task)));
    QRadioButton* radios[4] = {m_ui->AutoTypeRadio1, m_ui->AutoTypeRadio2, m_ui->AutoTypeRadio3, m_ui->AutoTypeRadio4};
    radios[(Task.SendType >= 1 && Task.SendType <= 4) ? Task.SendType - 1 : 0]->setChecked(true);
    const TaskEdit::TTimeTexts time = TaskEdit::TimeTexts(Task.SendTime);
    const TaskEdit::TTimeTexts interval = TaskEdit::TimeTexts(Task.SendInterval);
    for (size_t i = 0; i < 5; ++i) {
        timeEdits()[i]->setText(time[i]);
        intervalEdits()[i]->setText(interval[i]);
    }
    m_ui->GroupBox1->setEnabled(Editable == 1);
    m_ui->GroupBox2->setEnabled(Editable == 1);
    m_ui->TitleEdit->setFocus();
    // Filling the controls fired the change handler.
    Modified = 0;
}

void TReportmailPropertyDlg::showReceivers()
{
    m_ui->ReceiverMemo->setPlainText(TaskEdit::MemoText(TaskEdit::ReceiverLines(Task.Receivers, Task.ReceiverCount)));
}

bool TReportmailPropertyDlg::validateAndStore()
{
    const QString title = TaskEdit::TrimBlanks(m_ui->TitleEdit->text());
    m_ui->TitleEdit->setText(title);
    if (title.isEmpty()) {
        return fail(m_ui->TitleEdit, GetLangText(LangText::ReportMail_Str::Str1));
    }
    Gbk::storeField(Task.Title, title);

    Task.ReceiverCount =
        ParseRecipients(m_tables, Task.Receivers, MaxReceivers, TaskEdit::MemoLines(m_ui->ReceiverMemo->toPlainText()));
    if (Task.ReceiverCount < 1) {
        return fail(m_ui->ReceiverMemo, GetLangText(LangText::ReportMail_Str::Str2));
    }

    const TaskEdit::TFileStore files =
        TaskEdit::StoreReportFiles(Task, TaskEdit::MemoLines(m_ui->FilesMemo->toPlainText()));
    if (files.LongLine >= 0) {
        // A cut path would name another file, which would never be found.
        return fail(m_ui->FilesMemo,
            GetLangText(LangText::ReportMailCheck_Str::Str0)
                .arg(files.LongLine + 1)
                .arg(TaskEdit::ReportFileLimit)
                .arg(files.LongText));
    }
    if (files.Count == 0) {
        return fail(m_ui->FilesMemo, GetLangText(LangText::ReportMail_Str::Str3));
    }

    Task.SendType = 1;
    for (QRadioButton* radio :
        {m_ui->AutoTypeRadio1, m_ui->AutoTypeRadio2, m_ui->AutoTypeRadio3, m_ui->AutoTypeRadio4}) {
        if (radio->isChecked()) {
            Task.SendType = radio->property("Tag").toInt();
            break;
        }
    }

    const std::array<QLineEdit*, 5> groups[2] = {timeEdits(), intervalEdits()};
    SYSTEMTIME* targets[2] = {&Task.SendTime, &Task.SendInterval};
    for (size_t g = 0; g < 2; ++g) {
        TaskEdit::TTimeTexts texts;
        for (size_t i = 0; i < 5; ++i) {
            texts[i] = groups[g][i]->text();
        }
        const TaskEdit::TTimeCheck check = TaskEdit::StoreTimeTexts(*targets[g], texts);
        if (check.Error) {
            return fail(groups[g][static_cast<size_t>(check.Field)], GetLangText(*check.Error));
        }
    }
    return true;
}

void TReportmailPropertyDlg::ReceiverBtnClick()
{
    const int count = chooseReceivers(m_ui->ReceiverMemo->toPlainText(), Task.Receivers);
    if (count >= 0) {
        Task.ReceiverCount = count;
        showReceivers();
    }
}

QString TReportmailPropertyDlg::cancelQuestion() const
{
    return GetLangText(LangText::ReportMail_Str::Str9);
}

void TReportmailPropertyDlg::FileListBtnClick()
{
    m_chooser.SetFilter(GetLangText(LangText::ReportMail_Str::Str10));
    m_chooser.SetNameReadOnly(true);
    if (MessageBoxes::execDialog(m_chooser) != QDialog::Accepted) {
        return;
    }
    const QFileInfo chosen(m_chooser.SelectedFile);
    if (!chosen.isFile()) {
        MessageBoxes::information(this, GetLangText(LangText::ReportMail_Str::Str11));
        return;
    }
    const QString file = TaskEdit::TrimBlanks(m_chooser.SelectedFile);
    QStringList lines = TaskEdit::MemoLines(m_ui->FilesMemo->toPlainText());
    // Compared exactly: two names that differ only in letter case are two files here.
    if (TaskEdit::ReportFileListed(lines, file)) {
        return;
    }
    lines << file;
    m_ui->FilesMemo->setPlainText(TaskEdit::MemoText(lines));
    Modified = 1;
}
