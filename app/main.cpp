// SPDX-License-Identifier: MIT
// qormail: the QORVANE mail dispatch station.

#include "LocalTime.h"
#include "MLEngine.h"
#include "MessageBoxes.h"
#include "QorsmailMainForm.h"
#include "SingleInstance.h"
#include "Station.h"
#include "StationLog.h"
#include "mlogcomm2.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};
TQorsmailMainForm* g_window = nullptr;
bool g_headless = false;

void onTerminateSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
}

// Ends the station for SIGTERM and SIGINT: no box is shown from now on, the open ones are closed (also those a
// library opens later, until the loop ends) and the window closes without the exit question, so the shutdown runs
// in its order, the marks are written and the debug log gets its stop line. Before the window exists, the start-up
// sees the request and ends at once.
void quitOnSignal()
{
    MessageBoxes::beginQuit();
    auto dismiss = [] {
        // The window first: a question it is asking then answers into a close already accepted.
        if (g_window) {
            g_window->closeWithoutQuestion();
        }
        MessageBoxes::dismissOpenModals();
        if (g_window) {
            g_window->closeWithoutQuestion();
        }
    };
    dismiss();
    auto* again = new QTimer(qApp);
    QObject::connect(again, &QTimer::timeout, qApp, dismiss);
    again->start(50);
}

void installSignalHandlers(QObject* parent)
{
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, parent);
    QObject::connect(notifier, &QSocketNotifier::activated, parent, [] {
        char buffer[16];
        while (::read(g_signalPipe[0], buffer, sizeof buffer) > 0) { }
        if (g_headless) {
            QCoreApplication::quit(); // no window, nothing to ask: the shutdown runs in its order
            return;
        }
        if (!MessageBoxes::quitting()) {
            quitOnSignal();
        }
    });
    struct sigaction action = {};
    action.sa_handler = onTerminateSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

// Whether the arguments hold --headless; it is taken out, so Qt sees only its own.
bool takeHeadlessOption(int& argc, char* argv[])
{
    bool found = false;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--headless") == 0) {
            found = true;
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    argv[argc] = nullptr;
    return found;
}

} // namespace

int main(int argc, char* argv[])
{
    g_headless = takeHeadlessOption(argc, argv);
    // Without a display Qt would abort in the window system's set-up: the station says why and ends.
    const bool noDisplay = !g_headless && !WindowPlatformAvailable(argc, argv);
    std::unique_ptr<QCoreApplication> app;
    if (g_headless || noDisplay) {
        app = std::make_unique<QCoreApplication>(argc, argv);
    } else {
        app = std::make_unique<QApplication>(argc, argv);
        QApplication::setApplicationDisplayName(QStringLiteral("QORVANE"));
        // Wayland desktops find the menu entry, and so the icon, of the window by this name.
        QGuiApplication::setDesktopFileName(QStringLiteral("cn.qorvane.qormail"));
    }
    QCoreApplication::setApplicationName(QStringLiteral("qormail"));

    LangEngine().LoadLanguageFile();
    if (noDisplay) {
        std::fprintf(stderr, "%s\n", GetLangText(LangText::Service_Str::Str2).toLocal8Bit().constData());
        return StationExitStartFailed;
    }

    TSingleInstance instance;
    if (!instance.CheckSingleInstance(QStringLiteral("Tqorsmail_form"))) {
        if (instance.failed()) {
            std::fputs("qormail: cannot start: no other station answers and the single-instance socket cannot be "
                       "opened\n",
                stderr);
            return StationExitStartFailed;
        }
        return StationExitOk;
    }
    installSignalHandlers(app.get());

    TQorsLog2Library log;
    TSystemClock clock;
    if (g_headless) {
        return RunHeadlessStation(log, clock);
    }
    TStationOptions options;
    options.instance = &instance;
    options.onWindow = [](TQorsmailMainForm* window) { g_window = window; };
    options.onShown = [](TQorsmailMainForm& window) {
        QTimer::singleShot(0, &window, [] { qCInfo(lcStation, "qormail: main window shown"); });
    };
    return RunStation(log, clock, options);
}
