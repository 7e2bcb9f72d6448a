// SPDX-License-Identifier: MIT
#include "Station.h"

#include "ConfigCommands.h"
#include "LocalTime.h"
#include "MLEngine.h"
#include "MessageBoxes.h"
#include "QorsmailMain.h"
#include "SingleInstance.h"

#include <QApplication>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

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

// The library's text for a result code (Chinese only) in the station's language, where the language file has it.
QString LibraryErrorText(TLogLibrary& log, int32_t code)
{
    using namespace LangText::LogLibrary_Str;
    static const std::pair<int32_t, const LangText::JoinedEntry*> known[] = {{-1, &Error1},
        {-5, &Error5},
        {-8, &Error8},
        {-9, &Error9},
        {-10, &Error10},
        {-12, &Error12},
        {-13, &Error13},
        {-14, &Error14}};
    const LangText::JoinedEntry* text = &ErrorOther;
    for (const auto& [knownCode, entry] : known) {
        if (knownCode == code) {
            text = entry;
            break;
        }
    }
    return FillText(GetLangText(*text, log.GetErrorText(code)), {QString::number(code)});
}

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
    const QString joined = GetLangText(program_Str5) + QStringLiteral("(%1)");
    MessageBoxes::information(
        nullptr, FillText(GetLangText(LangText::Format_Str::Str24, joined), {LibraryErrorText(log, code)}));
}

int RunStation(TLogLibrary& log, const TClock& clock, const TStationOptions& options)
{
    TExitHandler exitHandler(log);
    const int32_t code = log.InitLogLibrary();
    if (code < 0) {
        ShowStartupError(log, code);
        return StationExitStartFailed;
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
    return StationExitOk;
}

int RunHeadlessStation(TLogLibrary& log, const TClock& clock)
{
    TExitHandler exitHandler(log);
    const int32_t code = log.InitLogLibrary();
    if (code < 0) {
        const QString line = FillText(GetLangText(LangText::Format_Str::Str24,
                                          GetLangText(LangText::program_Str::program_Str5) + QStringLiteral("(%1)")),
            {LibraryErrorText(log, code)});
        std::fprintf(stderr, "qormail: %s\n", line.toLocal8Bit().constData());
        return StationExitStartFailed;
    }

    TMailTables tables;
    TQorsmailMain engine(tables, log, clock);
    // The journal takes standard output line by line; each line is flushed, so a crash loses none.
    QObject::connect(&engine, &TQorsmailMain::logLineAdded, &engine, [](const QString& line) {
        std::fputs(line.toUtf8().constData(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    });
    engine.CreateEngine();
    engine.WriteLogLine(GetLangText(LangText::Service_Str::Str3));
    ReportTaskFileAtStart(engine);
    engine.setEditAllowed(false);
    engine.StartTimers();
    QCoreApplication::exec();
    exitHandler.run();
    engine.DestroyEngine();
    return StationExitOk;
}

bool WindowPlatformAvailable(int argc, char* argv[])
{
    static const char* const withoutDisplay[] = {
        "offscreen", "minimal", "minimalegl", "eglfs", "linuxfb", "vnc", "vkkhrdisplay"};
    const auto needsNone = [](const char* platform) {
        // "name:options", or a list "a;b" whose first entry is tried first: the first entry decides.
        const std::string name(platform, std::strcspn(platform, ":;"));
        return std::any_of(
            std::begin(withoutDisplay), std::end(withoutDisplay), [&name](const char* p) { return name == p; });
    };
    const auto isSet = [](const char* variable) {
        const char* value = std::getenv(variable);
        return value != nullptr && *value != '\0';
    };
    if (isSet("DISPLAY") || isSet("WAYLAND_DISPLAY")) {
        return true;
    }
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0) {
            return needsNone(argv[i + 1]);
        }
    }
    return isSet("QT_QPA_PLATFORM") && needsNone(std::getenv("QT_QPA_PLATFORM"));
}
