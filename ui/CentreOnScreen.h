// SPDX-License-Identifier: MIT
#pragma once

// Places a window in the middle of the primary screen's free area (the fixed-size dialogs open there).

#include <QGuiApplication>
#include <QLayout>
#include <QScreen>
#include <QWidget>

inline void CentreOnScreen(QWidget* window)
{
    // A translation may just have changed the texts: let the layout size the window first.
    if (QLayout* layout = window->layout()) {
        layout->activate();
    }
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        window->move(area.center() - QPoint(window->width() / 2, window->height() / 2));
    }
}
