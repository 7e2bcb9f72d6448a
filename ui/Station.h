// SPDX-License-Identifier: MIT
#pragma once

// The station's start-up after the single-instance check: the event-log library, the main window and the
// message loop, and the shutdown in its order (the library closed first, then the windows destroyed).

#include "QorsmailMainForm.h"

#include <functional>

class TClock;
class TLogLibrary;
class TSingleInstance;

struct TStationOptions
{
    TMainFormOptions form;
    // Answers later starts with the window; may be null.
    TSingleInstance* instance = nullptr;
    // Called once the window is shown, before the message loop runs (tests close it from here).
    std::function<void(TQorsmailMainForm&)> onShown;
    // Called with the window once it exists, so a signal can close it; null again before it is destroyed.
    std::function<void(TQorsmailMainForm*)> onWindow;
};

// Shows the start-up failure of a negative InitLogLibrary code: the code's own message when it has one, then
// "启动出错(" + the library's text + ")" (in English, the library's text from the language file).
void ShowStartupError(TLogLibrary& log, int32_t code);

// The process exit codes: a start that ends without running the station is no success.
constexpr int StationExitOk = 0;
constexpr int StationExitStartFailed = 1;

// Runs the station; returns the process exit code: StationExitOk after the message loop, StationExitStartFailed
// when the event-log library could not be initialized.
int RunStation(TLogLibrary& log, const TClock& clock, const TStationOptions& options = {});

// Runs the station without a window (qormail --headless) on a QCoreApplication: the engine alone, every log-panel
// line also on standard output, one a line; a failed start is told on standard error. Exit codes as RunStation.
int RunHeadlessStation(TLogLibrary& log, const TClock& clock);

// Whether a window can be opened: a display (DISPLAY or WAYLAND_DISPLAY), or a platform chosen in
// QT_QPA_PLATFORM or with -platform that needs none (offscreen, minimal, a framebuffer, VNC).
bool WindowPlatformAvailable(int argc, char* argv[]);
