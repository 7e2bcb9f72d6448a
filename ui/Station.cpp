// SPDX-License-Identifier: MIT
#include "Station.h"

#include "LocalTime.h"
#include "MLEngine.h"
#include "MessageBoxes.h"
#include "QorsmailMain.h"
#include "SingleInstance.h"

#include <QApplication>
#include <memory>

namespace {

// ExitLogLibrary runs exactly once: after the message loop and before the windows go, or when start-up ends early.
class TExitHandler
{
public:
    explicit TExitHandler(TLogLibrary& log)
        : m_log(log)
    {
    }
    ~TExitHandler() { run(); }
    TExitHandler(const TExitHandler&) = delete;
    TExitHandler& operator=(const TExitHandler&) = delete;

    void run()
    {
        if (!m_done) {
            m_done = true;
            m_log.ExitLogLibrary();
        }
    }

private:
    TLogLibrary& m_log;
    bool m_done = false;
};

} // namespace

void ShowStartupError(TLogLibrary& log, int32_t code)
{
    using namespace LangText::program_Str;
    const LangText::Entry* own = nullptr;
    switch (code) {
    case -1:
        own = &program_Str0;
        break;
    case -8:
        own = &program_Str2;
        break;
    case -10:
        own = &program_Str1;
        break;
    case -12:
        own = &program_Str4;
        break;
    case -13:
        own = &program_Str3;
        break;
    default:
        break;
    }
    if (own) {
        MessageBoxes::information(nullptr, GetLangText(*own));
    }
    MessageBoxes::information(
        nullptr, GetLangText(program_Str5) + QLatin1Char('(') + log.GetErrorText(code) + QLatin1Char(')'));
}

int RunStation(TLogLibrary& log, const TClock& clock, const TStationOptions& options)
{
    TExitHandler exitHandler(log);
    const int32_t code = log.InitLogLibrary();
    if (code < 0) {
        ShowStartupError(log, code);
        return 0;
    }

    TMailTables tables;
    TQorsmailMain engine(tables, log, clock);
    engine.BeginTaskFileRead(); // while the window is built
    auto form = std::make_unique<TQorsmailMainForm>(engine, options.form);
    QObject::connect(form.get(), &TQorsmailMainForm::closed, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    if (options.instance) {
        QObject::connect(
            options.instance, &TSingleInstance::restoreRequested, form.get(), &TQorsmailMainForm::restoreWindow);
    }
    if (options.onWindow) {
        options.onWindow(form.get());
    }
    form->show();
    if (options.onShown) {
        options.onShown(*form);
    }
    // A dialog closed while the window is hidden in the tray must not end the station; only an accepted close does.
    QApplication::setQuitOnLastWindowClosed(false);
    // Told to end while the window was being made.
    if (MessageBoxes::quitting()) {
        form->closeWithoutQuestion();
    }
    QApplication::exec();
    exitHandler.run();
    if (options.onWindow) {
        options.onWindow(nullptr);
    }
    form.reset();
    return 0;
}
