// SPDX-License-Identifier: MIT
// The report mail property dialog, driven offscreen: defaults, validation in its order with its texts, the file
// list rules, the schedule, read-only views, the cancel question and the nested runs of the file chooser and the
// recipient selection.

#include "Ch_file.h"
#include "DialogChecks.h"
#include "GbkCodec.h"
#include "LangTexts.h"
#include "MLEngine.h"
#include "ReportMailProperty.h"
#include "SelAddrDlg.h"
#include "UiTestApp.h"

#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QToolButton>
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

class ReportDialogTest : public ::testing::Test
{
public:
    ReportDialogTest()
    {
        TMailAddr ops{};
        Gbk::storeField(ops.Name, u("值班"));
        Gbk::storeField(ops.Addr, u("duty@example.com"));
        m_tables.AddrBook = {ops};
        for (const char* name : {"月报.xls", "Report.xls", "b.xls"}) {
            QFile file(m_dir.filePath(u(name)));
            EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        }
        m_chooser.SetDirectory(m_dir.path());
    }

    void showEditable()
    {
        m_dlg.Editable = 1;
        m_dlg.show();
    }
    QLineEdit& edit(const char* name) { return child<QLineEdit>(m_dlg, name); }
    QPlainTextEdit& memo(const char* name) { return child<QPlainTextEdit>(m_dlg, name); }
    void ok() { child<QPushButton>(m_dlg, "OkBtn").click(); }
    // A task that passes every check.
    void fillValid()
    {
        edit("TitleEdit").setText(u("日报"));
        memo("ReceiverMemo").setPlainText(u("a@b.cn"));
        memo("FilesMemo").setPlainText(u("/out/日报.xls"));
    }
    // Chooses a file of the test folder in the chooser and closes it with OK.
    void chooseNext(const char* file, std::function<void(QDialog&)> before = {})
    {
        m_runs.then([file, before](QDialog& chooser) {
            EXPECT_TRUE(child<QLineEdit>(chooser, "FilenameEdit").isReadOnly());
            auto& files = child<QListWidget>(chooser, "File_List");
            const auto found = files.findItems(u(file), Qt::MatchExactly);
            EXPECT_EQ(found.size(), 1) << file;
            if (!found.isEmpty()) {
                files.setCurrentItem(found.first());
            }
            if (before) {
                before(chooser);
            }
            child<QPushButton>(chooser, "OKBtn").click();
            return chooser.isVisible() ? static_cast<int>(QDialog::Rejected) : chooser.result();
        });
    }

    QTemporaryDir m_dir;
    TMessageRecorder m_boxes;
    TDialogRecorder m_runs;
    TMailTables m_tables;
    TSelEmailAddrDlg m_selector{m_tables};
    Tch_file_dlg m_chooser;
    TReportmailPropertyDlg m_dlg{m_tables, m_selector, m_chooser};
};

TEST_F(ReportDialogTest, ANewTaskShowsItsDefaults)
{
    m_dlg.LoadDefaults();
    showEditable();
    EXPECT_EQ(m_dlg.windowTitle(), u("报表自动发送邮件设置"));
    EXPECT_EQ(edit("TitleEdit").text(), text(LangText::ReportMail_Str::Str0));
    EXPECT_TRUE(memo("FilesMemo").toPlainText().isEmpty());
    EXPECT_TRUE(child<QRadioButton>(m_dlg, "AutoTypeRadio1").isChecked());
    for (const char* name :
        {"YearEdit", "MonthEdit", "DayEdit", "HourEdit", "MinuteEdit", "YearEdit1", "MinuteEdit1"}) {
        EXPECT_EQ(edit(name).text(), u("0")) << name;
    }
    EXPECT_EQ(m_dlg.Modified, 0);
    EXPECT_EQ(edit("TitleEdit").maxLength(), 39);
}

