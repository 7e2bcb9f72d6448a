// SPDX-License-Identifier: MIT
// The shipped English language file against the station itself: every key of the built-in text table (read
// from core/LangTexts.h, so a key added there fails here until the file has its English text) and every text of
// every window, once the window has translated itself; and the mnemonics of every window in both languages.

#include "AddressBookDlg.h"
#include "Ch_file.h"
#include "DialogChecks.h"
#include "EventMailProperty.h"
#include "LoginDlg.h"
#include "MLEngine.h"
#include "MainFormFixture.h"
#include "QorsmailDef.h"
#include "ReportMailProperty.h"
#include "SelAddrDlg.h"
#include "SmtpSetupDlg.h"
#include "WaitDlg.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMetaProperty>
#include <QRegularExpression>
#include <algorithm>
#include <map>
#include <optional>

namespace {

const QString EnglishFile = QStringLiteral(QORSMAIL_SOURCE_DIR "/Language/qormail.en.lang");

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool hasChinese(const QString& text)
{
    static const QRegularExpression cjk(QStringLiteral("[\\x{3000}-\\x{9fff}\\x{ff00}-\\x{ffef}]"));
    return text.contains(cjk);
}

// Every text a person can see or hear in the window: string properties and the lines of lists, combo boxes and
// trees, each named "object.property".
QStringList chineseTexts(QWidget& window)
{
    QStringList found;
    auto check = [&](const QObject* object, const char* what, const QString& text) {
        if (hasChinese(text)) {
            found << QStringLiteral("%1.%2 = %3").arg(object->objectName(), QLatin1String(what), text);
        }
    };
    QList<QObject*> objects = window.findChildren<QObject*>();
    objects.prepend(&window);
    for (const QObject* object : objects) {
        const QMetaObject* meta = object->metaObject();
        for (int i = 0; i < meta->propertyCount(); ++i) {
            const QMetaProperty property = meta->property(i);
            // The rich-text form of a text box is markup (it names the font family), not a text of its own.
            if (property.typeId() == QMetaType::QString && qstrcmp(property.name(), "html") != 0) {
                check(object, property.name(), property.read(object).toString());
            }
        }
        if (const auto* list = qobject_cast<const QListWidget*>(object)) {
            for (int i = 0; i < list->count(); ++i) {
                check(object, "Items", list->item(i)->text());
            }
        } else if (const auto* combo = qobject_cast<const QComboBox*>(object)) {
            for (int i = 0; i < combo->count(); ++i) {
                check(object, "Items", combo->itemText(i));
            }
        } else if (const auto* tree = qobject_cast<const QTreeWidget*>(object)) {
            for (int c = 0; c < tree->columnCount(); ++c) {
                check(object, "Columns", tree->headerItem()->text(c));
                for (int i = 0; i < tree->topLevelItemCount(); ++i) {
                    check(object, "Items", tree->topLevelItem(i)->text(c));
                }
            }
        }
    }
    return found;
}

// The mnemonic of a text: the character after a single "&" ("&&" stands for the ampersand itself).
std::optional<QChar> mnemonicOf(const QString& text)
{
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('&')) {
            if (text.at(i + 1) != QLatin1Char('&')) {
                return text.at(i + 1).toLower();
            }
            ++i;
        }
    }
    return std::nullopt;
}

bool hasLetter(const QString& text)
{
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c.isLetter(); });
}

// Where a window's mnemonics fail: two texts of one scope (the widgets shown together with the menu bar's
// titles, or one menu) with the same mnemonic, a "&" on a label without a field, and, where every text needs
// one, a menu item, a button with a word on it (OK and Cancel go by Enter and Escape) or a label in front of
// its field without one.
class TMnemonicCheck
{
public:
    TMnemonicCheck(QWidget& window, bool everyTextNeedsOne)
        : m_window(window)
        , m_needed(everyTextNeedsOne)
    {
    }

    // The widgets visible now, as one scope.
    void checkShownWidgets(const QString& scope)
    {
        QStringList texts;
        if (const auto* bar = m_window.findChild<QMenuBar*>()) {
            for (const QAction* menu : bar->actions()) {
                take(texts, scope, menu->text(), true);
            }
        }
        for (QWidget* w : m_window.findChildren<QWidget*>()) {
            if (!w->isVisibleTo(&m_window)) {
                continue;
            }
            if (const auto* button = qobject_cast<QAbstractButton*>(w)) {
                const bool okOrCancel = w->objectName().compare(QLatin1String("OkBtn"), Qt::CaseInsensitive) == 0
                    || w->objectName() == QLatin1String("CancelBtn");
                take(texts, scope + QLatin1Char('/') + w->objectName(), button->text(), !okOrCancel);
            } else if (const auto* group = qobject_cast<QGroupBox*>(w)) {
                take(texts, scope, group->title(), false);
            } else if (const auto* label = qobject_cast<QLabel*>(w)) {
                checkLabel(texts, scope, *label);
            }
        }
        collisions(scope, texts);
    }

