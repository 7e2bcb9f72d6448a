// SPDX-License-Identifier: MIT
// The report file chooser on a real folder: roots, tree, filtered file list, the name checks and what persists
// between showings.

#include "Ch_file.h"
#include "DialogChecks.h"
#include "LangTexts.h"
#include "UiTestApp.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest/QTest>

namespace {

QString u(const char* text)
{
    return QString::fromUtf8(text);
}

QStringList itemTexts(const QListWidget& list)
{
    QStringList out;
    for (int i = 0; i < list.count(); ++i) {
        out << list.item(i)->text();
    }
    return out;
}

class ChooserTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        for (const char* name : {"a.xls", "B.XLS", "c.jpg", "d.txt", "月报.xls", "sub/e.xls"}) {
            touch(u(name));
        }
        m_chooser.SetFilter(u(LangText::ReportMail_Str::Str10.Default));
        m_chooser.SetDirectory(m_dir.path());
    }
    void touch(const QString& name)
    {
        const QString path = m_dir.filePath(name);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    QListWidget& files() { return child<QListWidget>(m_chooser, "File_List"); }
    QLineEdit& name() { return child<QLineEdit>(m_chooser, "FilenameEdit"); }
    QComboBox& filter() { return child<QComboBox>(m_chooser, "FilterComboBox1"); }

    QTemporaryDir m_dir;
    TMessageRecorder m_boxes;
    Tch_file_dlg m_chooser;
};

TEST_F(ChooserTest, FilterChoicesListTheFittingFiles)
{
    m_chooser.show();
    EXPECT_EQ(filter().currentIndex(), 0);
    EXPECT_EQ(name().text(), u("*.xls"));
    ASSERT_EQ(filter().count(), 3);
    EXPECT_EQ(filter().itemText(2), u("所有文件 (*)"));
    struct Case
    {
        int filter;
        QStringList files;
        const char* mask;
    };
    const std::vector<Case> cases = {
        {0, {u("a.xls"), u("B.XLS"), u("月报.xls")}, "*.xls"},
        {1, {u("c.jpg")}, "*.jpg;*.jpeg"},
        {2, {u("a.xls"), u("B.XLS"), u("c.jpg"), u("d.txt"), u("月报.xls")}, "*"},
    };
    for (const Case& c : cases) {
        filter().setCurrentIndex(c.filter);
        EXPECT_EQ(itemTexts(files()), c.files) << c.filter;
        EXPECT_EQ(name().text(), u(c.mask)) << c.filter;
    }
    EXPECT_TRUE(name().isReadOnly());
    EXPECT_EQ(child<QLabel>(m_chooser, "dir_label").text(), m_dir.path());
    const QStringList roots = Tch_file_dlg::FileSystemRoots();
    EXPECT_EQ(roots.value(0), u("/"));
    EXPECT_TRUE(roots.contains(QDir::cleanPath(QDir::homePath())));
}

TEST_F(ChooserTest, ClickChoosesDoubleClickCloses)
{
    m_chooser.show();
    QListWidgetItem* item = files().findItems(u("月报.xls"), Qt::MatchExactly).value(0);
    ASSERT_NE(item, nullptr);
    const QRect rect = files().visualItemRect(item);
    QTest::mouseClick(files().viewport(), Qt::LeftButton, {}, rect.center());
    EXPECT_EQ(name().text(), u("月报.xls"));
    QTest::mouseDClick(files().viewport(), Qt::LeftButton, {}, rect.center());
    EXPECT_EQ(m_chooser.result(), QDialog::Accepted);
    EXPECT_FALSE(m_chooser.isVisible());
    EXPECT_EQ(m_chooser.SelectedFile, m_dir.filePath(u("月报.xls")));
    EXPECT_TRUE(m_boxes.requests().empty());
}