TEST_F(ReportDialogTest, ValidationStopsAtTheFirstFaultWithItsText)
{
    using namespace LangText::ReportMail_Str;
    const QString longLine = QString(64, QChar(0x62A5)); // 128 GBK bytes
    struct Case
    {
        const char* name;
        std::function<void(ReportDialogTest&)> change;
        QString message; // empty: accepted
    };
    const auto set = [](const char* field, QString value) {
        return [field, value](ReportDialogTest& t) { t.edit(field).setText(value); };
    };
    const std::vector<Case> cases = {
        {"valid", nullptr, {}},
        {"blank title", set("TitleEdit", u("   ")), text(Str1)},
        {"no recipient", [](ReportDialogTest& t) { t.memo("ReceiverMemo").setPlainText(u(" ")); }, text(Str2)},
        {"name not in the book",
            [](ReportDialogTest& t) { t.memo("ReceiverMemo").setPlainText(u("李四")); },
            text(Str2)},
        {"no file", [](ReportDialogTest& t) { t.memo("FilesMemo").setPlainText(u("\n  \n")); }, text(Str3)},
        {"file line too long",
            [longLine](ReportDialogTest& t) { t.memo("FilesMemo").setPlainText(u("/a.xls\n\n") + longLine); },
            text(LangText::ReportMailCheck_Str::Str0).arg(3).arg(127).arg(longLine)},
        {"month 13", set("MonthEdit", u("13")), text(Str4)},
        {"month 0", set("MonthEdit", u("0")), {}},
        {"day 32", set("DayEdit", u("32")), text(Str5)},
        {"hour 24", set("HourEdit", u("24")), text(Str6)},
        {"minute 60", set("MinuteEdit", u("60")), text(Str7)},
        {"minute -1", set("MinuteEdit", u("-1")), text(Str7)},
        {"year of letters", set("YearEdit", u("abcd")), text(Str8)},
        {"interval month 13", set("MonthEdit1", u("13")), text(Str4)},
        {"interval minute of letters", set("MinuteEdit1", u("5m")), text(Str8)},
    };
    for (const Case& c : cases) {
        TMessageRecorder boxes;
        m_dlg.LoadDefaults();
        m_dlg.setResult(QDialog::Rejected);
        showEditable();
        fillValid();
        if (c.change) {
            c.change(*this);
        }
        ok();
        EXPECT_EQ(boxes.texts(), c.message.isEmpty() ? QStringList{} : QStringList{c.message}) << c.name;
        EXPECT_EQ(m_dlg.isVisible(), !c.message.isEmpty()) << c.name;
        EXPECT_EQ(m_dlg.result(), c.message.isEmpty() ? QDialog::Accepted : QDialog::Rejected) << c.name;
        m_dlg.hide();
    }
}

TEST_F(ReportDialogTest, StoredFieldsOfAnAcceptedTask)
{
    m_dlg.LoadDefaults();
    m_dlg.Task.SendTime.wDayOfWeek = 3; // never written by the dialog
    m_dlg.Task.SendTime.wSecond = 33;
    m_dlg.Task.SendInterval.wMilliseconds = 44;
    showEditable();
    fillValid();
    edit("TitleEdit").setText(u("  月报  "));
    QStringList twelve;
    for (int i = 1; i <= 12; ++i) {
        twelve << u("  /out/r%1.xls").arg(i) << QString();
    }
    memo("FilesMemo").setPlainText(twelve.join(QLatin1Char('\n')));
    child<QRadioButton>(m_dlg, "AutoTypeRadio4").click();
    const char* fields[] = {"YearEdit", "MonthEdit", "DayEdit", "HourEdit", "MinuteEdit"};
    const char* values[] = {"2026", "12", "31", "23", "59"};
    for (int i = 0; i < 5; ++i) {
        edit(fields[i]).setText(u(values[i]));
        edit((std::string(fields[i]) + "1").c_str()).setText(QString::number(i));
    }
    ok();
    ASSERT_FALSE(m_dlg.isVisible()) << m_boxes.texts().join(u("|")).toStdString();
    EXPECT_EQ(edit("TitleEdit").text(), u("月报"));
    EXPECT_EQ(Gbk::fieldText(m_dlg.Task.Title), u("月报"));
    EXPECT_EQ(+m_dlg.Task.FileCount, 10);
    EXPECT_EQ(Gbk::fieldText(m_dlg.Task.Files[0]), u("/out/r1.xls"));
    EXPECT_EQ(Gbk::fieldText(m_dlg.Task.Files[9]), u("/out/r10.xls"));
    EXPECT_EQ(+m_dlg.Task.SendType, 4);
    const SYSTEMTIME time{2026, 12, 3, 31, 23, 59, 33, 0};
    const SYSTEMTIME interval{0, 1, 0, 2, 3, 4, 0, 44};
    EXPECT_EQ(std::memcmp(&m_dlg.Task.SendTime, &time, sizeof time), 0);
    EXPECT_EQ(std::memcmp(&m_dlg.Task.SendInterval, &interval, sizeof interval), 0);

    // Shown again; a send type out of range shows the first radio button and stores 1.
    for (const auto& [stored, radio, after] : std::vector<std::tuple<int32_t, const char*, int32_t>>{
             {3, "AutoTypeRadio3", 3}, {9, "AutoTypeRadio1", 1}, {0, "AutoTypeRadio1", 1}}) {
        m_dlg.Task.SendType = stored;
        m_dlg.show();
        EXPECT_TRUE(child<QRadioButton>(m_dlg, radio).isChecked()) << stored;
        EXPECT_EQ(edit("MonthEdit").text(), u("12"));
        ok();
        EXPECT_EQ(+m_dlg.Task.SendType, after) << stored;
    }
}

