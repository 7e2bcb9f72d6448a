// SPDX-License-Identifier: MIT
// The recipient selection, driven on the real dialog offscreen.

#include "DialogChecks.h"
#include "FocusChain.h"
#include "GbkCodec.h"
#include "SelAddrDlg.h"
#include "UiTestApp.h"

#include <QListWidget>
#include <QPushButton>
#include <QTest>

namespace {

TMailAddr BookEntry(const QString& name, const QString& addr)
{
    TMailAddr entry{};
    Gbk::storeField(entry.Name, name);
    Gbk::storeField(entry.Addr, addr);
    return entry;
}

class SelEmailAddr : public ::testing::Test
{
protected:
    SelEmailAddr()
    {
        m_tables.AddrBook = {BookEntry(QStringLiteral("Zhang"), QStringLiteral("zhang@example.com")),
            BookEntry(QStringLiteral("園顯"), QStringLiteral("yuan@example.com")),
            BookEntry(QStringLiteral("ZHANG"), QStringLiteral("second@example.com")),
            BookEntry(QString(), QStringLiteral("nameless@example.com")),
            BookEntry(QStringLiteral("李四"), QStringLiteral("li@example.com"))};
    }

    QListWidget& book() { return child<QListWidget>(m_dlg, "AddressBookList"); }
    QListWidget& receivers() { return child<QListWidget>(m_dlg, "ReceiverList"); }
    void click(const char* name) { child<QPushButton>(m_dlg, name).click(); }

    QStringList receiverLines()
    {
        QStringList lines;
        for (int i = 0; i < receivers().count(); ++i) {
            lines << receivers().item(i)->text();
        }
        return lines;
    }

    void selectBookRows(std::initializer_list<int> rows)
    {
        book().clearSelection();
        for (int row : rows) {
            book().item(row)->setSelected(true);
        }
    }

