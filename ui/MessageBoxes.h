// SPDX-License-Identifier: MIT
#pragma once

// Every modal loop of the station goes through here (message boxes, input boxes, nested dialog runs), so tests
// can read and answer them without a modal loop.

#include <QMessageBox>
#include <QString>
#include <functional>
#include <optional>
#include <utility>

class QDialog;
class QWidget;

namespace MessageBoxes {

struct Request
{
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    // Texts of ours for buttons whose standard text does not say what they do (导出配置, 不保存).
    QList<std::pair<QMessageBox::StandardButton, QString>> buttonTexts = {};
};

// Once the station is told to end (SIGTERM, SIGINT) no box is shown any more: each one asked answers at once as
// its Escape key would (Cancel, No, or its only button), a dialog run modally is rejected and an input box or file
// chooser cancelled, so the code that asked goes on to the shutdown instead of waiting for a person.
void beginQuit();
bool quitting();
// Closes the modal boxes and dialogs that are open now (as their Escape key would), the innermost first.
void dismissOpenModals();

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

// A one-line input box (the rename and re-address prompts).
struct InputRequest
{
    QString title;
    QString label;
    QString text; // shown selected in the edit at the start
    int maxLength = 32767; // characters the edit accepts
};

// Answers an input box: the entered text, or nullopt for Cancel.
using InputHandler = std::function<std::optional<QString>(const InputRequest&)>;
InputHandler setInputHandler(InputHandler handler);
std::optional<QString> getText(QWidget* parent, const InputRequest& request);

// A save-file chooser: the file the user picked, or nullopt for Cancel.
struct SaveFileRequest
{
    QString title;
    QString directory; // folder (or suggested file) the chooser opens in
    QString filter; // "JSON (*.json)"
};
using SaveFileHandler = std::function<std::optional<QString>(const SaveFileRequest&)>;
SaveFileHandler setSaveFileHandler(SaveFileHandler handler);
std::optional<QString> getSaveFileName(QWidget* parent, const SaveFileRequest& request);

// Runs another window modally: QDialog::exec(), or the installed handler, which gets the dialog (shown, so its
// show step has run) and returns the result code in its place.
using DialogHandler = std::function<int(QDialog&)>;
DialogHandler setDialogHandler(DialogHandler handler);
int execDialog(QDialog& dialog);

} // namespace MessageBoxes
