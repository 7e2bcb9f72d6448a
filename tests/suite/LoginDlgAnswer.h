// SPDX-License-Identifier: MIT
#pragma once

// Answers the suite's login dialog from a test, as a user would: waits until it is the active modal widget,
// fills UserEdit and PasswordEdit and clicks OkBtn (or CancelBtn). What it saw is kept for the test to check.
// A dialog that lacks one of its widgets is closed with reject, so a broken dialog fails the test instead of
// hanging it.

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <QTimer>

struct TLoginAnswer
{
    bool Seen = false;
    bool WidgetsFound = false;
    QString Caption;
    QWidget* Parent = nullptr;
    QLineEdit::EchoMode PasswordEcho = QLineEdit::Normal;
};

class TLoginAnswerer
{
public:
    TLoginAnswerer(const QString& user, const QString& password, bool ok = true)
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this, user, password, ok] {
            QWidget* dialog = QApplication::activeModalWidget();
            if (!dialog || dialog->objectName() != QStringLiteral("LoginDlg")) {
                return;
            }
            m_timer.stop();
            m_answer.Seen = true;
            m_answer.Caption = dialog->windowTitle();
            m_answer.Parent = dialog->parentWidget();
            auto* userEdit = dialog->findChild<QLineEdit*>(QStringLiteral("UserEdit"));
            auto* passwordEdit = dialog->findChild<QLineEdit*>(QStringLiteral("PasswordEdit"));
            auto* okBtn = dialog->findChild<QPushButton*>(QStringLiteral("OkBtn"));
            auto* cancelBtn = dialog->findChild<QPushButton*>(QStringLiteral("CancelBtn"));
            if (!userEdit || !passwordEdit || !okBtn || !cancelBtn) {
                QMetaObject::invokeMethod(dialog, "reject");
                return;
            }
            m_answer.WidgetsFound = true;
            m_answer.PasswordEcho = passwordEdit->echoMode();
            userEdit->setText(user);
            passwordEdit->setText(password);
            (ok ? okBtn : cancelBtn)->click();
        });
        m_timer.start();
    }

    const TLoginAnswer& answer() const { return m_answer; }

private:
    QTimer m_timer;
    TLoginAnswer m_answer;
};

// Answers every box the login step shows when a login cannot succeed or did not, with OK, keeping its text.
class TRefusalAnswerer
{
public:
    TRefusalAnswerer()
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box && box->objectName() == QStringLiteral("LoginRefusal")) {
                m_texts << box->text();
                box->accept();
            }
        });
        m_timer.start();
    }

    const QStringList& texts() const { return m_texts; }

private:
    QTimer m_timer;
    QStringList m_texts;
};

// A QApplication for the length of one test: the login dialog needs one, and tests that check the behaviour
// without one must be able to run in the same process.
class TTestApp
{
public:
    TTestApp()
        : m_app(m_argc, m_argv)
    {
    }

private:
    int m_argc = 1;
    char m_name[8] = "test";
    char* m_argv[2] = {m_name, nullptr};
    QApplication m_app;
};
