// SPDX-License-Identifier: MIT
#include "FormTranslator.h"

#include "MLEngine.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMetaProperty>
#include <QPlainTextEdit>
#include <QStringList>
#include <QTextEdit>
#include <QTreeWidget>
#include <QWidget>
#include <optional>

namespace {

// "a||b||c" -> a, b, c; empty parts are kept, so "" is one empty line and "a||||b" is a, "", b.
QStringList splitList(const QString& value)
{
    return value.split(QStringLiteral("||"), Qt::KeepEmptyParts);
}

std::optional<int> toInteger(const QString& value)
{
    bool ok = false;
    const int number = value.toInt(&ok, 10);
    return ok ? std::optional<int>(number) : std::nullopt;
}

bool setCaption(QObject* component, const QString& value)
{
    // A menu is a window of its own (its pop-up) but its caption is its title in the menu bar.
    if (auto* menu = qobject_cast<QMenu*>(component)) {
        menu->setTitle(value);
        return true;
    }
    if (auto* widget = qobject_cast<QWidget*>(component); widget && widget->isWindow()) {
        widget->setWindowTitle(value);
    } else if (auto* button = qobject_cast<QAbstractButton*>(component)) {
        button->setText(value);
    } else if (auto* label = qobject_cast<QLabel*>(component)) {
        label->setText(value);
    } else if (auto* group = qobject_cast<QGroupBox*>(component)) {
        group->setTitle(value);
    } else if (auto* action = qobject_cast<QAction*>(component)) {
        action->setText(value);
    } else if (widget) {
        widget->setWindowTitle(value);
    } else {
        return false;
    }
    return true;
}

bool setStrings(QObject* component, const QStringList& parts)
{
    if (auto* list = qobject_cast<QListWidget*>(component)) {
        // A check list box keeps its items checkable.
        const bool checkable = list->count() > 0 && (list->item(0)->flags() & Qt::ItemIsUserCheckable);
        list->clear();
        list->addItems(parts);
        if (checkable) {
            for (int i = 0; i < list->count(); ++i) {
                list->item(i)->setFlags(list->item(i)->flags() | Qt::ItemIsUserCheckable);
                list->item(i)->setCheckState(Qt::Unchecked);
            }
        }
        return true;
    }
    if (auto* combo = qobject_cast<QComboBox*>(component)) {
        combo->clear();
        combo->addItems(parts);
        return true;
    }
    if (auto* plain = qobject_cast<QPlainTextEdit*>(component)) {
        plain->setPlainText(parts.join(QLatin1Char('\n')));
        return true;
    }
    if (auto* rich = qobject_cast<QTextEdit*>(component)) {
        rich->setPlainText(parts.join(QLatin1Char('\n')));
        return true;
    }
    return false;
}

bool setItemIndex(QObject* component, const QString& value)
{
    const auto index = toInteger(value);
    if (!index) {
        return false;
    }
    if (auto* combo = qobject_cast<QComboBox*>(component)) {
        combo->setCurrentIndex(*index);
        return true;
    }
    if (auto* list = qobject_cast<QListWidget*>(component)) {
        list->setCurrentRow(*index);
        return true;
    }
    return false;
}

// Width, Height, Left, Top of a widget; a window of fixed size keeps it fixed at the new size.
bool setGeometryPart(QObject* component, const QString& name, const QString& value)
{
    auto* widget = qobject_cast<QWidget*>(component);
    const auto number = toInteger(value);
    if (!widget || !number) {
        return false;
    }
    const QString lower = name.toLower();
    if (lower == QLatin1String("left")) {
        widget->move(*number, widget->y());
    } else if (lower == QLatin1String("top")) {
        widget->move(widget->x(), *number);
    } else if (lower == QLatin1String("width")) {
        if (widget->minimumWidth() == widget->maximumWidth()) {
            widget->setFixedWidth(*number);
        } else {
            widget->resize(*number, widget->height());
        }
    } else {
        if (widget->minimumHeight() == widget->maximumHeight()) {
            widget->setFixedHeight(*number);
        } else {
            widget->resize(widget->width(), *number);
        }
    }
    return true;
}

// A Qt property of the component, found ignoring case, set when its type takes a text.
bool setQtProperty(QObject* component, const QString& name, const QString& value)
{
    const QMetaObject* meta = component->metaObject();
    for (int i = 0; i < meta->propertyCount(); ++i) {
        const QMetaProperty property = meta->property(i);
        if (QString::compare(QLatin1String(property.name()), name, Qt::CaseInsensitive) != 0) {
            continue;
        }
        if (!property.isWritable() || property.isEnumType() || property.isFlagType()) {
            return false;
        }
        switch (property.typeId()) {
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong: {
            const auto number = toInteger(value);
            return number && property.write(component, *number);
        }
        case QMetaType::QString:
            return property.write(component, value);
        case QMetaType::QStringList:
            return property.write(component, splitList(value));
        default:
            return false; // booleans, floating point, colours, fonts, other classes
        }
    }
    return false;
}

QObject* findComponent(QWidget* window, const QString& name)
{
    if (name.isEmpty() || name == QLatin1String("self")) {
        return window;
    }
    const auto children = window->findChildren<QObject*>();
    for (QObject* child : children) {
        if (QString::compare(child->objectName(), name, Qt::CaseInsensitive) == 0) {
            return child;
        }
    }
    return nullptr;
}

} // namespace