    TMailTables m_tables;
    TMessageRecorder m_messages;
    TSelEmailAddrDlg m_dlg{m_tables};
};

TEST_F(SelEmailAddr, ShowListsEveryBookNameAndKeepsTheLoadedLinesAsTheyStand)
{
    const QStringList lines{QStringLiteral("  zhang "), QString(), QStringLiteral("a@b")};
    m_dlg.LoadReceivers(lines);
    m_dlg.show();
    ASSERT_EQ(book().count(), 5);
    EXPECT_EQ(book().item(1)->text(), QStringLiteral("園顯"));
    EXPECT_EQ(book().item(3)->text(), QString());
    EXPECT_EQ(receiverLines(), lines);
    EXPECT_FALSE(m_dlg.Modified);
    EXPECT_EQ(m_dlg.windowTitle(), QStringLiteral("选择收件人"));
    EXPECT_TRUE(ClippedTexts(m_dlg).isEmpty()) << ClippedTexts(m_dlg).join(QLatin1Char(' ')).toStdString();
    SaveGrab(m_dlg, QStringLiteral("TSelEmailAddrDlg"));

    // The next show reads the book again; the recipient lines stay until the next LoadReceivers.
    m_dlg.hide();
    m_tables.AddrBook.pop_back();
    m_dlg.show();
    EXPECT_EQ(book().count(), 4);
    EXPECT_EQ(receiverLines(), lines);
}

TEST_F(SelEmailAddr, AddCopiesEachSelectedNameOnceIgnoringAsciiCase)
{
    struct Case
    {
        const char* name;
        QStringList loaded;
        std::initializer_list<int> selected;
        QStringList expected;
        bool modified;
    };
    const Case cases[] = {
        {"nothing selected", {QStringLiteral("x@y")}, {}, {QStringLiteral("x@y")}, false},
        {"two names in book order", {}, {4, 1}, {QStringLiteral("園顯"), QStringLiteral("李四")}, true},
        {"present in other case", {QStringLiteral("zHaNg")}, {0}, {QStringLiteral("zHaNg")}, true},
        // Two book names that differ only in ASCII case: the second is the first one again.
        {"case twins", {}, {0, 2}, {QStringLiteral("Zhang")}, true},
        {"an empty name is skipped", {}, {3}, {}, true},
    };
    for (const Case& c : cases) {
        m_dlg.LoadReceivers(c.loaded);
        m_dlg.show();
        selectBookRows(c.selected);
        click("AddBtn");
        EXPECT_EQ(receiverLines(), c.expected) << c.name;
        EXPECT_EQ(m_dlg.Modified, c.modified) << c.name;
        m_dlg.hide();
    }
}

TEST_F(SelEmailAddr, PickingTheSameNameTwiceKeepsItOnce)
{
    m_dlg.LoadReceivers({});
    m_dlg.show();
    selectBookRows({4});
    click("AddBtn");
    click("AddBtn");
    EXPECT_EQ(receiverLines(), QStringList{QStringLiteral("李四")});
}

TEST_F(SelEmailAddr, DelRemovesTheSelectedLinesOnly)
{
    m_dlg.LoadReceivers({QStringLiteral("a@b"), QStringLiteral("李四"), QStringLiteral("c@d")});
    m_dlg.show();
    click("DelBtn");
    EXPECT_EQ(receivers().count(), 3);
    EXPECT_FALSE(m_dlg.Modified);

    receivers().item(0)->setSelected(true);
    receivers().item(2)->setSelected(true);
    click("DelBtn");
    EXPECT_EQ(receiverLines(), QStringList{QStringLiteral("李四")});
    EXPECT_TRUE(m_dlg.Modified);
}

TEST_F(SelEmailAddr, OkEndsWithOkOnlyAfterAnAddOrRemove)
{
    struct Case
    {
        const char* name;
        std::function<void()> act;
        int result;
    };
    const Case cases[] = {
        {"untouched", [] {}, QDialog::Rejected},
        {"an add that changed nothing",
            [this] {
                selectBookRows({0});
                click("AddBtn");
            },
            QDialog::Accepted},
        {"a removal",
            [this] {
                receivers().item(0)->setSelected(true);
                click("DelBtn");
            },
            QDialog::Accepted},
    };
    for (const Case& c : cases) {
        TDialogRecorder runs;
        runs.then([&](QDialog& dialog) {
            c.act();
            click("OkBtn");
            return dialog.result();
        });
        m_dlg.LoadReceivers({QStringLiteral("Zhang")});
        EXPECT_EQ(MessageBoxes::execDialog(m_dlg), c.result) << c.name;
        EXPECT_EQ(runs.names(), QStringList{QStringLiteral("TSelEmailAddrDlg")});
    }
    EXPECT_TRUE(m_messages.requests().empty());
}

TEST_F(SelEmailAddr, CancelAndEscapeEndWithCancelAfterChanges)
{
    for (const bool escape : {false, true}) {
        m_dlg.LoadReceivers({});
        m_dlg.show();
        selectBookRows({0});
        click("AddBtn");
        if (escape) {
            QTest::keyClick(&receivers(), Qt::Key_Escape);
        } else {
            click("CancelBtn");
        }
        EXPECT_FALSE(m_dlg.isVisible()) << escape;
        EXPECT_EQ(m_dlg.result(), QDialog::Rejected) << escape;
    }
}

TEST_F(SelEmailAddr, GetReceiversLooksUpEachOfTheFirstHundredLines)
{
    QStringList lines{QStringLiteral("zhang"),
        QStringLiteral(" 李四"),
        QString(),
        QStringLiteral("王五"),
        QStringLiteral("園顯"),
        QStringLiteral("x@example.com")};
    while (lines.size() < 105) {
        lines << QStringLiteral("more%1@example.com").arg(lines.size());
    }
    m_dlg.LoadReceivers(lines);
    TMailAddr out[MaxReceivers];
    std::memset(out, 0x55, sizeof(out));
    ASSERT_EQ(m_dlg.GetReceivers(out), MaxReceivers);

    struct Expect
    {
        int index;
        QString name;
        QString addr;
    };
    const Expect expected[] = {
        // A name in other ASCII case is stored as written, with the first matching entry's address.
        {0, QStringLiteral("zhang"), QStringLiteral("zhang@example.com")},
        // Lines are not trimmed: with its blank it is no book name.
        {1, QString(), QStringLiteral(" 李四")},
        // The empty line matches the book's nameless entry, as FindAddrByName compares whole names.
        {2, QString(), QStringLiteral("nameless@example.com")},
        {3, QString(), QStringLiteral("王五")},
        {4, QStringLiteral("園顯"), QStringLiteral("yuan@example.com")},
        {5, QString(), QStringLiteral("x@example.com")},
        {99, QString(), QStringLiteral("more99@example.com")},
    };
    for (const Expect& e : expected) {
        EXPECT_EQ(Gbk::fieldText(out[e.index].Name), e.name) << e.index;
        EXPECT_EQ(Gbk::fieldText(out[e.index].Addr), e.addr) << e.index;
    }

    // Fewer lines: the unused entries are zeroed.
    m_dlg.LoadReceivers({QStringLiteral("a@b")});
    ASSERT_EQ(m_dlg.GetReceivers(out), 1);
    const TMailAddr zero{};
    EXPECT_EQ(std::memcmp(&out[1], &zero, sizeof(zero)), 0);
    m_dlg.LoadReceivers({});
    EXPECT_EQ(m_dlg.GetReceivers(out), 0);
}

TEST_F(SelEmailAddr, OkRefusesALineLongerThanARecipientField)
{
    // 20 Chinese characters are 40 GBK bytes, one more than the field holds; 19 and an ASCII letter fit.
    const QString tooLong = QString(20, QChar(0x674E));
    const QString fits = QString(19, QChar(0x674E)) + QLatin1Char('x');
    m_dlg.LoadReceivers({fits, tooLong});
    m_dlg.show();
    selectBookRows({0});
    click("AddBtn");
    click("OkBtn");
    ASSERT_EQ(m_messages.texts().size(), 1);
    EXPECT_TRUE(m_messages.texts().at(0).contains(QStringLiteral("\"") + tooLong + QStringLiteral("\"")));
    EXPECT_TRUE(m_dlg.isVisible());
    EXPECT_EQ(receivers().currentRow(), 1);

    click("DelBtn");
    click("OkBtn");
    EXPECT_EQ(m_dlg.result(), QDialog::Accepted);
    TMailAddr out[MaxReceivers];
    ASSERT_EQ(m_dlg.GetReceivers(out), 2);
    EXPECT_EQ(Gbk::fieldText(out[0].Addr), fits);
}

TEST_F(SelEmailAddr, TabWalksTheListsAndButtonsInReadingOrderWithNames)
{
    m_dlg.show();
    const auto stops = WalkTabChain(m_dlg, book());
    EXPECT_EQ(StopNames(stops),
        (QStringList{QStringLiteral("AddressBookList"),
            QStringLiteral("AddBtn"),
            QStringLiteral("DelBtn"),
            QStringLiteral("ReceiverList"),
            QStringLiteral("OkBtn"),
            QStringLiteral("CancelBtn")}));
    for (const TFocusStop& stop : stops) {
        EXPECT_FALSE(stop.accessibleName.isEmpty()) << stop.objectName.toStdString();
    }
    EXPECT_EQ(stops.front().accessibleName, QStringLiteral("地址簿："));
}

} // namespace
