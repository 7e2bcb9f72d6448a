// SPDX-License-Identifier: MIT
#pragma once

// The export command's dialogue: the user picks a file, the station's own files are refused with a message, a
// failure is shown, a written file is reported in the log panel.

#include <QString>

class QWidget;
class TQorsmailMain;

// lastPath holds the file chosen the time before, where the chooser opens next; it is updated after a write.
void ExportConfiguration(QWidget* parent, TQorsmailMain& engine, QString& lastPath);
