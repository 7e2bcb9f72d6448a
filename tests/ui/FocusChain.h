// SPDX-License-Identifier: MIT
#pragma once

// Walks a window's Tab order from its first stop, once round, with each stop's accessible name.

#include <QAccessible>
#include <QString>
#include <QTest>
#include <QWidget>
#include <vector>

struct TFocusStop
{
    QString objectName;
    QString accessibleName;
};

inline std::vector<TFocusStop> WalkTabChain(QWidget& window, QWidget& first)
{
    std::vector<TFocusStop> stops;
    first.setFocus(Qt::TabFocusReason);
    QWidget* current = window.focusWidget();
    for (int guard = 0; current && guard < 64; ++guard) {
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(current);
        stops.push_back({current->objectName(), accessible ? accessible->text(QAccessible::Name) : QString()});
        QTest::keyClick(current, Qt::Key_Tab);
        current = window.focusWidget();
        if (current == &first) {
            break;
        }
    }
    return stops;
}

inline QStringList StopNames(const std::vector<TFocusStop>& stops)
{
    QStringList names;
    for (const TFocusStop& stop : stops) {
        names << stop.objectName;
    }
    return names;
}
