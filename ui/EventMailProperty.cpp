// SPDX-License-Identifier: MIT
#include "EventMailProperty.h"

#include "FieldInput.h"
#include "FormTranslator.h"
#include "GbkCodec.h"
#include "GbkLimitValidator.h"
#include "MLEngine.h"
#include "MessageBoxes.h"
#include "QorsmailFunc.h"
#include "SelAddrDlg.h"
#include "TaskEditRules.h"
#include "ui_EventMailProperty.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QShowEvent>
#include <cstring>

namespace {

QCheckBox* levelBox(Ui::TEventmailPropertyDlg& ui, size_t level)
{
    QCheckBox* boxes[4] = {ui.Alarm0Chk, ui.Alarm1Chk, ui.Alarm2Chk, ui.Alarm3Chk};
    return boxes[level];
}

} // namespace

TEventmailPropertyDlg::TEventmailPropertyDlg(const TMailTables& tables, TSelEmailAddrDlg& selector, QWidget* parent)
    : TTaskPropertyDlg(selector, parent)
    , m_tables(tables)
    , m_ui(std::make_unique<Ui::TEventmailPropertyDlg>())
{
    m_ui->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    FieldInput::LimitToTitle(m_ui->TitleEdit, TitleLimit);
    m_ui->KeywordEdit->setValidator(new TGbkLimitValidator(KeywordLimit, m_ui->KeywordEdit));
    m_popupMenu = new QMenu(this);
    m_popupMenu->setObjectName(QStringLiteral("PopupMenu1"));
    m_popupMenu->addAction(m_ui->SelectAllType1);
    m_popupMenu->addAction(m_ui->UnSelectAllType1);

    TranslateForm(this);
    m_ui->SelEventTypeList->clear();
    for (int i = 0; i < EventTypeListCount; ++i) {
        const QString key = QStringLiteral("EventTypeName%1").arg(i);
        auto* item = new QListWidgetItem(GetLangText(QString::fromLatin1(LangText::EventTypeName_Section),
                                             key,
                                             QString::fromUtf8(EventTypeList[i].BuiltInName)),
            m_ui->SelEventTypeList);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
    // The client area of the form, or more where the texts need it; not resizable.
    setFixedSize(sizeHint().expandedTo(QSize(457, 489)));

    connect(m_ui->OkBtn, &QPushButton::clicked, this, &TEventmailPropertyDlg::OkBtnClick);
    connect(m_ui->CancelBtn, &QPushButton::clicked, this, &TEventmailPropertyDlg::CancelBtnClick);
    connect(m_ui->Button1, &QPushButton::clicked, this, &TEventmailPropertyDlg::Button1Click);
    connect(m_ui->SelectAllType1, &QAction::triggered, this, &TEventmailPropertyDlg::SelectAllType1Click);
    connect(m_ui->UnSelectAllType1, &QAction::triggered, this, &TEventmailPropertyDlg::UnSelectAllType1Click);
    connect(
        m_ui->SelEventTypeList, &QWidget::customContextMenuRequested, this, &TEventmailPropertyDlg::PopupMenu1Popup);

    connect(m_ui->TitleEdit, &QLineEdit::textChanged, this, &TEventmailPropertyDlg::TitleEditChange);
    connect(m_ui->ReceiverMemo, &QPlainTextEdit::textChanged, this, &TEventmailPropertyDlg::TitleEditChange);
    connect(m_ui->KeywordEdit, &QLineEdit::textChanged, this, &TEventmailPropertyDlg::TitleEditChange);
    connect(m_ui->WaitSecEdit, &QSpinBox::valueChanged, this, &TEventmailPropertyDlg::TitleEditChange);
    connect(m_ui->SelEventTypeList, &QListWidget::itemClicked, this, &TEventmailPropertyDlg::TitleEditChange);
    // A tick by the keyboard (Space) or by the popup commands changes the task as a click does.
    connect(m_ui->SelEventTypeList, &QListWidget::itemChanged, this, &TEventmailPropertyDlg::TitleEditChange);
    for (size_t level = 0; level < 4; ++level) {
        connect(levelBox(*m_ui, level), &QCheckBox::toggled, this, &TEventmailPropertyDlg::TitleEditChange);
    }

    Editable = 0;
    LoadDefaults();
}

TEventmailPropertyDlg::~TEventmailPropertyDlg() = default;

void TEventmailPropertyDlg::LoadDefaults()
{
    Gbk::storeField(Task.Title, GetLangText(LangText::EventMail_Str::Str0));
    Task.Reserved = 0;
    Task.TypeCount = 0;
    std::memset(Task.Types, 0, sizeof(Task.Types));
    std::memset(Task.Keyword, 0, sizeof(Task.Keyword));
    Task.LevelMask = -1;
    Task.WaitSec = 60;
    Task.ReceiverCount = 0;
    std::memset(Task.Receivers, 0, sizeof(Task.Receivers));
}

void TEventmailPropertyDlg::showEvent(QShowEvent* event)
{
    if (!event->spontaneous()) {
        FormShow();
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            move(screen->availableGeometry().center() - rect().center());
        }
    }
    QDialog::showEvent(event);
}

