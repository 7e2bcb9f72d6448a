// SPDX-License-Identifier: MIT
// The event mail property dialog, driven offscreen: defaults, validation in its order, ticks, the keyword
// limit, read-only views, the cancel question, the popup commands and the recipient selection.

#include "DialogChecks.h"
#include "EventMailProperty.h"
#include "GbkCodec.h"
#include "LangTexts.h"
#include "MLEngine.h"
#include "SelAddrDlg.h"
#include "UiTestApp.h"

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QtTest/QTest>

namespace {

QString u(const char* text)
{
    return QString::fromUtf8(text);
}

QString text(const LangText::Entry& entry)
{
    return QString::fromUtf8(entry.Default);
}

// Chinese text typed as an input method commits it (QTest::keyClicks cannot type it).
void commit(QWidget& widget, const QString& typed)
{
    QInputMethodEvent event;
    event.setCommitString(typed);
    QApplication::sendEvent(&widget, &event);
}

TMailAddr entry(const char* name, const char* addr)
{
    TMailAddr a{};
    Gbk::storeField(a.Name, u(name));
    Gbk::storeField(a.Addr, u(addr));
    return a;
}

class EventDialogTest : public ::testing::Test
{
public:
    EventDialogTest() { m_tables.AddrBook = {entry("张三", "zhang@example.com"), entry("Ops", "ops@example.com")}; }

    void showEditable()
    {
        m_dlg.Editable = 1;
        m_dlg.show();
    }
    void tick(int listIndex) { types().item(listIndex)->setCheckState(Qt::Checked); }
    QListWidget& types() { return child<QListWidget>(m_dlg, "SelEventTypeList"); }
    QLineEdit& title() { return child<QLineEdit>(m_dlg, "TitleEdit"); }
    QPlainTextEdit& memo() { return child<QPlainTextEdit>(m_dlg, "ReceiverMemo"); }
    QLineEdit& keyword() { return child<QLineEdit>(m_dlg, "KeywordEdit"); }
    QCheckBox& level(const char* name) { return child<QCheckBox>(m_dlg, name); }
    void ok() { child<QPushButton>(m_dlg, "OkBtn").click(); }
    int tickCount()
    {
        int n = 0;
        for (int i = 0; i < types().count(); ++i) {
            n += types().item(i)->checkState() == Qt::Checked ? 1 : 0;
        }
        for (const char* name : {"Alarm0Chk", "Alarm1Chk", "Alarm2Chk", "Alarm3Chk"}) {
            n += level(name).isChecked() ? 1 : 0;
        }
        return n;
    }