TEST_F(ReportDialogTest, ReadOnlyViewAndTheCancelQuestion)
{
    m_dlg.Editable = 0;
    m_dlg.show();
    EXPECT_FALSE(child<QGroupBox>(m_dlg, "GroupBox1").isEnabled());
    EXPECT_FALSE(child<QGroupBox>(m_dlg, "GroupBox2").isEnabled());
    EXPECT_FALSE(edit("YearEdit1").isEnabled());
    ok();
    EXPECT_FALSE(m_dlg.isVisible());
    EXPECT_EQ(m_dlg.result(), QDialog::Rejected);

    showEditable();
    child<QPushButton>(m_dlg, "CancelBtn").click(); // unchanged: no question
    EXPECT_FALSE(m_dlg.isVisible());
    EXPECT_TRUE(m_boxes.texts().isEmpty());

    showEditable();
    child<QRadioButton>(m_dlg, "AutoTypeRadio2").click();
    EXPECT_EQ(m_dlg.Modified, 1);
    m_boxes.answer(QMessageBox::No);
    QTest::keyClick(&m_dlg, Qt::Key_Escape);
    EXPECT_TRUE(m_dlg.isVisible());
    m_boxes.answer(QMessageBox::Yes);
    child<QPushButton>(m_dlg, "CancelBtn").click();
    EXPECT_FALSE(m_dlg.isVisible());
    EXPECT_EQ(
        m_boxes.texts(), (QStringList{text(LangText::ReportMail_Str::Str9), text(LangText::ReportMail_Str::Str9)}));
}

TEST_F(ReportDialogTest, FilesChosenInTheChooser)
{
    showEditable();
    QToolButton& choose = child<QToolButton>(m_dlg, "FileListBtn");
    const QString report = m_dir.filePath(u("Report.xls"));

    // Cancelled: nothing changes.
    choose.click();
    EXPECT_TRUE(memo("FilesMemo").toPlainText().isEmpty());
    EXPECT_EQ(m_dlg.Modified, 0);

    struct Case
    {
        const char* name;
        const char* file;
        QString memoBefore;
        QString memoAfter;
        int modified;
        QStringList boxes;
    };
    const QString monthly = m_dir.filePath(u("月报.xls"));
    const std::vector<Case> cases = {
        {"added", "月报.xls", QString(), monthly, 1, {}},
        {"listed already", "月报.xls", u("  ") + monthly + u(" "), u("  ") + monthly + u(" "), 0, {}},
        {"other letter case is another file",
            "Report.xls",
            m_dir.filePath(u("report.xls")),
            m_dir.filePath(u("report.xls")) + u("\n") + report,
            1,
            {}},
    };
    for (const Case& c : cases) {
        TMessageRecorder boxes;
        memo("FilesMemo").setPlainText(c.memoBefore);
        m_dlg.Modified = 0;
        chooseNext(c.file);
        choose.click();
        EXPECT_EQ(memo("FilesMemo").toPlainText(), c.memoAfter) << c.name;
        EXPECT_EQ(m_dlg.Modified, c.modified) << c.name;
        EXPECT_EQ(boxes.texts(), c.boxes) << c.name;
    }

    // A file gone before the chooser closed: Str11, nothing added.
    memo("FilesMemo").clear();
    m_dlg.Modified = 0;
    chooseNext("b.xls", [this](QDialog&) { QFile::remove(m_dir.filePath(u("b.xls"))); });
    choose.click();
    EXPECT_EQ(m_boxes.texts(), QStringList{text(LangText::ReportMail_Str::Str11)});
    EXPECT_TRUE(memo("FilesMemo").toPlainText().isEmpty());
    EXPECT_EQ(m_dlg.Modified, 0);
    EXPECT_EQ(m_runs.names().size(), 5);
    EXPECT_EQ(m_runs.names().value(0), u("Tch_file_dlg"));
}

