// SPDX-License-Identifier: MIT
#include "AddressBookDlg.h"

#include "CentreOnScreen.h"
#include "FieldInput.h"
#include "FormTranslator.h"
#include "GbkCodec.h"
#include "LangTexts.h"
#include "MLEngine.h"
#include "MessageBoxes.h"
#include "ui_AddressBookDlg.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QPushButton>
#include <QShowEvent>

namespace Text = LangText::AddressBook_Str;
using FieldInput::TrimBlanks;

namespace {

// Each row keeps the bytes it was loaded with: a name or address that is not valid GBK (a byte such as 0x80)
// would otherwise come back changed, and possibly longer, from its decoded text.
constexpr int LoadedBytesRole = Qt::UserRole;

QByteArray rowBytes(const QTreeWidgetItem* row, int column)
{
    const QByteArray loaded = row->data(column, LoadedBytesRole).toByteArray();
    const QString text = row->text(column);
    return Gbk::decode(loaded) == text ? loaded : Gbk::encode(text);
}

QString quoted(const QString& name)
{
    return QStringLiteral("\" ") + name + QStringLiteral(" \"");
}

// A message about a name: format's %1 is the name; by default the join of the quoted name and the older text.
QString aboutName(const LangText::JoinedEntry& format, const QString& joined, const QString& name)
{
    return FillText(GetLangText(format, joined), {name});
}

} // namespace

TAddressBookForm::TAddressBookForm(TMailTables& tables, QWidget* parent)
    : QDialog(parent)
    , m_tables(tables)
    , m_ui(std::make_unique<Ui::TAddressBookForm>())
{
    m_ui->setupUi(this);
    m_ui->AddressBookList->header()->resizeSection(0, 100);
    m_ui->AddressBookList->header()->resizeSection(1, 240);
    FieldInput::LimitToField(m_ui->NameEdit);
    FieldInput::LimitToField(m_ui->EmailEdit);
    m_ui->AddressBookList->installEventFilter(this);
    m_ui->NameEdit->installEventFilter(this);
    m_ui->EmailEdit->installEventFilter(this);

    connect(m_ui->AddNewBtn, &QPushButton::clicked, this, &TAddressBookForm::AddNewBtnClick);
    connect(m_ui->AddressBookList, &QTreeWidget::itemDoubleClicked, this, &TAddressBookForm::AddressBookListDblClick);
    connect(m_ui->OkBtn, &QPushButton::clicked, this, &TAddressBookForm::OkBtnClick);
    connect(m_ui->CancelBtn, &QPushButton::clicked, this, &TAddressBookForm::CancelBtnClick);
}

TAddressBookForm::~TAddressBookForm() = default;

void TAddressBookForm::showEvent(QShowEvent* event)
{
    if (!event->spontaneous()) {
        TranslateForm(this);
        // The list has no label: it is named after the window's caption, which a sighted user reads above it.
        m_ui->AddressBookList->setAccessibleName(windowTitle());
        m_ui->NameEdit->clear();
        m_ui->EmailEdit->clear();
        m_ui->AddressBookList->clear();
        QList<QTreeWidgetItem*> rows;
        for (const TMailAddr& entry : m_tables.AddrBook) {
            const QByteArray name = Gbk::fieldBytes(entry.Name);
            const QByteArray addr = Gbk::fieldBytes(entry.Addr);
            auto* row = new QTreeWidgetItem(QStringList{Gbk::decode(name), Gbk::decode(addr)});
            row->setData(0, LoadedBytesRole, name);
            row->setData(1, LoadedBytesRole, addr);
            rows << row;
        }
        m_ui->AddressBookList->addTopLevelItems(rows);
        Modified = false;
        m_ui->GroupBox1->setEnabled(Editable);
        CentreOnScreen(this);
    }
    QDialog::showEvent(event);
}

