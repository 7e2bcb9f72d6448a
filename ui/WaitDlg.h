// SPDX-License-Identifier: MIT
#pragma once

// The small "please wait" window shown while sending is being stopped: borderless, always on top, centred.

#include <QDialog>
#include <memory>

namespace Ui {
class TWaitDialog;
}

class TWaitDialog : public QDialog
{
    Q_OBJECT

public:
    explicit TWaitDialog(QWidget* parent = nullptr);
    ~TWaitDialog() override;

    void SetMessage(const QString& text);
    QString message() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::unique_ptr<Ui::TWaitDialog> m_ui;
};