    // Every menu of the window and every widget's context menu made of actions, each a scope.
    void checkMenus()
    {
        QList<QList<QAction*>> menus;
        for (const QMenu* menu : m_window.findChildren<QMenu*>()) {
            menus << menu->actions();
        }
        for (const QWidget* w : m_window.findChildren<QWidget*>()) {
            if (w->contextMenuPolicy() == Qt::ActionsContextMenu) {
                menus << w->actions();
            }
        }
        for (const QList<QAction*>& actions : menus) {
            QStringList texts;
            for (const QAction* action : actions) {
                if (!action->isSeparator()) {
                    take(texts, scope() + QLatin1Char('/') + action->objectName(), action->text(), true);
                }
            }
            collisions(scope() + QStringLiteral(" menu"), texts);
        }
    }

    QStringList faults;

private:
    QString scope() const { return QString::fromLatin1(m_window.metaObject()->className()); }

    void take(QStringList& texts, const QString& where, const QString& text, bool needsOne)
    {
        if (m_needed && needsOne && hasLetter(text) && !mnemonicOf(text)) {
            faults << QStringLiteral("%1: no mnemonic in \"%2\"").arg(where, text);
        }
        texts << text;
    }

    void checkLabel(QStringList& texts, const QString& scope, const QLabel& label)
    {
        const QString where = scope + QLatin1Char('/') + label.objectName();
        const QWidget* buddy = label.buddy();
        if (!buddy) {
            if (mnemonicOf(label.text())) {
                faults << where + QStringLiteral(": a mnemonic without a field");
            }
            return;
        }
        // A label behind its field (a unit) leads to nothing; one in front of it or above it does.
        const QPoint at = label.mapTo(&m_window, QPoint());
        const QPoint field = buddy->mapTo(&m_window, QPoint());
        take(texts, where, label.text(), at.x() < field.x() || at.y() < field.y());
    }

    void collisions(const QString& scope, const QStringList& texts)
    {
        std::map<char16_t, QStringList> byKey;
        for (const QString& text : texts) {
            if (const auto key = mnemonicOf(text)) {
                byKey[key->unicode()] << text;
            }
        }
        for (const auto& [key, same] : byKey) {
            if (same.size() > 1) {
                faults << QStringLiteral("%1: \"%2\"").arg(scope, same.join(QStringLiteral("\", \"")));
            }
        }
    }

    QWidget& m_window;
    bool m_needed;
};

class EnglishTexts : public MainFormFixture
{
protected:
    void TearDown() override { LangEngine().LoadLanguageFileFrom(QString()); }

    // Every window as the station makes it, translated from the language file loaded now; with QORSMAIL_GRAB_DIR
    // set, a picture of each as <class>-<language>.png.
    void forEachWindow(const QString& language, const std::function<void(QWidget&)>& check)
    {
        m_form.reset(); // a window of the language before goes first: it works on the engine
        writeTasks({});
        createForm();
        TSelEmailAddrDlg selector(m_tables);
        Tch_file_dlg chooser;
        TEventmailPropertyDlg eventDlg(m_tables, selector);
        TReportmailPropertyDlg reportDlg(m_tables, selector, chooser);
        TSmtpDlg smtpDlg;
        TAddressBookForm addressBook(m_tables);
        TWaitDialog wait;
        TLoginDlg login(nullptr, QString());
        const std::vector<QWidget*> windows{
            m_form.get(), &selector, &chooser, &eventDlg, &reportDlg, &smtpDlg, &addressBook, &wait, &login};
        for (QWidget* window : windows) {
            // Two dialogs translate themselves each time they are shown.
            window->show();
            check(*window);
            SaveGrab(*window, QString::fromLatin1(window->metaObject()->className()) + QLatin1Char('-') + language);
            window->hide();
        }
    }
};

