// SPDX-License-Identifier: MIT
// The tray icon under a real X server (Xvfb) with a real tray host (trayer): the icon appears, minimising hides
// the window, a left click on the icon brings it back. CTest runs this program once under xvfb-run with
// QORSMAIL_TRAY_TEST=1; anywhere else the test skips itself.

#include "FakeLogLibrary.h"
#include "FakeSmtpSession.h"
#include "QorsmailMain.h"
#include "QorsmailMainForm.h"
#include "UiTestApp.h"

#include <QMouseEvent>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <cstdlib>
#include <memory>

namespace {

const bool g_trayRun = [] {
    if (std::getenv("QORSMAIL_TRAY_TEST") && std::getenv("DISPLAY")) {
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        return true;
    }
    return false;
}();

void clickWidget(QWidget* widget, Qt::MouseButton button)
{
    const QPointF local(widget->width() / 2.0, widget->height() / 2.0);
    const QPointF global = widget->mapToGlobal(local);
    QMouseEvent press(QEvent::MouseButtonPress, local, global, button, button, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, local, global, button, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QApplication::sendEvent(widget, &release);
}

TEST(TrayIcon, AppearsHidesTheMinimisedWindowAndAClickRestoresIt)
{
    if (!g_trayRun) {
        GTEST_SKIP() << "runs under xvfb-run with QORSMAIL_TRAY_TEST=1";
    }
    QProcess trayer;
    trayer.start(QStringLiteral("trayer"),
        {QStringLiteral("--edge"),
            QStringLiteral("top"),
            QStringLiteral("--align"),
            QStringLiteral("right"),
            QStringLiteral("--widthtype"),
            QStringLiteral("pixel"),
            QStringLiteral("--width"),
            QStringLiteral("120")});
    ASSERT_TRUE(trayer.waitForStarted(5000));
    ASSERT_TRUE(waitUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 10000));

    QTemporaryDir dir;
    TFakeLogLibrary log;
    log.WorkDir = QFile::encodeName(dir.path() + QLatin1Char('/'));
    TManualClock clock(MakeSystemTime(2026, 3, 5, 10, 0, 0));
    TMailTables tables;
    TQorsmailMain engine(tables, log, clock);
    engine.setSmtpSession(std::make_unique<FakeSmtpSession>());
    TQorsmailMainForm form(engine);
    form.show();
    ASSERT_NE(form.trayIcon(), nullptr);
    // Embedded in the tray host: the icon has a place on the screen.
    ASSERT_TRUE(waitUntil([&] { return form.trayIcon()->geometry().isValid() && form.hidesToTray(); }, 10000));

    form.showMinimized();
    EXPECT_TRUE(waitUntil([&] { return !form.isVisible(); }, 5000)) << "minimised with a tray: only the icon remains";

    QWidget* icon = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (qstrcmp(w->metaObject()->className(), "QSystemTrayIconSys") == 0) {
            icon = w;
        }
    }
    ASSERT_NE(icon, nullptr) << "the icon's own window";
    clickWidget(icon, Qt::RightButton);
    QApplication::processEvents();
    EXPECT_FALSE(form.isVisible()) << "a right click opens the menu, not the window";
    if (QWidget* popup = QApplication::activePopupWidget()) {
        popup->close();
    }
    clickWidget(icon, Qt::LeftButton);
    EXPECT_TRUE(waitUntil([&] { return form.isVisible() && !form.isMinimized(); }, 5000));

    trayer.terminate();
    trayer.waitForFinished(3000);
}

} // namespace
