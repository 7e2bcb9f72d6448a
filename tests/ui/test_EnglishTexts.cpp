// SPDX-License-Identifier: MIT
// The shipped English language file against the station itself: every key of the built-in text table (read
// from core/LangTexts.h, so a key added there fails here until the file has its English text) and every text of
// every window, once the window has translated itself; and the mnemonics of every window in both languages.

#include "AddressBookDlg.h"
#include "Ch_file.h"
#include "DialogChecks.h"
#include "EventMailProperty.h"
#include "FirstUserDlg.h"
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

// The mnemonic of a text: the character after a single "&" ("&&" stands for the ampersand itself); null if none.
QChar mnemonicOf(const QString& text)
{
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text.at(i) == u'&' && text.at(++i) != u'&') {
            return text.at(i).toLower();
        }
    }
    return {};
}

// Where a window's mnemonics fail: two texts of one scope (a menu, or the widgets shown together with the menu
// bar's titles) with the same one, a "&" on a label without a field, and, where every text needs one, a menu
// item, a button with a word on it (OK and Cancel go by Enter and Escape) or a label in front of its field
// without one. The main window shows one of its three right-hand panels at a time.
QStringList mnemonicFaults(QWidget& window, bool everyTextNeedsOne)
{
    QStringList faults;
    QList<QStringList> scopes;
    const auto take = [&](QStringList& scope, const QString& text, bool needsOne) {
        const bool word = std::any_of(text.begin(), text.end(), [](QChar c) { return c.isLetter(); });
        if (everyTextNeedsOne && needsOne && word && mnemonicOf(text).isNull()) {
            faults << QStringLiteral("no mnemonic in \"%1\"").arg(text);
        }
        scope << text;
    };
    QList<QList<QAction*>> menus;
    for (const QMenu* menu : window.findChildren<QMenu*>()) {
        menus << menu->actions();
    }
    for (const QWidget* w : window.findChildren<QWidget*>()) {
        if (w->contextMenuPolicy() == Qt::ActionsContextMenu) {
            menus << w->actions();
        }
    }
    for (const QList<QAction*>& actions : menus) {
        QStringList& scope = scopes.emplaceBack();
        for (const QAction* action : actions) {
            if (!action->isSeparator()) {
                take(scope, action->text(), true);
            }
        }
    }
    QList<QWidget*> panels;
    for (const char* name : {"Panel1", "EventMailPanel", "ReportmailPanel"}) {
        if (QWidget* panel = window.findChild<QWidget*>(QLatin1String(name))) {
            panels << panel;
        }
    }
    for (qsizetype shown = 0; shown < std::max<qsizetype>(panels.size(), 1); ++shown) {
        for (qsizetype k = 0; k < panels.size(); ++k) {
            panels[k]->setVisible(k == shown);
        }
        QStringList& scope = scopes.emplaceBack();
        if (const auto* bar = window.findChild<QMenuBar*>()) {
            for (const QAction* menu : bar->actions()) {
                take(scope, menu->text(), true);
            }
        }
        for (const QWidget* w : window.findChildren<QWidget*>()) {
            const auto* label = qobject_cast<const QLabel*>(w);
            if (!w->isVisibleTo(&window)) {
                continue;
            } else if (const auto* button = qobject_cast<const QAbstractButton*>(w)) {
                const QString name = w->objectName();
                take(scope, button->text(), name.compare(u"OkBtn", Qt::CaseInsensitive) != 0 && name != u"CancelBtn");
            } else if (const auto* group = qobject_cast<const QGroupBox*>(w)) {
                take(scope, group->title(), false);
            } else if (label && !label->buddy() && !mnemonicOf(label->text()).isNull()) {
                faults << QStringLiteral("a mnemonic without a field: ") + label->text();
            } else if (label && label->buddy()) {
                // A label behind its field (a unit) leads to nothing; one in front of it or above it does.
                const QPoint at = label->mapTo(&window, QPoint());
                const QPoint field = label->buddy()->mapTo(&window, QPoint());
                take(scope, label->text(), at.x() < field.x() || at.y() < field.y());
            }
        }
    }
    for (const QStringList& scope : scopes) {
        std::map<char16_t, QStringList> byKey;
        for (const QString& text : scope) {
            if (const QChar key = mnemonicOf(text); !key.isNull()) {
                byKey[key.unicode()] << text;
            }
        }
        for (const auto& [key, same] : byKey) {
            if (same.size() > 1) {
                faults << QStringLiteral("the same mnemonic: ") + same.join(QStringLiteral(", "));
            }
        }
    }
    return faults;
}

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
        TFirstUserDlg firstUser(m_workDir + QStringLiteral("CfgCache/Client/client_zqv.cfg.cah"), {});
        const std::vector<QWidget*> windows{m_form.get(),
            &selector,
            &chooser,
            &eventDlg,
            &reportDlg,
            &smtpDlg,
            &addressBook,
            &wait,
            &login,
            &firstUser};
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
            const QStringList faults = mnemonicFaults(window, english);
            EXPECT_TRUE(faults.isEmpty()) << (english ? "English " : "Chinese ") << window.metaObject()->className()
                                          << ": " << faults.join(QStringLiteral("; ")).toStdString();
        });
    }
}

} // namespace