TEST_F(EnglishTexts, EveryKeyOfTheTableAndEveryWindowTextHasAnEnglishText)
{
    const QByteArray bytes = readFile(EnglishFile);
    ASSERT_FALSE(bytes.isEmpty()) << EnglishFile.toStdString();
    EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }));
    const QByteArray withoutLineEnds = QByteArray(bytes).replace("\r\n", "");
    EXPECT_TRUE(bytes.endsWith("\r\n") && !withoutLineEnds.contains('\r') && !withoutLineEnds.contains('\n'))
        << "every line ends with CR LF";

    TSpecialMemIniFile ini(EnglishFile);
    const QString missing = QStringLiteral("\x01missing");
    // Each key with its Chinese default where it has one of its own; a count text needs its singular too.
    QStringList keys;
    std::map<QString, QString> chinese;
    // Without the preprocessor's lines, which name the macros themselves.
    static const QRegularExpression directive(QStringLiteral("^#.*$"), QRegularExpression::MultilineOption);
    const QString table =
        QString::fromUtf8(readFile(QStringLiteral(QORSMAIL_SOURCE_DIR "/core/LangTexts.h"))).remove(directive);
    static const QRegularExpression entry(QStringLiteral("QORSMAIL_(TEXT|COUNT_TEXT|JOINED|JOINED_COUNT)\\(\\s*(\\w+)"
                                                         "\\s*,\\s*(\\w+)\\s*(?:,\\s*\"((?:[^\"\\\\]|\\\\.)*)\")?"));
    for (auto match = entry.globalMatch(table); match.hasNext();) {
        const QRegularExpressionMatch m = match.next();
        const QString key = m.captured(2) + QLatin1Char('/') + m.captured(3);
        keys << key;
        chinese[key] = m.captured(4);
        if (m.captured(1).contains(QLatin1String("COUNT"))) {
            keys << key + QStringLiteral("_1");
            chinese[key + QStringLiteral("_1")] = m.captured(4);
        }
    }
    ASSERT_GT(keys.size(), 100) << "the table was not read";
    for (int i = 0; i < EventTypeListCount; ++i) {
        keys << QLatin1String(LangText::EventTypeName_Section) + QStringLiteral("/EventTypeName%1").arg(i);
    }
    QStringList untranslated;
    QStringList lineBreaks;
    for (const QString& key : keys) {
        const QString section = key.section(QLatin1Char('/'), 0, 0);
        const QString value = ini.ReadValue(section, key.section(QLatin1Char('/'), 1), missing);
        if (value == missing || value.trimmed().isEmpty()) {
            untranslated << key;
        } else if (chinese[key].count(QStringLiteral("\\n")) != value.count(QLatin1Char('\n'))) {
            lineBreaks << key; // the English text breaks its lines where the Chinese one does
        }
    }
    EXPECT_TRUE(untranslated.isEmpty()) << "keys without an English text: "
                                        << untranslated.join(QStringLiteral(", ")).toStdString();
    EXPECT_TRUE(lineBreaks.isEmpty()) << "keys with other line breaks: "
                                      << lineBreaks.join(QStringLiteral(", ")).toStdString();

    // Every window as the station makes it, translated from the English file, shows no Chinese text.
    LangEngine().LoadLanguageFileFrom(EnglishFile);
    forEachWindow(QStringLiteral("en"), [](QWidget& window) {
        const QStringList chinese = chineseTexts(window);
        EXPECT_TRUE(chinese.isEmpty()) << window.metaObject()->className() << ": "
                                       << chinese.join(QStringLiteral("; ")).toStdString();
    });
}

TEST_F(EnglishTexts, MnemonicsNeverCollideAndEveryEnglishTextHasOne)
{
    for (const bool english : {false, true}) {
        LangEngine().LoadLanguageFileFrom(english ? EnglishFile : QString());
        forEachWindow(english ? QStringLiteral("en") : QStringLiteral("zh"), [&](QWidget& window) {
            TMnemonicCheck check(window, english);
            check.checkMenus();
            // The main window shows one of its three right-hand panels at a time.
            const QList<QWidget*> panels{window.findChild<QWidget*>(QStringLiteral("Panel1")),
                window.findChild<QWidget*>(QStringLiteral("EventMailPanel")),
                window.findChild<QWidget*>(QStringLiteral("ReportmailPanel"))};
            for (QWidget* shown : panels) {
                for (QWidget* panel : panels) {
                    if (panel) {
                        panel->setVisible(panel == shown);
                    }
                }
                check.checkShownWidgets(QString::fromLatin1(window.metaObject()->className()));
                if (!shown) {
                    break; // a dialog: its widgets once
                }
            }
            EXPECT_TRUE(check.faults.isEmpty())
                << (english ? "English: " : "Chinese: ") << check.faults.join(QStringLiteral("; ")).toStdString();
        });
    }
}

} // namespace
