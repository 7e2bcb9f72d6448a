// SPDX-License-Identifier: MIT
#include "SelAddrDlg.h"

#include "FieldInput.h"
#include "FormTranslator.h"
#include "GbkCodec.h"
#include "LangTexts.h"
#include "MLEngine.h"
#include "MessageBoxes.h"
#include "QorsmailFunc.h"
#include "ui_SelAddrDlg.h"

#include <QPushButton>
#include <QShowEvent>
#include <algorithm>
#include <cstring>

TSelEmailAddrDlg::TSelEmailAddrDlg(const TMailTables& tables, QWidget* parent)
    : QDialog(parent)
    , m_tables(tables)
    , m_ui(std::make_unique<Ui::TSelEmailAddrDlg>())
{
    m_ui->setupUi(this);
    TranslateForm(this);
    // Item views take no name from a buddy label: they are named after the label a sighted user reads.
    m_ui->AddressBookList->setAccessibleName(m_ui->Label1->text());
    m_ui->ReceiverList->setAccessibleName(m_ui->Label2->text());
    connect(m_ui->AddBtn, &QPushButton::clicked, this, &TSelEmailAddrDlg::AddBtnClick);
    connect(m_ui->DelBtn, &QPushButton::clicked, this, &TSelEmailAddrDlg::DelBtnClick);
    connect(m_ui->OkBtn, &QPushButton::clicked, this, &TSelEmailAddrDlg::OkBtnClick);
    connect(m_ui->CancelBtn, &QPushButton::clicked, this, &TSelEmailAddrDlg::CancelBtnClick);
}

TSelEmailAddrDlg::~TSelEmailAddrDlg() = default;

void TSelEmailAddrDlg::LoadReceivers(const QStringList& lines)
{
    m_ui->ReceiverList->clear();
    m_ui->ReceiverList->addItems(lines);
    Modified = false;
}

int TSelEmailAddrDlg::GetReceivers(TMailAddr (&receivers)[MaxReceivers]) const
{
    const int count = std::min(m_ui->ReceiverList->count(), MaxReceivers);
    for (int i = 0; i < count; ++i) {
        const QString line = m_ui->ReceiverList->item(i)->text();
        TMailAddr& entry = receivers[i];
        const QByteArray addr = FindAddrByNameBytes(m_tables, Gbk::encode(line));
        // OK refuses a line longer than a field; storing cuts at a character boundary, so nothing overruns.
        if (!addr.isEmpty()) {
            Gbk::storeField(entry.Name, line);
            Gbk::storeFieldBytes(entry.Addr, addr);
        } else {
            Gbk::storeField(entry.Name, QString());
            Gbk::storeField(entry.Addr, line);
        }
    }
    // The rest is zeroed, so no earlier recipient lingers in the record's unused entries.
    std::memset(receivers + count, 0, sizeof(TMailAddr) * static_cast<size_t>(MaxReceivers - count));
    return count;
}

void TSelEmailAddrDlg::showEvent(QShowEvent* event)
{
    if (!event->spontaneous()) {
        m_ui->AddressBookList->clear();
        for (const TMailAddr& entry : m_tables.AddrBook) {
            m_ui->AddressBookList->addItem(Gbk::fieldText(entry.Name));
        }
        Modified = false;
    }
    QDialog::showEvent(event);
}

void TSelEmailAddrDlg::AddBtnClick()
{
    QListWidget& book = *m_ui->AddressBookList;
    QListWidget& receivers = *m_ui->ReceiverList;
    if (book.selectedItems().isEmpty()) {
        return;
    }
    for (int i = 0; i < book.count(); ++i) {
        const QString name = book.item(i)->text();
        if (!book.item(i)->isSelected() || name.isEmpty()) {
            continue;
        }
        const QString upper = FieldInput::UpperAscii(name);
        bool present = false;
        for (int r = 0; r < receivers.count() && !present; ++r) {
            present = FieldInput::UpperAscii(receivers.item(r)->text()) == upper;
        }
        if (!present) {
            receivers.addItem(name);
        }
    }
    Modified = true;
}

void TSelEmailAddrDlg::DelBtnClick()
{
    const QList<QListWidgetItem*> selected = m_ui->ReceiverList->selectedItems();
    if (selected.isEmpty()) {
        return;
    }
    qDeleteAll(selected);
    Modified = true;
}

void TSelEmailAddrDlg::OkBtnClick()
{
    if (!Modified) {
        reject();
        return;
    }
    // A line the recipient fields cannot hold whole is refused rather than cut into another address.
    const int count = std::min(m_ui->ReceiverList->count(), MaxReceivers);
    for (int i = 0; i < count; ++i) {
        QListWidgetItem* item = m_ui->ReceiverList->item(i);
        if (!FieldInput::FitsField(item->text())) {
            m_ui->ReceiverList->clearSelection();
            m_ui->ReceiverList->setCurrentItem(item);
            m_ui->ReceiverList->setFocus();
            QString text = GetLangText(LangText::FieldLength_Str::Str2);
            MessageBoxes::information(this, text.replace(QStringLiteral("%1"), item->text()));
            return;
        }
    }
    accept();
}

void TSelEmailAddrDlg::CancelBtnClick()
{
    reject();
}
