// SPDX-License-Identifier: MIT
// The address book dialog, driven on the real dialog offscreen; boxes and prompts answered by the recorders.

#include "AddressBookDlg.h"
#include "DialogChecks.h"
#include "FieldInput.h"
#include "FocusChain.h"
#include "GbkCodec.h"
#include "LangTexts.h"
#include "MLEngine.h"
#include "UiTestApp.h"

#include <QGroupBox>
#include <QHeaderView>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

namespace {

const QString ExistsText = QString::fromUtf8(LangText::AddressBook_Str::Str2.Default);

TMailAddr BookEntry(const QString& name, const QString& addr)
{
    TMailAddr entry{};
    Gbk::storeField(entry.Name, name);
    Gbk::storeField(entry.Addr, addr);
    return entry;
}

QString Text(const LangText::Entry& entry)
{
    return QString::fromUtf8(entry.Default);
}

class AddressBook : public ::testing::Test
{
protected:
    AddressBook()
    {
        m_tables.AddrBook = {BookEntry(QStringLiteral("Zhang"), QStringLiteral("zhang@example.com")),
            BookEntry(QStringLiteral("李四"), QStringLiteral("li@example.com"))};
        m_dlg.Editable = true;
    }

    QTreeWidget& list() { return child<QTreeWidget>(m_dlg, "AddressBookList"); }
    QLineEdit& edit(const char* name) { return child<QLineEdit>(m_dlg, name); }
    void click(const char* name) { child<QPushButton>(m_dlg, name).click(); }

    // Types text as an input method commits it (QTest cannot type Chinese).
    static void type(QLineEdit& edit, const QString& text)
    {
        edit.setFocus();
        QInputMethodEvent event;
        event.setCommitString(text);
        QApplication::sendEvent(&edit, &event);
    }

    QStringList rows()
    {
        QStringList out;
        for (int i = 0; i < list().topLevelItemCount(); ++i) {
            out << list().topLevelItem(i)->text(0) + QLatin1Char('|') + list().topLevelItem(i)->text(1);
        }
        return out;
    }

    void select(int row) { list().setCurrentItem(list().topLevelItem(row)); }

    QStringList bookRows() const
    {
        QStringList out;
        for (const TMailAddr& e : m_tables.AddrBook) {
            out << Gbk::fieldText(e.Name) + QLatin1Char('|') + Gbk::fieldText(e.Addr);
        }
        return out;
    }