bool SetComponentProperty(QObject* component, const QString& propertyName, const QString& value)
{
    if (!component || propertyName.isEmpty()) {
        return false;
    }
    QString name = propertyName;
    if (name.startsWith(QLatin1String("Items"), Qt::CaseInsensitive)) {
        name = QStringLiteral("Items");
    }
    const QString lower = name.toLower();
    if (lower == QLatin1String("caption")) {
        return setCaption(component, value);
    }
    if (lower == QLatin1String("items") || lower == QLatin1String("lines")) {
        return setStrings(component, splitList(value));
    }
    if (lower == QLatin1String("columns")) {
        // The column titles of a tree or list view, "a||b".
        if (auto* tree = qobject_cast<QTreeWidget*>(component)) {
            tree->setHeaderLabels(splitList(value));
            return true;
        }
        return false;
    }
    if (lower == QLatin1String("itemindex")) {
        return setItemIndex(component, value);
    }
    if (lower == QLatin1String("hint")) {
        if (auto* widget = qobject_cast<QWidget*>(component)) {
            widget->setToolTip(value);
            return true;
        }
        if (auto* action = qobject_cast<QAction*>(component)) {
            action->setToolTip(value);
            return true;
        }
        return false;
    }
    if (lower == QLatin1String("width") || lower == QLatin1String("height") || lower == QLatin1String("left")
        || lower == QLatin1String("top")) {
        return setGeometryPart(component, lower, value);
    }
    if (lower == QLatin1String("text")) {
        if (qobject_cast<QPlainTextEdit*>(component)) {
            return setQtProperty(component, QStringLiteral("plainText"), value);
        }
        if (qobject_cast<QWidget*>(component) && component->property("text").isValid()) {
            return setQtProperty(component, QStringLiteral("text"), value);
        }
        if (auto* widget = qobject_cast<QWidget*>(component); widget && widget->isWindow()) {
            widget->setWindowTitle(value); // a form's Text is its caption
            return true;
        }
    }
    return setQtProperty(component, name, value);
}

bool TranslateFormLine(QWidget* window, const QString& line)
{
    const qsizetype equals = line.indexOf(QLatin1Char('='));
    if (equals < 0) {
        return false; // nothing to set; the rest of the section still applies
    }
    const QString target = line.left(equals).trimmed();
    const QString value = line.mid(equals + 1);
    const qsizetype dot = target.indexOf(QLatin1Char('.'));
    const QString componentName = dot < 0 ? QString() : target.left(dot).trimmed();
    const QString propertyName = dot < 0 ? target : target.mid(dot + 1);
    QObject* component = findComponent(window, componentName);
    return component && SetComponentProperty(component, propertyName, value);
}

bool TranslateForm(QWidget* window, const TSpecialCustomIniFile* iniFile, const QString& section)
{
    if (!iniFile) {
        return false;
    }
    QStringList lines;
    try {
        iniFile->ReadSectionLines(section, lines);
    } catch (...) {
        // What was read before the failure still applies.
    }
    for (const QString& line : lines) {
        TranslateFormLine(window, line);
    }
    return true;
}

bool TranslateForm(QWidget* window)
{
    const QString section = QString::fromLatin1(window->metaObject()->className());
    // The locale's texts first, so that a site's own line wins where both set the same property.
    TranslateForm(window, LangEngine().fallbackFile(), section);
    return TranslateForm(window, LangEngine().iniFile(), section);
}
