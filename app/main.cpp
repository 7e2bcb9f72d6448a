// SPDX-License-Identifier: MIT
// qormail: the QORVANE mail dispatch station.

#include "LocalTime.h"
#include "MLEngine.h"
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
#include <fcntl.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};
TQorsmailMainForm* g_window = nullptr;

void onTerminateSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
}

// SIGTERM and SIGINT close the window without the exit question, so the shutdown runs in its order and the
// debug log gets its stop line.
void installSignalHandlers(QObject* parent)
{
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, parent);
    QObject::connect(notifier, &QSocketNotifier::activated, parent, [] {
        char buffer[16];
        while (::read(g_signalPipe[0], buffer, sizeof buffer) > 0) { }
        // Open questions and dialogs are dismissed first; they would hold the message loop.
        for (int i = 0; i < 16 && QApplication::activeModalWidget(); ++i) {
            QWidget* modal = QApplication::activeModalWidget();
            if (g_window) {
                g_window->closeWithoutQuestion();
            }
            modal->close();
            if (QApplication::activeModalWidget() == modal) {
                modal->hide();
            }
        }
        if (g_window) {
            g_window->closeWithoutQuestion();
        }
    });
    struct sigaction action = {};
    action.sa_handler = onTerminateSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("qormail"));
    QApplication::setApplicationDisplayName(QStringLiteral("QORVANE"));
    // Wayland desktops find the menu entry, and so the icon, of the window by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("cn.qorvane.qormail"));

    LangEngine().LoadLanguageFile();

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
    installSignalHandlers(&app);

    TQorsLog2Library log;
    TSystemClock clock;
    TStationOptions options;
    options.instance = &instance;
    options.onWindow = [](TQorsmailMainForm* window) { g_window = window; };
    options.onShown = [](TQorsmailMainForm& window) {
        QTimer::singleShot(0, &window, [] { qCInfo(lcStation, "qormail: main window shown"); });
    };
    return RunStation(log, clock, options);
}
