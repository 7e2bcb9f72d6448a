#pragma once

// Every message box of the station goes through here, so tests can read and answer them without a modal loop.

#include <QMessageBox>
#include <QString>
#include <functional>

class QWidget;

namespace MessageBoxes {

struct Request
{
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
};

// Answers a request instead of showing a box; tests install one and record what was asked.
using Handler = std::function<QMessageBox::StandardButton(const Request&)>;

// Installs a handler (an empty one puts the real boxes back); returns the previous one.
Handler setHandler(Handler handler);

// Shows the box modally (or asks the handler) and returns the button that closed it.
QMessageBox::StandardButton show(QWidget* parent, const Request& request);

// A plain message with an OK button.
void information(QWidget* parent, const QString& text);
// An error box with an OK button.
void error(QWidget* parent, const QString& text);
// A warning box with Yes and No; true on Yes.
bool askYesNo(QWidget* parent, const QString& text);

} // namespace MessageBoxes
