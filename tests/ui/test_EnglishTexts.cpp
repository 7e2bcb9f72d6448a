// SPDX-License-Identifier: MIT
// The shipped English language file against the station itself: every key of the built-in text table (read
// from core/LangTexts.h, so a key added there fails here until the file has its English text) and every text of
// every window, once the window has translated itself.

#include "AddressBookDlg.h"
#include "Ch_file.h"
#include "EventMailProperty.h"
#include "MLEngine.h"
#include "MainFormFixture.h"
#include "QorsmailDef.h"
#include "ReportMailProperty.h"
#include "SelAddrDlg.h"
#include "SmtpSetupDlg.h"
#include "WaitDlg.h"

#include <QComboBox>
#include <QListWidget>
#include <QMetaProperty>
#include <QRegularExpression>
#include <algorithm>

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

class EnglishTexts : public MainFormFixture
{
protected:
    void TearDown() override { LangEngine().LoadLanguageFileFrom(QString()); }
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
    QStringList keys;
    const QString table = QString::fromUtf8(readFile(QStringLiteral(QORSMAIL_SOURCE_DIR "/core/LangTexts.h")));
    static const QRegularExpression entry(QStringLiteral("QORSMAIL_TEXT\\(\\s*(\\w+)\\s*,\\s*(\\w+)\\s*,\\s*\""));
    for (auto match = entry.globalMatch(table); match.hasNext();) {
        const QRegularExpressionMatch m = match.next();
        keys << m.captured(1) + QLatin1Char('/') + m.captured(2);
    }
    ASSERT_GT(keys.size(), 100) << "the table was not read";
    for (int i = 0; i < EventTypeListCount; ++i) {
        keys << QLatin1String(LangText::EventTypeName_Section) + QStringLiteral("/EventTypeName%1").arg(i);
    }
    QStringList untranslated;
    for (const QString& key : keys) {
        const QString section = key.section(QLatin1Char('/'), 0, 0);
        const QString value = ini.ReadValue(section, key.section(QLatin1Char('/'), 1), missing);
        if (value == missing || value.trimmed().isEmpty()) {
            untranslated << key;
        }
    }
    EXPECT_TRUE(untranslated.isEmpty()) << "keys without an English text: "
                                        << untranslated.join(QStringLiteral(", ")).toStdString();

    // Every window as the station makes it, translated from the English file, shows no Chinese text.
    LangEngine().LoadLanguageFileFrom(EnglishFile);
    writeTasks({});
    createForm();
    TSelEmailAddrDlg selector(m_tables);
    Tch_file_dlg chooser;
    TEventmailPropertyDlg eventDlg(m_tables, selector);
    TReportmailPropertyDlg reportDlg(m_tables, selector, chooser);
    TSmtpDlg smtpDlg;
    TAddressBookForm addressBook(m_tables);
    TWaitDialog wait;
    const std::vector<QWidget*> windows{
        m_form.get(), &selector, &chooser, &eventDlg, &reportDlg, &smtpDlg, &addressBook, &wait};
    for (QWidget* window : windows) {
        // Two dialogs translate themselves each time they are shown.
        window->show();
        window->hide();
        const QStringList chinese = chineseTexts(*window);
        EXPECT_TRUE(chinese.isEmpty()) << window->metaObject()->className() << ": "
                                       << chinese.join(QStringLiteral("; ")).toStdString();
    }
}

} // namespace