void TAddressBookForm::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Cancel)) {
        CancelBtnClick();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool TAddressBookForm::eventFilter(QObject* watched, QEvent* event)
{
    // Return in the add fields adds what was typed there instead of pressing OK, which would drop it.
    if ((watched == m_ui->NameEdit || watched == m_ui->EmailEdit) && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool typed = !m_ui->NameEdit->text().isEmpty() || !m_ui->EmailEdit->text().isEmpty();
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && typed) {
            AddNewBtnClick();
            return true;
        }
    }
    if (watched == m_ui->AddressBookList && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Delete && key->modifiers() == Qt::NoModifier) {
            AddressBookListDelete();
            return true;
        }
        // F2 edits as a double click does, so the keyboard reaches every command of the list.
        if (key->key() == Qt::Key_F2 && key->modifiers() == Qt::NoModifier) {
            AddressBookListDblClick();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

QTreeWidgetItem* TAddressBookForm::selectedRow() const
{
    const QList<QTreeWidgetItem*> selected = m_ui->AddressBookList->selectedItems();
    return selected.isEmpty() ? nullptr : selected.first();
}

bool TAddressBookForm::nameTaken(const QString& name, const QTreeWidgetItem* except) const
{
    const QString upper = FieldInput::UpperAscii(name);
    for (int i = 0; i < m_ui->AddressBookList->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* row = m_ui->AddressBookList->topLevelItem(i);
        if (row != except && FieldInput::UpperAscii(row->text(0)) == upper) {
            return true;
        }
    }
    return false;
}

void TAddressBookForm::fail(QWidget* field, const QString& text)
{
    MessageBoxes::information(this, text);
    if (field) {
        field->setFocus();
    }
}

void TAddressBookForm::AddNewBtnClick()
{
    const QString name = TrimBlanks(m_ui->NameEdit->text());
    const QString addr = TrimBlanks(m_ui->EmailEdit->text());
    m_ui->NameEdit->setText(name);
    m_ui->EmailEdit->setText(addr);
    if (name.isEmpty()) {
        return;
    }
    if (!FieldInput::HasAddressShape(addr)) {
        fail(m_ui->EmailEdit, GetLangText(Text::Str1));
        return;
    }
    if (nameTaken(name, nullptr)) {
        fail(m_ui->NameEdit,
            aboutName(LangText::Format_Str::Str21,
                quoted(QStringLiteral("%1")) + QLatin1Char(' ') + GetLangText(Text::Str2),
                name));
        return;
    }
    m_ui->AddressBookList->addTopLevelItem(new QTreeWidgetItem(QStringList{name, addr}));
    Modified = true;
    m_ui->NameEdit->clear();
    m_ui->EmailEdit->clear();
}

void TAddressBookForm::AddressBookListDblClick()
{
    QTreeWidgetItem* row = selectedRow();
    if (!row) {
        return;
    }
    const std::optional<QString> nameAnswer =
        MessageBoxes::getText(this, {GetLangText(Text::Str3), GetLangText(Text::Str4), row->text(0)});
    if (!nameAnswer) {
        return;
    }
    const QString name = TrimBlanks(*nameAnswer);
    if (name != row->text(0)) {
        if (name.isEmpty()) {
            fail(nullptr, GetLangText(Text::Str5));
            return;
        }
        // A longer name cannot be stored whole; it is refused, never cut.
        if (!FieldInput::FitsField(name)) {
            fail(nullptr, GetLangText(LangText::FieldLength_Str::Str0));
            return;
        }
        if (nameTaken(name, row)) {
            fail(nullptr,
                aboutName(LangText::Format_Str::Str22, quoted(QStringLiteral("%1")) + GetLangText(Text::Str6), name));
            return;
        }
    }
    const std::optional<QString> addrAnswer =
        MessageBoxes::getText(this, {GetLangText(Text::Str7), GetLangText(Text::Str8), row->text(1)});
    if (!addrAnswer) {
        return;
    }
    const QString addr = TrimBlanks(*addrAnswer);
    if (!FieldInput::HasAddressShape(addr)) {
        fail(nullptr, GetLangText(Text::Str9));
        return;
    }
    if (!FieldInput::FitsField(addr)) {
        fail(nullptr, GetLangText(LangText::FieldLength_Str::Str1));
        return;
    }
    if (name == row->text(0) && addr == row->text(1)) {
        return;
    }
    row->setText(0, name);
    row->setText(1, addr);
    Modified = true;
}

void TAddressBookForm::AddressBookListDelete()
{
    QTreeWidgetItem* row = selectedRow();
    if (!row) {
        return;
    }
    const QString text = aboutName(LangText::Format_Str::Str20,
        GetLangText(Text::Str10) + quoted(QStringLiteral("%1")) + QStringLiteral(" ?"),
        row->text(0));
    const MessageBoxes::Request question{
        QMessageBox::Warning, {}, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No};
    if (MessageBoxes::show(this, question) == QMessageBox::No) {
        return;
    }
    delete row;
    Modified = true;
}

void TAddressBookForm::OkBtnClick()
{
    if (!Editable) {
        reject();
        return;
    }
    const int count = m_ui->AddressBookList->topLevelItemCount();
    std::vector<TMailAddr> book(static_cast<size_t>(count), TMailAddr{});
    for (int i = 0; i < count; ++i) {
        const QTreeWidgetItem* row = m_ui->AddressBookList->topLevelItem(i);
        Gbk::storeFieldBytes(book[static_cast<size_t>(i)].Name, rowBytes(row, 0));
        Gbk::storeFieldBytes(book[static_cast<size_t>(i)].Addr, rowBytes(row, 1));
    }
    m_tables.AddrBook = std::move(book);
    accept();
}

void TAddressBookForm::CancelBtnClick()
{
    if (Modified) {
        const MessageBoxes::Request question{
            QMessageBox::Question, {}, GetLangText(Text::Str0), QMessageBox::Yes | QMessageBox::No, QMessageBox::No};
        if (MessageBoxes::show(this, question) == QMessageBox::No) {
            return;
        }
    }
    reject();
}