TEST_F(ReportDialogTest, RecipientsPickedInTheSelectionDialog)
{
    showEditable();
    m_runs.then([](QDialog& selector) {
        child<QListWidget>(selector, "AddressBookList").item(0)->setSelected(true);
        child<QPushButton>(selector, "AddBtn").click();
        child<QPushButton>(selector, "OkBtn").click();
        return selector.result();
    });
    child<QPushButton>(m_dlg, "ReceiverBtn").click();
    EXPECT_EQ(m_runs.names(), QStringList{u("TSelEmailAddrDlg")});
    EXPECT_EQ(memo("ReceiverMemo").toPlainText(), u("值班"));
    EXPECT_EQ(+m_dlg.Task.ReceiverCount, 1);
    EXPECT_EQ(Gbk::fieldText(m_dlg.Task.Receivers[0].Addr), u("duty@example.com"));
    EXPECT_EQ(m_dlg.Modified, 1);
}

TEST_F(ReportDialogTest, TranslatedAtCreation)
{
    LangEngine().LoadLanguageBytes(Gbk::encode(u("[TReportmailPropertyDlg]\nGroupBox2.Caption=发送\n"
                                                 "AutoTypeRadio4.Caption=定时\n")));
    TReportmailPropertyDlg translated(m_tables, m_selector, m_chooser);
    LangEngine().LoadLanguageBytes({});
    EXPECT_EQ(child<QGroupBox>(translated, "GroupBox2").title(), u("发送"));
    EXPECT_EQ(child<QRadioButton>(translated, "AutoTypeRadio4").text(), u("定时"));
}

TEST_F(ReportDialogTest, TabStopsFollowTheLayoutAndAreNamed)
{
    showEditable();
    EXPECT_TRUE(waitUntil([&] { return m_dlg.isVisible(); }));
    EXPECT_EQ(ClippedTexts(m_dlg), QStringList{});
    SaveGrab(m_dlg, u("TReportmailPropertyDlg"));
    const QStringList stops = TabStops(m_dlg);
    QStringList expected{u("TitleEdit"), u("ReceiverBtn"), u("ReceiverMemo"), u("FilesMemo"), u("FileListBtn")};
    for (const char* name : {"AutoTypeRadio1",
             "AutoTypeRadio2",
             "AutoTypeRadio3",
             "AutoTypeRadio4",
             "YearEdit",
             "MonthEdit",
             "DayEdit",
             "HourEdit",
             "MinuteEdit",
             "YearEdit1",
             "MonthEdit1",
             "DayEdit1",
             "HourEdit1",
             "MinuteEdit1",
             "OkBtn",
             "CancelBtn"}) {
        expected << u(name);
    }
    EXPECT_EQ(stops, expected);
    for (const QString& stop : stops) {
        EXPECT_FALSE(AccessibleName(child<QWidget>(m_dlg, stop.toLatin1().constData())).isEmpty())
            << stop.toStdString();
    }
    EXPECT_EQ(AccessibleName(edit("MonthEdit1")), u("间隔月"));
    // Return in a single-line edit presses OK.
    fillValid();
    edit("DayEdit").setFocus();
    QTest::keyClick(&edit("DayEdit"), Qt::Key_Return);
    EXPECT_FALSE(m_dlg.isVisible());
    EXPECT_EQ(m_dlg.result(), QDialog::Accepted);
}

} // namespace
