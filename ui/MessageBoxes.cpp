// SPDX-License-Identifier: MIT
#include "MessageBoxes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <utility>

namespace MessageBoxes {

namespace {

Handler& currentHandler()
{
    static Handler handler;
    return handler;
}

InputHandler& currentInputHandler()
{
    static InputHandler handler;
    return handler;
}

SaveFileHandler& currentSaveFileHandler()
{
    static SaveFileHandler handler;
    return handler;
}

DialogHandler& currentDialogHandler()
{
    static DialogHandler handler;
    return handler;
}

bool& quitFlag()
{
    static bool quit = false;
    return quit;
}

// The answer of a box closed with its Escape key.
QMessageBox::StandardButton escapeAnswer(const Request& request)
{
    for (const QMessageBox::StandardButton b :
        {QMessageBox::Cancel, QMessageBox::No, QMessageBox::Abort, QMessageBox::Close, QMessageBox::Ok}) {
        if (request.buttons.testFlag(b)) {
            return b;
        }
    }
    return request.defaultButton;
}

// Boxes carry the application's name as their title, as the suite's message boxes do.
QString defaultTitle()
{
    return QApplication::applicationDisplayName().isEmpty() ? QApplication::applicationName()
                                                            : QApplication::applicationDisplayName();
}

} // namespace

void beginQuit()
{
    quitFlag() = true;
}

bool quitting()
{
    return quitFlag();
}

void dismissOpenModals()
{
    // A box that ignores its close (one with no Escape button) is hidden, which ends its modal loop too.
    for (int i = 0; i < 16 && QApplication::activeModalWidget(); ++i) {
        QWidget* modal = QApplication::activeModalWidget();
        modal->close();
        if (QApplication::activeModalWidget() == modal) {
            modal->hide();
        }
    }
}

Handler setHandler(Handler handler)
{
    return std::exchange(currentHandler(), std::move(handler));
}

QMessageBox::StandardButton show(QWidget* parent, const Request& request)
{
    if (quitting()) {
        return escapeAnswer(request);
    }
    if (currentHandler()) {
        return currentHandler()(request);
    }
    QMessageBox box(
        request.icon, request.title.isEmpty() ? defaultTitle() : request.title, request.text, request.buttons, parent);
    if (request.defaultButton != QMessageBox::NoButton) {
        box.setDefaultButton(request.defaultButton);
    }
    for (const auto& [button, text] : request.buttonTexts) {
        if (QAbstractButton* b = box.button(button)) {
            b->setText(text);
        }
    }
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void information(QWidget* parent, const QString& text)
{
    show(parent, {QMessageBox::NoIcon, {}, text, QMessageBox::Ok, QMessageBox::Ok});
}

void error(QWidget* parent, const QString& text)
{
    show(parent, {QMessageBox::Critical, {}, text, QMessageBox::Ok, QMessageBox::Ok});
}

bool askYesNo(QWidget* parent, const QString& text)
{
    const Request request{QMessageBox::Warning, {}, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No};
    return show(parent, request) == QMessageBox::Yes;
}

InputHandler setInputHandler(InputHandler handler)
{
    return std::exchange(currentInputHandler(), std::move(handler));
}

std::optional<QString> getText(QWidget* parent, const InputRequest& request)
{
    if (quitting()) {
        return std::nullopt;
    }
    if (currentInputHandler()) {
        return currentInputHandler()(request);
    }
    QInputDialog box(parent);
    box.setWindowTitle(request.title.isEmpty() ? defaultTitle() : request.title);
    box.setLabelText(request.label);
    box.setTextValue(request.text);
    if (auto* edit = box.findChild<QLineEdit*>()) {
        edit->setMaxLength(request.maxLength);
    }
    if (box.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return box.textValue();
}

SaveFileHandler setSaveFileHandler(SaveFileHandler handler)
{
    return std::exchange(currentSaveFileHandler(), std::move(handler));
}

std::optional<QString> getSaveFileName(QWidget* parent, const SaveFileRequest& request)
{
    if (quitting()) {
        return std::nullopt;
    }
    if (currentSaveFileHandler()) {
        return currentSaveFileHandler()(request);
    }
    // The chooser asks itself before it replaces an existing file.
    const QString path = QFileDialog::getSaveFileName(parent, request.title, request.directory, request.filter);
    if (path.isEmpty()) {
        return std::nullopt;
    }
    return path;
}

DialogHandler setDialogHandler(DialogHandler handler)
{
    return std::exchange(currentDialogHandler(), std::move(handler));
}

int execDialog(QDialog& dialog)
{
    if (quitting()) {
        dialog.setResult(QDialog::Rejected);
        return QDialog::Rejected;
    }
    if (currentDialogHandler()) {
        dialog.show();
        const int result = currentDialogHandler()(dialog);
        dialog.hide();
        dialog.setResult(result);
        return result;
    }
    return dialog.exec();
}

} // namespace MessageBoxes
