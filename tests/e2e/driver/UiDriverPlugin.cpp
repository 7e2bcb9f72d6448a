// SPDX-License-Identifier: MIT
// A Qt generic plugin that drives the real station's window like a user, for the end-to-end tests: loaded into
// the unchanged qormail binary through QT_PLUGIN_PATH and QT_QPA_GENERIC_PLUGINS=qorsmaildriver:<script.json>.
// The script is a list of steps, done in order as soon as the window they need is shown:
//
//     {"when": "/path/of/a/file"}                       wait until the test makes that file
//     {"action": "AddEventMail1"}                       trigger an action of the main window
//     {"dialog": "TEventmailPropertyDlg",               in the shown dialog of that name: set fields
//      "set": {"TitleEdit": "…", "ReceiverMemo": "…"},  (line edit, memo, spin box, check box, combo box)
//      "click": "OkBtn"}                                and click a button
//
// Each step prints "qorsmail-driver: step N done" to standard error; a step that names a missing widget prints
// "qorsmail-driver: failed: …" and the driver stops.

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QGenericPlugin>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QTimer>
#include <cstdio>

namespace {

class TUiDriver : public QObject
{
public:
    explicit TUiDriver(const QString& scriptPath)
    {
        QFile file(scriptPath);
        if (!file.open(QIODevice::ReadOnly)) {
            fail(QStringLiteral("cannot read the script ") + scriptPath);
            return;
        }
        m_steps = QJsonDocument::fromJson(file.readAll()).array();
        connect(&m_timer, &QTimer::timeout, this, &TUiDriver::tick);
        m_timer.start(50);
    }

private:
    void fail(const QString& why)
    {
        std::fprintf(stderr, "qorsmail-driver: failed: %s\n", why.toUtf8().constData());
        m_timer.stop();
    }

    static QWidget* shownWindow(const QString& name)
    {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->objectName() == name && w->isVisible()) {
                return w;
            }
        }
        return nullptr;
    }

    bool setField(QWidget& window, const QString& name, const QJsonValue& value)
    {
        QWidget* w = window.findChild<QWidget*>(name);
        const QString text = value.isDouble() ? QString::number(value.toInt()) : value.toString();
        if (auto* edit = qobject_cast<QLineEdit*>(w)) {
            edit->setText(text);
        } else if (auto* memo = qobject_cast<QPlainTextEdit*>(w)) {
            memo->setPlainText(text);
        } else if (auto* spin = qobject_cast<QSpinBox*>(w)) {
            spin->setValue(value.toInt());
        } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
            combo->setCurrentText(text);
        } else if (auto* button = qobject_cast<QAbstractButton*>(w); button && button->isCheckable()) {
            button->setChecked(value.toBool());
        } else {
            fail(QStringLiteral("no field %1 in %2").arg(name, window.objectName()));
            return false;
        }
        return true;
    }

    void done()
    {
        ++m_step;
        std::fprintf(stderr, "qorsmail-driver: step %d done\n", m_step);
    }

    void tick()
    {
        if (m_step >= m_steps.size()) {
            m_timer.stop();
            return;
        }
        const QJsonObject step = m_steps[m_step].toObject();
        if (step.contains(QLatin1String("when"))) {
            if (QFile::exists(step[QLatin1String("when")].toString())) {
                done();
            }
            return;
        }
        if (step.contains(QLatin1String("action"))) {
            QWidget* main = shownWindow(QStringLiteral("TQorsmailMainForm"));
            if (!main) {
                return;
            }
            auto* action = main->findChild<QAction*>(step[QLatin1String("action")].toString());
            if (!action) {
                fail(QStringLiteral("no action ") + step[QLatin1String("action")].toString());
                return;
            }
            done();
            // Queued: the command may run a modal loop, and this tick must return first.
            QMetaObject::invokeMethod(action, &QAction::trigger, Qt::QueuedConnection);
            return;
        }
        QWidget* dialog = shownWindow(step[QLatin1String("dialog")].toString());
        if (!dialog) {
            return;
        }
        const QJsonObject fields = step[QLatin1String("set")].toObject();
        for (auto it = fields.begin(); it != fields.end(); ++it) {
            if (!setField(*dialog, it.key(), it.value())) {
                return;
            }
        }
        auto* button = dialog->findChild<QAbstractButton*>(step[QLatin1String("click")].toString());
        if (!button) {
            fail(QStringLiteral("no button ") + step[QLatin1String("click")].toString());
            return;
        }
        done();
        QMetaObject::invokeMethod(button, &QAbstractButton::click, Qt::QueuedConnection);
    }

    QJsonArray m_steps;
    int m_step = 0;
    QTimer m_timer;
};

} // namespace

class TUiDriverPlugin : public QGenericPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "driver.json")

public:
    QObject* create(const QString& key, const QString& scriptPath) override
    {
        if (key.compare(QLatin1String("qorsmaildriver"), Qt::CaseInsensitive) != 0) {
            return nullptr;
        }
        return new TUiDriver(scriptPath);
    }
};

#include "UiDriverPlugin.moc"
