// SPDX-License-Identifier: MIT
#include "WaitDlg.h"

#include "FormTranslator.h"
#include "ui_WaitDlg.h"

#include <QGuiApplication>
#include <QScreen>
#include <QShowEvent>

TWaitDialog::TWaitDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    , m_ui(std::make_unique<Ui::TWaitDialog>())
{
    m_ui->setupUi(this);
    TranslateForm(this);
    // Silver, with black text, whatever the desktop's colours.
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, QColor(0xc0, 0xc0, 0xc0));
    palette.setColor(QPalette::WindowText, Qt::black);
    setPalette(palette);
    setAutoFillBackground(true);
    QFont font = m_ui->Label1->font();
    font.setPixelSize(16);
    m_ui->Label1->setFont(font);
    setFixedSize(416, 59);
}

TWaitDialog::~TWaitDialog() = default;

void TWaitDialog::SetMessage(const QString& text)
{
    m_ui->Label1->setText(text);
}

QString TWaitDialog::message() const
{
    return m_ui->Label1->text();
}

void TWaitDialog::showEvent(QShowEvent* event)
{
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    QDialog::showEvent(event);
}
