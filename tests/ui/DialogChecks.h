// SPDX-License-Identifier: MIT
#pragma once

// Checks every dialog test makes: the Tab stops in focus-chain order, the name assistive technology reads for a
// widget, texts that do not fit their widget, and a picture of the window for a look on a real display.

#include <QAbstractButton>
#include <QAccessible>
#include <QByteArray>
#include <QGroupBox>
#include <QLabel>
#include <QStringList>
#include <QWidget>

// Object names of the widgets Tab reaches, starting after the window itself (focus proxies stand for their owner).
inline QStringList TabStops(QWidget& window)
{
    QStringList names;
    for (QWidget* w = window.nextInFocusChain(); w && w != &window; w = w->nextInFocusChain()) {
        if (w->focusProxy() || !(w->focusPolicy() & Qt::TabFocus) || !w->isVisibleTo(&window) || !w->isEnabled()) {
            continue;
        }
        names << w->objectName();
    }
    return names;
}

inline QString AccessibleName(QWidget& widget)
{
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(&widget);
    return iface ? iface->text(QAccessible::Name) : QString();
}

// Labels, buttons and group boxes whose text needs more room than the widget has (clipped Chinese text).
inline QStringList ClippedTexts(QWidget& window)
{
    QStringList clipped;
    for (QWidget* w : window.findChildren<QWidget*>()) {
        if (!w->isVisibleTo(&window)) {
            continue;
        }
        const bool texted =
            qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w) || qobject_cast<QGroupBox*>(w);
        // A widget that gives up its width on purpose (a long path) is not clipped by mistake.
        if (!texted || w->sizePolicy().horizontalPolicy() == QSizePolicy::Ignored) {
            continue;
        }
        const QSize need = qobject_cast<QGroupBox*>(w) ? w->minimumSizeHint() : w->sizeHint();
        if (need.width() > w->width() || need.height() > w->height()) {
            clipped << w->objectName();
        }
    }
    return clipped;
}

// Saves grab() of the window as <name>.png in the folder QORSMAIL_GRAB_DIR names; false when none is named.
inline bool SaveGrab(QWidget& window, const QString& name)
{
    const QByteArray dir = qgetenv("QORSMAIL_GRAB_DIR");
    if (dir.isEmpty()) {
        return false;
    }
    return window.grab().save(QString::fromLocal8Bit(dir) + QLatin1Char('/') + name + QStringLiteral(".png"));
}
