#pragma once

// One QApplication for a whole UI test program (offscreen, set by CTest), created before the first test and
// destroyed after the last, a message-box answerer that records what the station asked, and user-store set-up.

#include "MessageBoxes.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <gtest/gtest.h>
#include <memory>
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

// Records every message box and answers it with the next scripted button (Ok, or Yes/No as scripted).
class TMessageRecorder
{
public:
    TMessageRecorder()
    {
        MessageBoxes::setHandler([this](const MessageBoxes::Request& request) {
            m_requests.push_back(request);
            if (m_answers.empty()) {
                return request.buttons.testFlag(QMessageBox::Ok) ? QMessageBox::Ok : QMessageBox::No;
            }
            const QMessageBox::StandardButton answer = m_answers.front();
            m_answers.erase(m_answers.begin());
            return answer;
        });
    }
    ~TMessageRecorder() { MessageBoxes::setHandler({}); }
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
    std::vector<MessageBoxes::Request> m_requests;
    std::vector<QMessageBox::StandardButton> m_answers;
};

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
