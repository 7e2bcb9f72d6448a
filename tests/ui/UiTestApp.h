// SPDX-License-Identifier: MIT
#pragma once

// One QApplication for a whole UI test program (offscreen, set by CTest), created before the first test and
// destroyed after the last, a message-box answerer that records what the station asked, and user-store set-up.

#include "MessageBoxes.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

class TUiTestEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "ui_test";
        static char* argv[] = {name, nullptr};
        m_app = std::make_unique<QApplication>(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
    }
    void TearDown() override { m_app.reset(); }

private:
    std::unique_ptr<QApplication> m_app;
};

inline ::testing::Environment* const g_uiTestEnvironment = ::testing::AddGlobalTestEnvironment(new TUiTestEnvironment);

// Records every message box and answers it with the next scripted button (Ok, or Yes/No as scripted). A recorder
// made while another is installed answers until it is destroyed, then the other answers again.
class TMessageRecorder
{
public:
    TMessageRecorder()
    {
        m_previous = MessageBoxes::setHandler([this](const MessageBoxes::Request& request) {
            m_requests.push_back(request);
            if (m_answers.empty()) {
                return request.buttons.testFlag(QMessageBox::Ok) ? QMessageBox::Ok : QMessageBox::No;
            }
            const QMessageBox::StandardButton answer = m_answers.front();
            m_answers.erase(m_answers.begin());
            return answer;
        });
    }
    ~TMessageRecorder() { MessageBoxes::setHandler(std::move(m_previous)); }
    TMessageRecorder(const TMessageRecorder&) = delete;
    TMessageRecorder& operator=(const TMessageRecorder&) = delete;

    void answer(QMessageBox::StandardButton button) { m_answers.push_back(button); }
    const std::vector<MessageBoxes::Request>& requests() const { return m_requests; }
    QStringList texts() const
    {
        QStringList out;
        for (const auto& r : m_requests) {
            out << r.text;
        }
        return out;
    }

private:
    MessageBoxes::Handler m_previous;
    std::vector<MessageBoxes::Request> m_requests;
    std::vector<QMessageBox::StandardButton> m_answers;
};

// Records every input box and answers it with the next scripted text (nullopt = Cancel; Cancel when none is left).
class TInputRecorder
{
public:
    TInputRecorder()
    {
        m_previous = MessageBoxes::setInputHandler([this](const MessageBoxes::InputRequest& request) {
            m_requests.push_back(request);
            if (m_answers.empty()) {
                return std::optional<QString>{};
            }
            std::optional<QString> answer = m_answers.front();
            m_answers.pop_front();
            return answer;
        });
    }
    ~TInputRecorder() { MessageBoxes::setInputHandler(std::move(m_previous)); }
    TInputRecorder(const TInputRecorder&) = delete;
    TInputRecorder& operator=(const TInputRecorder&) = delete;

    void answer(std::optional<QString> text) { m_answers.push_back(std::move(text)); }
    const std::vector<MessageBoxes::InputRequest>& requests() const { return m_requests; }

private:
    MessageBoxes::InputHandler m_previous;
    std::vector<MessageBoxes::InputRequest> m_requests;
    std::deque<std::optional<QString>> m_answers;
};

// Records every save-file chooser and answers it with the next scripted path (Cancel when none is left).
class TSaveFileRecorder
{
public:
    TSaveFileRecorder()
    {
        MessageBoxes::setSaveFileHandler([this](const MessageBoxes::SaveFileRequest& request) {
            m_requests.push_back(request);
            if (m_answers.empty()) {
                return std::optional<QString>{};
            }
            std::optional<QString> answer = m_answers.front();
            m_answers.pop_front();
            return answer;
        });
    }
    ~TSaveFileRecorder() { MessageBoxes::setSaveFileHandler({}); }
    TSaveFileRecorder(const TSaveFileRecorder&) = delete;
    TSaveFileRecorder& operator=(const TSaveFileRecorder&) = delete;

    void answer(std::optional<QString> path) { m_answers.push_back(std::move(path)); }
    const std::vector<MessageBoxes::SaveFileRequest>& requests() const { return m_requests; }

private:
    std::vector<MessageBoxes::SaveFileRequest> m_requests;
    std::deque<std::optional<QString>> m_answers;
};

// Answers nested dialog runs: each scripted step gets the shown dialog and returns its result code; a run with
// no step left is cancelled. Records the object names of the dialogs that were run.
class TDialogRecorder
{
public:
    using Step = std::function<int(QDialog&)>;
    TDialogRecorder()
    {
        m_previous = MessageBoxes::setDialogHandler([this](QDialog& dialog) {
            m_names << dialog.objectName();
            if (m_steps.empty()) {
                return static_cast<int>(QDialog::Rejected);
            }
            Step step = std::move(m_steps.front());
            m_steps.pop_front();
            return step(dialog);
        });
    }
    ~TDialogRecorder() { MessageBoxes::setDialogHandler(std::move(m_previous)); }
    TDialogRecorder(const TDialogRecorder&) = delete;
    TDialogRecorder& operator=(const TDialogRecorder&) = delete;

    void then(Step step) { m_steps.push_back(std::move(step)); }
    const QStringList& names() const { return m_names; }

private:
    MessageBoxes::DialogHandler m_previous;
    QStringList m_names;
    std::deque<Step> m_steps;
};

// The named child widget; a missing one fails the test and throws, so a renamed object is caught at once.
template <class T>
T& child(const QObject& parent, const char* name)
{
    T* found = parent.findChild<T*>(QString::fromLatin1(name));
    if (!found) {
        ADD_FAILURE() << "no child " << name;
        throw std::runtime_error(std::string("no child ") + name);
    }
    return *found;
}

// Runs the event loop until the condition holds or the time is up.
template <class Condition>
bool waitUntil(Condition condition, int timeoutMs = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// Adds a user to the store file with the real qorvane-user tool (the folder is made first); false with the
// tool's error output in *error when it did not succeed.
inline bool addStoreUser(const QString& storePath,
    const QString& name,
    const QString& password,
    const QStringList& rights,
    std::string* error)
{
    QDir().mkpath(QFileInfo(storePath).path());
    QProcess tool;
    tool.start(QStringLiteral(QORSMAIL_BIN_DIR "/qorvane-user"),
        QStringList{
            QStringLiteral("--store"), storePath, QStringLiteral("--password-stdin"), QStringLiteral("add"), name}
            + rights);
    if (!tool.waitForStarted()) {
        *error = "qorvane-user did not start";
        return false;
    }
    tool.write((password + QLatin1Char('\n')).toUtf8());
    tool.closeWriteChannel();
    if (!tool.waitForFinished(30000) || tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0) {
        *error = tool.readAllStandardError().toStdString();
        return false;
    }
    return true;
}