    TMailTables m_tables;
    TMessageRecorder m_messages;
    TInputRecorder m_inputs;
    TAddressBookForm m_dlg{m_tables};
};

TEST_F(AddressBook, ShowFillsTheListAndEnablesAddingOnlyWhenEditable)
{
    for (const bool editable : {true, false}) {
        m_dlg.Editable = editable;
        m_dlg.show();
        edit("NameEdit").setText(QStringLiteral("left over"));
        m_dlg.hide();
        m_dlg.show();
        EXPECT_EQ(
            rows(), (QStringList{QStringLiteral("Zhang|zhang@example.com"), QStringLiteral("李四|li@example.com")}));
        EXPECT_TRUE(edit("NameEdit").text().isEmpty());
        EXPECT_FALSE(m_dlg.Modified);
        EXPECT_EQ(child<QGroupBox>(m_dlg, "GroupBox1").isEnabled(), editable);
        EXPECT_EQ(list().header()->sectionSize(0), 100);
        EXPECT_EQ(list().header()->sectionSize(1), 240);
        EXPECT_TRUE(ClippedTexts(m_dlg).isEmpty()) << ClippedTexts(m_dlg).join(QLatin1Char(' ')).toStdString();
        SaveGrab(m_dlg, QStringLiteral("TAddressBookForm"));
        m_dlg.hide();
    }
}

TEST_F(AddressBook, EveryShowTranslatesFromItsSection)
{
    LangEngine().LoadLanguageBytes(Gbk::encode(
        QStringLiteral("[TAddressBookForm]\nCaption=地址簿\nAddNewBtn.Caption=添加\nLabel1.Caption=名字：\n")));
    m_dlg.show();
    EXPECT_EQ(m_dlg.windowTitle(), QStringLiteral("地址簿"));
    EXPECT_EQ(child<QPushButton>(m_dlg, "AddNewBtn").text(), QStringLiteral("添加"));
    EXPECT_EQ(AccessibleName(edit("NameEdit")), QStringLiteral("名字："));
    EXPECT_EQ(list().accessibleName(), QStringLiteral("地址簿"));
    m_dlg.hide();
    LangEngine().LoadLanguageBytes(QByteArray());
    m_dlg.setWindowTitle(QStringLiteral("designed"));
    m_dlg.show();
    EXPECT_EQ(m_dlg.windowTitle(), QStringLiteral("designed"));
}

TEST_F(AddressBook, AddChecksTheAddressThenTheNameIgnoringAsciiCase)
{
    struct Case
    {
        const char* what;
        QString name;
        QString addr;
        QStringList messages;
        bool added;
    };
    const QString badAddress = Text(LangText::AddressBook_Str::Str1);
    const Case cases[] = {
        {"empty name: nothing at all", QStringLiteral("   "), QStringLiteral("nobody"), {}, false},
        {"no @", QStringLiteral("王五"), QStringLiteral("wang.example.com"), {badAddress}, false},
        {"@ first", QStringLiteral("王五"), QStringLiteral("@example.com"), {badAddress}, false},
        {"@ last", QStringLiteral("王五"), QStringLiteral("wang@ "), {badAddress}, false},
        // 園 and 顯 carry 0x40 as their second byte: no '@' in them.
        {"0x40 trail bytes", QStringLiteral("王五"), QStringLiteral("園顯"), {badAddress}, false},
        {"name in other case",
            QStringLiteral(" zHANG "),
            QStringLiteral("z2@example.com"),
            {QStringLiteral("\" zHANG \" ") + ExistsText},
            false},
        {"new name", QStringLiteral(" 園顯 "), QStringLiteral(" yuan@example.com "), {}, true},
    };
    for (const Case& c : cases) {
        TMessageRecorder messages;
        m_dlg.show();
        type(edit("NameEdit"), c.name);
        type(edit("EmailEdit"), c.addr);
        click("AddNewBtn");
        EXPECT_EQ(messages.texts(), c.messages) << c.what;
        EXPECT_EQ(m_dlg.Modified, c.added) << c.what;
        EXPECT_EQ(list().topLevelItemCount(), c.added ? 3 : 2) << c.what;
        if (c.added) {
            EXPECT_EQ(rows().last(), QStringLiteral("園顯|yuan@example.com"));
            EXPECT_TRUE(edit("NameEdit").text().isEmpty() && edit("EmailEdit").text().isEmpty());
        } else {
            // The fields keep the input, trimmed.
            EXPECT_EQ(edit("NameEdit").text(), FieldInput::TrimBlanks(c.name)) << c.what;
        }
        m_dlg.hide();
    }
}

TEST_F(AddressBook, AddFieldsTakeThirtyNineGbkBytes)
{
    m_dlg.show();
    type(edit("NameEdit"), QString(20, QChar(0x674E)));
    EXPECT_TRUE(edit("NameEdit").text().isEmpty()); // 40 bytes: refused whole
    type(edit("NameEdit"), QString(19, QChar(0x674E)));
    type(edit("NameEdit"), QStringLiteral("李"));
    EXPECT_EQ(edit("NameEdit").text(), QString(19, QChar(0x674E)));
}

TEST_F(AddressBook, EditAsksForNameThenAddressAndChecksEach)
{
    using namespace LangText;
    const QString longName = QString(20, QChar(0x674E));
    struct Case
    {
        const char* what;
        std::vector<std::optional<QString>> answers;
        QStringList messages;
        int prompts;
        QString row0;
    };
    const QString unchanged = QStringLiteral("Zhang|zhang@example.com");
    const Case cases[] = {
        {"name prompt cancelled", {std::nullopt}, {}, 1, unchanged},
        {"own name in other case",
            {QStringLiteral(" ZHANG "), QStringLiteral("zhang@example.com")},
            {},
            2,
            QStringLiteral("ZHANG|zhang@example.com")},
        {"rename, then address prompt cancelled", {QStringLiteral("Wang"), std::nullopt}, {}, 2, unchanged},
        {"empty name", {QStringLiteral("  ")}, {Text(AddressBook_Str::Str5)}, 1, unchanged},
        {"another row's name",
            {QStringLiteral("李四")},
            {QStringLiteral("\" 李四 \"") + Text(AddressBook_Str::Str6)},
            1,
            unchanged},
        {"name too long for its field", {longName}, {Text(FieldLength_Str::Str0)}, 1, unchanged},
        {"address without @",
            {QStringLiteral("Wang"), QStringLiteral("園顯")},
            {Text(AddressBook_Str::Str9)},
            2,
            unchanged},
        {"address too long",
            {QStringLiteral("Wang"), QString(36, QLatin1Char('a')) + QStringLiteral("@b.c")},
            {Text(FieldLength_Str::Str1)},
            2,
            unchanged},
        {"new address only",
            {QStringLiteral("Zhang"), QStringLiteral(" z@new.example ")},
            {},
            2,
            QStringLiteral("Zhang|z@new.example")},
    };
    for (const Case& c : cases) {
        TMessageRecorder messages;
        TInputRecorder inputs;
        for (const auto& a : c.answers) {
            inputs.answer(a);
        }
        m_dlg.show();
        select(0);
        // A real double click: press and release, then the double click (QTest sends only the latter).
        const QPoint row0 = list().visualItemRect(list().topLevelItem(0)).center();
        QTest::mouseClick(list().viewport(), Qt::LeftButton, {}, row0);
        QTest::mouseDClick(list().viewport(), Qt::LeftButton, {}, row0);
        EXPECT_EQ(messages.texts(), c.messages) << c.what;
        ASSERT_EQ(static_cast<int>(inputs.requests().size()), c.prompts) << c.what;
        EXPECT_EQ(inputs.requests()[0].title, Text(AddressBook_Str::Str3));
        EXPECT_EQ(inputs.requests()[0].label, Text(AddressBook_Str::Str4));
        EXPECT_EQ(inputs.requests()[0].text, QStringLiteral("Zhang"));
        if (c.prompts > 1) {
            EXPECT_EQ(inputs.requests()[1].title, Text(AddressBook_Str::Str7));
            EXPECT_EQ(inputs.requests()[1].label, Text(AddressBook_Str::Str8));
            EXPECT_EQ(inputs.requests()[1].text, QStringLiteral("zhang@example.com"));
        }
        EXPECT_EQ(rows().first(), c.row0) << c.what;
        EXPECT_EQ(m_dlg.Modified, c.row0 != unchanged) << c.what;
        m_dlg.hide();
    }
}

TEST_F(AddressBook, EditWithoutSelectionOrWithSameValuesChangesNothing)
{
    m_dlg.show();
    list().clearSelection();
    QTest::keyClick(&list(), Qt::Key_F2);
    EXPECT_TRUE(m_inputs.requests().empty());

    select(1);
    m_inputs.answer(QStringLiteral("李四"));
    m_inputs.answer(QStringLiteral("li@example.com"));
    QTest::keyClick(&list(), Qt::Key_F2); // the keyboard's double click
    EXPECT_EQ(m_inputs.requests().size(), 2u);
    EXPECT_FALSE(m_dlg.Modified);
}

TEST_F(AddressBook, DeleteKeyAsksAndOnlyNoKeepsTheRow)
{
    struct Case
    {
        QMessageBox::StandardButton answer;
        bool deleted;
    };
    const Case cases[] = {{QMessageBox::No, false}, {QMessageBox::Yes, true}, {QMessageBox::Cancel, true}};
    for (const Case& c : cases) {
        TMessageRecorder messages;
        messages.answer(c.answer);
        m_dlg.show();
        select(1);
        QTest::keyClick(&list(), Qt::Key_Delete);
        ASSERT_EQ(messages.requests().size(), 1u);
        EXPECT_EQ(messages.texts().at(0), QStringLiteral("确认删除\" 李四 \" ?"));
        EXPECT_EQ(messages.requests()[0].icon, QMessageBox::Warning);
        EXPECT_EQ(list().topLevelItemCount(), c.deleted ? 1 : 2) << c.answer;
        EXPECT_EQ(m_dlg.Modified, c.deleted);
        m_dlg.hide();
    }
    m_dlg.show();
    list().clearSelection();
    QTest::keyClick(&list(), Qt::Key_Delete);
    EXPECT_TRUE(m_messages.requests().empty());
}

TEST_F(AddressBook, OkReplacesTheBookInListOrderOnlyWhenEditable)
{
    // A name with a byte that is not GBK (0x80) comes back byte for byte.
    TMailAddr odd{};
    std::memcpy(odd.Name, "A\x80Z", 3);
    std::memcpy(odd.Addr, "odd@example.com", 15);
    m_tables.AddrBook.push_back(odd);

    m_dlg.Editable = false;
    m_dlg.show();
    select(0);
    m_messages.answer(QMessageBox::Yes);
    QTest::keyClick(&list(), Qt::Key_Delete);
    click("OkBtn");
    EXPECT_EQ(m_dlg.result(), QDialog::Rejected);
    EXPECT_EQ(m_tables.AddrBook.size(), 3u);

    m_dlg.Editable = true;
    m_dlg.show();
    select(0);
    m_messages.answer(QMessageBox::Yes);
    QTest::keyClick(&list(), Qt::Key_Delete);
    type(edit("NameEdit"), QStringLiteral("王五"));
    type(edit("EmailEdit"), QStringLiteral("wang@example.com"));
    click("AddNewBtn");
    click("OkBtn");
    EXPECT_EQ(m_dlg.result(), QDialog::Accepted);
    ASSERT_EQ(m_tables.AddrBookCount(), 3);
    EXPECT_EQ(bookRows().at(0), QStringLiteral("李四|li@example.com"));
    EXPECT_EQ(bookRows().at(2), QStringLiteral("王五|wang@example.com"));
    EXPECT_EQ(std::memcmp(&m_tables.AddrBook[1], &odd, sizeof(odd)), 0);
}

TEST_F(AddressBook, CancelAsksOnlyAfterAChangeAndNoKeepsTheDialogOpen)
{
    const QString question = Text(LangText::AddressBook_Str::Str0);
    struct Case
    {
        const char* what;
        bool change;
        bool escape;
        std::optional<QMessageBox::StandardButton> answer;
        bool closed;
    };
    const Case cases[] = {
        {"untouched", false, false, std::nullopt, true},
        {"changed, No", true, false, QMessageBox::No, false},
        {"changed, Yes", true, false, QMessageBox::Yes, true},
        {"changed, Escape and Yes", true, true, QMessageBox::Yes, true},
        {"changed, Escape and No", true, true, QMessageBox::No, false},
    };
    for (const Case& c : cases) {
        TMessageRecorder messages;
        m_dlg.show();
        if (c.change) {
            select(0);
            messages.answer(QMessageBox::Yes);
            QTest::keyClick(&list(), Qt::Key_Delete);
        }
        if (c.answer) {
            messages.answer(*c.answer);
        }
        if (c.escape) {
            QTest::keyClick(&edit("NameEdit"), Qt::Key_Escape);
        } else {
            click("CancelBtn");
        }
        EXPECT_EQ(messages.texts().contains(question), c.change) << c.what;
        EXPECT_EQ(m_dlg.isVisible(), !c.closed) << c.what;
        EXPECT_EQ(m_tables.AddrBook.size(), 2u) << c.what;
        m_dlg.hide();
    }
}

TEST_F(AddressBook, TabWalksAddFieldsListAndButtonsWithNames)
{
    m_dlg.show();
    const auto stops = WalkTabChain(m_dlg, edit("NameEdit"));
    EXPECT_EQ(StopNames(stops),
        (QStringList{QStringLiteral("NameEdit"),
            QStringLiteral("EmailEdit"),
            QStringLiteral("AddNewBtn"),
            QStringLiteral("AddressBookList"),
            QStringLiteral("OkBtn"),
            QStringLiteral("CancelBtn")}));
    for (const TFocusStop& stop : stops) {
        EXPECT_FALSE(stop.accessibleName.isEmpty()) << stop.objectName.toStdString();
    }
    EXPECT_EQ(stops.front().accessibleName, QStringLiteral("姓名："));
}

} // namespace