    TMessageRecorder m_boxes;
    TMailTables m_tables;
    TSelEmailAddrDlg m_selector{m_tables};
    TEventmailPropertyDlg m_dlg{m_tables, m_selector};
};

TEST_F(EventDialogTest, ANewTaskShowsItsDefaultsAndNeedsARecipient)
{
    m_dlg.LoadDefaults();
    showEditable();
    EXPECT_EQ(m_dlg.windowTitle(), u("事件自动报告邮件设置"));
    EXPECT_EQ(title().text(), text(LangText::EventMail_Str::Str0));
    EXPECT_EQ(child<QSpinBox>(m_dlg, "WaitSecEdit").value(), 60);
    EXPECT_TRUE(keyword().text().isEmpty());
    EXPECT_EQ(tickCount(), 0);
    ASSERT_EQ(types().count(), EventTypeListCount);
    EXPECT_EQ(types().item(0)->text(), u("设备越限动作"));
    EXPECT_EQ(types().item(16)->text(), u("SEL保护事件"));
    EXPECT_EQ(m_dlg.Modified, 0);
    EXPECT_TRUE(child<QGroupBox>(m_dlg, "GroupBox1").isEnabled());

    ok();
    EXPECT_EQ(m_boxes.texts(), QStringList{text(LangText::EventMail_Str::Str2)});
    EXPECT_TRUE(m_dlg.isVisible());
    EXPECT_EQ(m_dlg.focusWidget(), &memo());
}

TEST_F(EventDialogTest, ValidationStopsAtTheFirstFaultWithItsText)
{
    struct Case
    {
        const char* name;
        const char* title;
        const char* memo;
        QString message; // empty: accepted
        const char* titleAfter;
        int receivers;
    };
    const std::vector<Case> cases = {
        {"blank title", "  \t ", "a@b.cn", text(LangText::EventMail_Str::Str1), "", -1},
        {"no recipient", "T", "\n  \n", text(LangText::EventMail_Str::Str2), "T", 0},
        {"unknown name", "T", "a@b.cn\n李四", text(LangText::EventMail_Str::Str2), "T", -1},
        {"nothing before @", "T", "@b.cn", text(LangText::EventMail_Str::Str2), "T", -1},
        {"book name and address", " 事件 ", "张三\n\n  x@y.cn  \nops", QString(), "事件", 3},
    };
    for (const Case& c : cases) {
        TMessageRecorder boxes;
        m_dlg.LoadDefaults();
        m_dlg.setResult(QDialog::Rejected);
        showEditable();
        title().setText(u(c.title));
        memo().setPlainText(u(c.memo));
        ok();
        EXPECT_EQ(boxes.texts(), c.message.isEmpty() ? QStringList{} : QStringList{c.message}) << c.name;
        EXPECT_EQ(title().text(), u(c.titleAfter)) << c.name;
        EXPECT_EQ(m_dlg.isVisible(), !c.message.isEmpty()) << c.name;
        if (c.receivers >= 0) {
            EXPECT_EQ(+m_dlg.Task.ReceiverCount, c.receivers) << c.name;
        }
        if (c.message.isEmpty()) {
            EXPECT_EQ(m_dlg.result(), QDialog::Accepted) << c.name;
            EXPECT_EQ(Gbk::fieldText(m_dlg.Task.Title), u("事件"));
            EXPECT_EQ(Gbk::fieldText(m_dlg.Task.Receivers[0].Name), u("张三"));
            EXPECT_EQ(Gbk::fieldText(m_dlg.Task.Receivers[0].Addr), u("zhang@example.com"));
            EXPECT_EQ(Gbk::fieldText(m_dlg.Task.Receivers[1].Name), QString());
            EXPECT_EQ(Gbk::fieldText(m_dlg.Task.Receivers[1].Addr), u("x@y.cn"));
            EXPECT_EQ(Gbk::fieldText(m_dlg.Task.Receivers[2].Name), u("ops")); // as typed
            EXPECT_EQ(Gbk::fieldText(m_dlg.Task.Receivers[2].Addr), u("ops@example.com"));
            EXPECT_EQ(m_dlg.Modified, 1);
        }
        m_dlg.hide();
    }
}

TEST_F(EventDialogTest, TicksAreStoredAndShownAgain)
{
    struct Case
    {
        const char* name;
        std::vector<int> types; // list indexes
        std::vector<const char*> levels;
        int32_t typeCount;
        std::vector<int16_t> stored;
        int32_t levelMask;
        int ticksShown;
    };
    std::vector<int> all;
    for (int i = 0; i < EventTypeListCount; ++i) {
        all.push_back(i);
    }
    const std::vector<Case> cases = {
        {"all of them", all, {"Alarm0Chk", "Alarm1Chk", "Alarm2Chk", "Alarm3Chk"}, 0, {}, -1, 0},
        {"3, 20, I and other", {2, 16}, {"Alarm1Chk", "Alarm0Chk"}, 2, {3, 20}, 3, 4},
        {"none", {}, {}, 0, {}, -1, 0},
        {"level III only", {5}, {"Alarm3Chk"}, 1, {6}, 8, 2},
    };
    for (const Case& c : cases) {
        m_dlg.LoadDefaults();
        showEditable();
        memo().setPlainText(u("a@b.cn"));
        for (int i : c.types) {
            tick(i);
        }
        for (const char* name : c.levels) {
            level(name).click();
        }
        ok();
        ASSERT_FALSE(m_dlg.isVisible()) << c.name;
        EXPECT_EQ(+m_dlg.Task.TypeCount, c.typeCount) << c.name;
        for (size_t i = 0; i < c.stored.size(); ++i) {
            EXPECT_EQ(+m_dlg.Task.Types[i], c.stored[i]) << c.name;
        }
        EXPECT_EQ(+m_dlg.Task.LevelMask, c.levelMask) << c.name;
        // Shown again from the stored task.
        m_dlg.show();
        EXPECT_EQ(tickCount(), c.ticksShown) << c.name;
        m_dlg.hide();
    }
}

TEST_F(EventDialogTest, KeywordKeptAsTypedAndHeldToItsField)
{
    showEditable();
    memo().setPlainText(u("a@b.cn"));
    keyword().setFocus();
    commit(keyword(), u("  断路器 跳闸 "));
    EXPECT_EQ(keyword().text(), u("  断路器 跳闸 "));
    ok();
    EXPECT_EQ(Gbk::fieldText(m_dlg.Task.Keyword), u("  断路器 跳闸 "));

    // 255 GBK bytes fit; a character more is refused whole, never cut.
    m_dlg.show();
    keyword().clear();
    commit(keyword(), QString(127, QChar(0x65AD))); // 断, 254 bytes
    commit(keyword(), u("断"));
    EXPECT_EQ(keyword().text().size(), 127);
    commit(keyword(), u("x"));
    EXPECT_EQ(keyword().text().size(), 128);
    ok();
    EXPECT_EQ(Gbk::fieldBytes(m_dlg.Task.Keyword).size(), 255);
    EXPECT_EQ(title().maxLength(), 39);
}

TEST_F(EventDialogTest, StoredWaitOutsideItsRangeShowsAndStoresTheBound)
{
    for (const auto& [stored, shown] : std::vector<std::pair<int32_t, int>>{{5000, 3600}, {-5, 0}, {0, 0}}) {
        m_dlg.Task.WaitSec = stored;
        showEditable();
        EXPECT_EQ(child<QSpinBox>(m_dlg, "WaitSecEdit").value(), shown) << stored;
        memo().setPlainText(u("a@b.cn"));
        ok();
        EXPECT_EQ(+m_dlg.Task.WaitSec, shown) << stored;
    }
}

TEST_F(EventDialogTest, ReadOnlyViewNeverReturnsOk)
{
    m_dlg.Editable = 0;
    m_dlg.Task.WaitSec = 77;
    m_dlg.show();
    EXPECT_FALSE(child<QGroupBox>(m_dlg, "GroupBox1").isEnabled());
    EXPECT_FALSE(child<QGroupBox>(m_dlg, "GroupBox2").isEnabled());
    m_dlg.setResult(QDialog::Accepted);
    ok();
    EXPECT_FALSE(m_dlg.isVisible());
    EXPECT_EQ(m_dlg.result(), QDialog::Rejected);
    EXPECT_TRUE(m_boxes.texts().isEmpty());
    EXPECT_EQ(+m_dlg.Task.WaitSec, 77);
}

TEST_F(EventDialogTest, CancelAsksOnlyAfterAChange)
{
    const QString question = text(LangText::EventMail_Str::Str4);
    struct Case
    {
        const char* name;
        std::function<void(EventDialogTest&)> change; // null: nothing changed
        std::function<void(TEventmailPropertyDlg&)> cancel;
        bool asks;
    };
    const auto button = [](TEventmailPropertyDlg& d) { child<QPushButton>(d, "CancelBtn").click(); };
    const auto escape = [](TEventmailPropertyDlg& d) { QTest::keyClick(&d, Qt::Key_Escape); };
    const std::vector<Case> cases = {
        {"unchanged", nullptr, button, false},
        {"title", [](EventDialogTest& t) { t.title().setText(u("新")); }, button, true},
        {"type tick", [](EventDialogTest& t) { t.tick(3); }, button, true},
        {"level", [](EventDialogTest& t) { t.level("Alarm2Chk").click(); }, escape, true},
        {"wait", [](EventDialogTest& t) { child<QSpinBox>(t.m_dlg, "WaitSecEdit").setValue(5); }, escape, true},
        {"select all", [](EventDialogTest& t) { child<QAction>(t.m_dlg, "SelectAllType1").trigger(); }, button, true},
    };
    for (const Case& c : cases) {
        m_dlg.LoadDefaults();
        showEditable();
        if (c.change) {
            c.change(*this);
        }
        EXPECT_EQ(m_dlg.Modified, c.change ? 1 : 0) << c.name;
        TMessageRecorder boxes;
        if (c.asks) {
            boxes.answer(QMessageBox::No);
            c.cancel(m_dlg);
            EXPECT_TRUE(m_dlg.isVisible()) << c.name;
            boxes.answer(QMessageBox::Yes);
        }
        c.cancel(m_dlg);
        EXPECT_FALSE(m_dlg.isVisible()) << c.name;
        EXPECT_EQ(m_dlg.result(), QDialog::Rejected) << c.name;
        EXPECT_EQ(boxes.texts(), (c.asks ? QStringList{question, question} : QStringList{})) << c.name;
    }
    // The title bar's close cancels without the question.
    showEditable();
    title().setText(u("改"));
    TMessageRecorder boxes;
    m_dlg.close();
    EXPECT_FALSE(m_dlg.isVisible());
    EXPECT_TRUE(boxes.texts().isEmpty());
}

TEST_F(EventDialogTest, PopupCommandsTickEverythingOrNothing)
{
    showEditable();
    child<QAction>(m_dlg, "SelectAllType1").trigger();
    EXPECT_EQ(tickCount(), EventTypeListCount);
    EXPECT_EQ(m_dlg.Modified, 1);
    m_dlg.hide();
    showEditable();
    tick(0);
    m_dlg.Modified = 0;
    child<QAction>(m_dlg, "UnSelectAllType1").trigger();
    EXPECT_EQ(tickCount(), 0);
    EXPECT_EQ(m_dlg.Modified, 1); // the main window takes the change back
    EXPECT_NE(m_dlg.findChild<QMenu*>(u("PopupMenu1")), nullptr);
}

TEST_F(EventDialogTest, RecipientsPickedInTheSelectionDialog)
{
    TDialogRecorder runs;
    showEditable();
    memo().setPlainText(u("x@y.cn"));
    m_dlg.Modified = 0;

    // Cancelled: nothing changes.
    child<QPushButton>(m_dlg, "Button1").click();
    EXPECT_EQ(memo().toPlainText(), u("x@y.cn"));
    EXPECT_EQ(m_dlg.Modified, 0);

    runs.then([](QDialog& selector) {
        auto& receivers = child<QListWidget>(selector, "ReceiverList");
        EXPECT_EQ(receivers.count(), 1);
        EXPECT_EQ(receivers.item(0)->text(), u("x@y.cn"));
        auto& book = child<QListWidget>(selector, "AddressBookList");
        book.item(0)->setSelected(true);
        child<QPushButton>(selector, "AddBtn").click();
        child<QPushButton>(selector, "OkBtn").click();
        return selector.result();
    });
    child<QPushButton>(m_dlg, "Button1").click();
    EXPECT_EQ(runs.names(), (QStringList{u("TSelEmailAddrDlg"), u("TSelEmailAddrDlg")}));
    EXPECT_EQ(memo().toPlainText(), u("x@y.cn\n张三"));
    EXPECT_EQ(+m_dlg.Task.ReceiverCount, 2);
    EXPECT_EQ(m_dlg.Modified, 1);
    ok();
    EXPECT_EQ(Gbk::fieldText(m_dlg.Task.Receivers[1].Addr), u("zhang@example.com"));
}

TEST_F(EventDialogTest, TranslatedAtCreation)
{
    LangEngine().LoadLanguageBytes(Gbk::encode(u("[TEventmailPropertyDlg]\nGroupBox1.Caption=基本\nOkBtn.Caption=好\n"
                                                 "[EventTypeName_Str]\nEventTypeName16=保护\n")));
    TEventmailPropertyDlg translated(m_tables, m_selector);
    LangEngine().LoadLanguageBytes({});
    EXPECT_EQ(child<QGroupBox>(translated, "GroupBox1").title(), u("基本"));
    EXPECT_EQ(child<QPushButton>(translated, "OkBtn").text(), u("好"));
    EXPECT_EQ(child<QListWidget>(translated, "SelEventTypeList").item(16)->text(), u("保护"));
    EXPECT_EQ(child<QListWidget>(translated, "SelEventTypeList").item(16)->flags() & Qt::ItemIsUserCheckable,
        Qt::ItemIsUserCheckable);
}

TEST_F(EventDialogTest, TabStopsFollowTheLayoutAndAreNamed)
{
    showEditable();
    EXPECT_TRUE(waitUntil([&] { return m_dlg.isVisible(); }));
    EXPECT_EQ(ClippedTexts(m_dlg), QStringList{});
    SaveGrab(m_dlg, u("TEventmailPropertyDlg"));
    const QStringList stops = TabStops(m_dlg);
    EXPECT_EQ(stops,
        (QStringList{u("TitleEdit"),
            u("Button1"),
            u("ReceiverMemo"),
            u("KeywordEdit"),
            u("SelEventTypeList"),
            u("Alarm1Chk"),
            u("Alarm2Chk"),
            u("Alarm3Chk"),
            u("Alarm0Chk"),
            u("WaitSecEdit"),
            u("OkBtn"),
            u("CancelBtn")}));
    for (const QString& stop : stops) {
        EXPECT_FALSE(AccessibleName(child<QWidget>(m_dlg, stop.toLatin1().constData())).isEmpty())
            << stop.toStdString();
    }
    // Return in a single-line edit presses OK.
    memo().setPlainText(u("a@b.cn"));
    title().setFocus();
    QTest::keyClick(&title(), Qt::Key_Return);
    EXPECT_FALSE(m_dlg.isVisible());
    EXPECT_EQ(m_dlg.result(), QDialog::Accepted);
}

} // namespace