TEST_F(ChooserTest, TypedNamesAreCheckedThenResolvedAgainstTheFolder)
{
    struct Case
    {
        QString typed;
        QString message; // empty: closes with OK
        QString selected;
    };
    const std::vector<Case> cases = {
        {u("report.xls"), {}, m_dir.path() + u("/report.xls")},
        {u("sub/e.xls"), {}, m_dir.path() + u("/sub/e.xls")},
        {u("/x/r.xls"), {}, u("/x/r.xls")},
        {u(""), u("尚未选定文件！"), {}},
        {u("*.xls"), u("请输入准确的文件名！"), {}},
        {u("r?.xls"), u("请输入准确的文件名！"), {}},
    };
    m_chooser.SetNameReadOnly(false);
    for (const Case& c : cases) {
        TMessageRecorder boxes;
        m_chooser.setResult(QDialog::Rejected);
        m_chooser.show();
        name().setText(c.typed);
        child<QPushButton>(m_chooser, "OKBtn").click();
        if (c.message.isEmpty()) {
            EXPECT_EQ(m_chooser.result(), QDialog::Accepted) << c.typed.toStdString();
            EXPECT_EQ(m_chooser.SelectedFile, c.selected) << c.typed.toStdString();
            EXPECT_TRUE(boxes.texts().isEmpty()) << c.typed.toStdString();
        } else {
            EXPECT_EQ(boxes.texts(), QStringList{c.message}) << c.typed.toStdString();
            EXPECT_TRUE(m_chooser.isVisible()) << c.typed.toStdString();
            EXPECT_EQ(m_chooser.result(), QDialog::Rejected) << c.typed.toStdString();
        }
    }
    // Cancel closes without any check.
    m_chooser.show();
    name().setText(QString());
    child<QPushButton>(m_chooser, "CancelBtn").click();
    EXPECT_FALSE(m_chooser.isVisible());
    EXPECT_EQ(m_chooser.result(), QDialog::Rejected);
}

TEST_F(ChooserTest, FolderFilterAndFilePersistAndTheDiskIsReadAgain)
{
    m_chooser.show();
    filter().setCurrentIndex(0);
    files().setCurrentItem(files().findItems(u("B.XLS"), Qt::MatchExactly).value(0));
    EXPECT_EQ(name().text(), u("B.XLS"));
    m_chooser.hide();

    touch(u("f.xls"));
    QFile::remove(m_dir.filePath(u("a.xls")));
    m_chooser.SetFilter(u(LangText::ReportMail_Str::Str10.Default)); // as the report dialog does each time
    m_chooser.show();
    EXPECT_EQ(m_chooser.currentDirectory(), m_dir.path());
    EXPECT_EQ(filter().currentIndex(), 0);
    EXPECT_EQ(itemTexts(files()), (QStringList{u("B.XLS"), u("f.xls"), u("月报.xls")}));
    ASSERT_NE(files().currentItem(), nullptr);
    EXPECT_EQ(files().currentItem()->text(), u("B.XLS"));
    EXPECT_EQ(name().text(), u("B.XLS"));
}

TEST_F(ChooserTest, TheTreeChangesTheFolder)
{
    m_chooser.show();
    auto& tree = child<QTreeWidget>(m_chooser, "dir_list");
    QTreeWidgetItem* current = tree.currentItem();
    ASSERT_NE(current, nullptr);
    QTreeWidgetItem* sub = nullptr;
    for (int i = 0; i < current->childCount(); ++i) {
        if (current->child(i)->text(0) == u("sub")) {
            sub = current->child(i);
        }
    }
    ASSERT_NE(sub, nullptr);
    tree.setCurrentItem(sub);
    EXPECT_EQ(m_chooser.currentDirectory(), m_dir.filePath(u("sub")));
    EXPECT_EQ(child<QLabel>(m_chooser, "dir_label").text(), m_dir.filePath(u("sub")));
    EXPECT_EQ(itemTexts(files()), QStringList{u("e.xls")});

    // A folder removed while the chooser was hidden shows its parent at the next showing.
    m_chooser.hide();
    QDir(m_dir.filePath(u("sub"))).removeRecursively();
    m_chooser.show();
    EXPECT_EQ(m_chooser.currentDirectory(), m_dir.path());
}

TEST_F(ChooserTest, TabStopsFollowTheLayoutAndAreNamed)
{
    m_chooser.show();
    EXPECT_TRUE(waitUntil([&] { return m_chooser.isVisible(); }));
    EXPECT_EQ(ClippedTexts(m_chooser), QStringList{});
    SaveGrab(m_chooser, u("Tch_file_dlg"));
    const QStringList stops = TabStops(m_chooser);
    EXPECT_EQ(stops,
        (QStringList{u("FilenameEdit"),
            u("File_List"),
            u("FilterComboBox1"),
            u("dir_list"),
            u("DriveComboBox1"),
            u("OKBtn"),
            u("CancelBtn")}));
    for (const QString& stop : stops) {
        EXPECT_FALSE(AccessibleName(child<QWidget>(m_chooser, stop.toLatin1().constData())).isEmpty())
            << stop.toStdString();
    }
}

} // namespace