void TEventmailPropertyDlg::FormShow()
{
    m_ui->TitleEdit->setText(Gbk::fieldText(Task.Title));
    // The spin edit brings a stored value outside 0..3600 to the nearer bound.
    m_ui->WaitSecEdit->setValue(Task.WaitSec);
    showReceivers();
    m_ui->KeywordEdit->setText(Gbk::fieldText(Task.Keyword));
    const TaskEdit::TTypeTicks types = TaskEdit::TypeTicks(Task);
    for (int i = 0; i < EventTypeListCount; ++i) {
        m_ui->SelEventTypeList->item(i)->setCheckState(types[static_cast<size_t>(i)] ? Qt::Checked : Qt::Unchecked);
    }
    const TaskEdit::TLevelTicks levels = TaskEdit::LevelTicks(Task.LevelMask);
    for (size_t level = 0; level < 4; ++level) {
        levelBox(*m_ui, level)->setChecked(levels[level]);
    }
    m_ui->GroupBox1->setEnabled(Editable == 1);
    m_ui->GroupBox2->setEnabled(Editable == 1);
    m_ui->TitleEdit->setFocus();
    // Filling the controls fired the change handler.
    Modified = 0;
}

void TEventmailPropertyDlg::showReceivers()
{
    m_ui->ReceiverMemo->setPlainText(TaskEdit::MemoText(TaskEdit::ReceiverLines(Task.Receivers, Task.ReceiverCount)));
}

bool TEventmailPropertyDlg::validateAndStore()
{
    const QString title = TaskEdit::TrimBlanks(m_ui->TitleEdit->text());
    m_ui->TitleEdit->setText(title);
    if (title.isEmpty()) {
        return fail(m_ui->TitleEdit, GetLangText(LangText::EventMail_Str::Str1));
    }
    Gbk::storeField(Task.Title, title);

    // A cleared field reads as 0, as in the SMTP dialog, not as the value it showed before.
    Task.WaitSec = FieldInput::SpinNumber(m_ui->WaitSecEdit);

    Task.ReceiverCount =
        ParseRecipients(m_tables, Task.Receivers, MaxReceivers, TaskEdit::MemoLines(m_ui->ReceiverMemo->toPlainText()));
    if (Task.ReceiverCount < 1) {
        return fail(m_ui->ReceiverMemo, GetLangText(LangText::EventMail_Str::Str2));
    }

    // As typed: blanks around the keyword belong to it. The edit holds no more than the field.
    Gbk::storeField(Task.Keyword, m_ui->KeywordEdit->text());

    TaskEdit::TTypeTicks types{};
    for (int i = 0; i < EventTypeListCount; ++i) {
        types[static_cast<size_t>(i)] = m_ui->SelEventTypeList->item(i)->checkState() == Qt::Checked;
    }
    TaskEdit::StoreTypeTicks(Task, types);

    TaskEdit::TLevelTicks levels{};
    for (size_t level = 0; level < 4; ++level) {
        levels[level] = levelBox(*m_ui, level)->isChecked();
    }
    Task.LevelMask = TaskEdit::LevelMaskFromTicks(levels);
    return true;
}

void TEventmailPropertyDlg::Button1Click()
{
    const int count = chooseReceivers(m_ui->ReceiverMemo->toPlainText(), Task.Receivers);
    if (count >= 0) {
        Task.ReceiverCount = count;
        showReceivers();
    }
}

QString TEventmailPropertyDlg::cancelQuestion() const
{
    return GetLangText(LangText::EventMail_Str::Str4);
}

void TEventmailPropertyDlg::setAllTypeTicks(bool ticked)
{
    for (int i = 0; i < m_ui->SelEventTypeList->count(); ++i) {
        m_ui->SelEventTypeList->item(i)->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
    }
    // Also when nothing changed: the user chose a command that changes the task.
    Modified = 1;
}

void TEventmailPropertyDlg::SelectAllType1Click()
{
    setAllTypeTicks(true);
}

void TEventmailPropertyDlg::UnSelectAllType1Click()
{
    setAllTypeTicks(false);
}

void TEventmailPropertyDlg::PopupMenu1Popup(const QPoint& pos)
{
    m_popupMenu->popup(m_ui->SelEventTypeList->viewport()->mapToGlobal(pos));
}
