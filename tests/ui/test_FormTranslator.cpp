// SPDX-License-Identifier: MIT
#include "FormTranslator.h"
#include "MLEngine.h"
#include "UiTestApp.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// A window with one control of each kind the suite's language files address.
struct TTestWindow
{
    QWidget window;
    QLabel* label = new QLabel(QStringLiteral("designed"), &window);
    QPushButton* button = new QPushButton(QStringLiteral("OK"), &window);
    QCheckBox* check = new QCheckBox(QStringLiteral("check"), &window);
    QGroupBox* group = new QGroupBox(QStringLiteral("group"), &window);
    QLineEdit* edit = new QLineEdit(&window);
    QListWidget* list = new QListWidget(&window);
    QComboBox* combo = new QComboBox(&window);
    QPlainTextEdit* memo = new QPlainTextEdit(&window);

    TTestWindow()
    {
        window.setWindowTitle(QStringLiteral("designed title"));
        label->setObjectName(QStringLiteral("Label1"));
        button->setObjectName(QStringLiteral("OkBtn"));
        check->setObjectName(QStringLiteral("SSLCheck"));
        group->setObjectName(QStringLiteral("GroupBox1"));
        edit->setObjectName(QStringLiteral("TitleEdit"));
        list->setObjectName(QStringLiteral("SelEventTypeList"));
        combo->setObjectName(QStringLiteral("SendTypeCombo"));
        memo->setObjectName(QStringLiteral("ReceiverMemo"));
        window.resize(300, 200);
    }

    // Applies the lines as the section "TTest" of a language file.
    bool translate(const QStringList& lines)
    {
        TSpecialMemIniFile ini(QString{});
        QStringList file{QStringLiteral("[TTest]")};
        file += lines;
        ini.ParseLines(file);
        return TranslateForm(&window, &ini, QStringLiteral("TTest"));
    }
};

TEST(TranslateForm, CaptionGoesToTheWindowOnlyForAnEmptyOrLowerCaseSelf)
{
    TTestWindow w;
    ASSERT_TRUE(w.translate({QStringLiteral("Caption=标题一")}));
    EXPECT_EQ(w.window.windowTitle(), QStringLiteral("标题一"));
    w.translate({QStringLiteral("self.Caption=标题二")});
    EXPECT_EQ(w.window.windowTitle(), QStringLiteral("标题二"));
    // "Self" is a component name, and there is none of that name.
    w.translate({QStringLiteral("Self.Caption=不应出现")});
    EXPECT_EQ(w.window.windowTitle(), QStringLiteral("标题二"));
}

TEST(TranslateForm, CaptionTextAndHintReachEachKindOfControl)
{
    TTestWindow w;
    w.translate({QStringLiteral("label1.CAPTION=邮件标题："),
        QStringLiteral(" OkBtn .Caption=确定"),
        QStringLiteral("SSLCheck.Caption=使用 SSL"),
        QStringLiteral("GroupBox1.Caption=服务器"),
        QStringLiteral("TitleEdit.Text=  a=b "),
        QStringLiteral("OkBtn.Hint=保存设置")});
    EXPECT_EQ(w.label->text(), QStringLiteral("邮件标题："));
    EXPECT_EQ(w.button->text(), QStringLiteral("确定"));
    EXPECT_EQ(w.check->text(), QStringLiteral("使用 SSL"));
    EXPECT_EQ(w.group->title(), QStringLiteral("服务器"));
    // The value is everything after the first "=", blanks kept.
    EXPECT_EQ(w.edit->text(), QStringLiteral("  a=b "));
    EXPECT_EQ(w.button->toolTip(), QStringLiteral("保存设置"));
}

TEST(TranslateForm, ListsSplitAtEveryDoubleBarAndKeepEmptyParts)
{
    TTestWindow w;
    w.translate({QStringLiteral("SelEventTypeList.Items=a||||b"), QStringLiteral("ReceiverMemo.Lines=x||y||")});
    ASSERT_EQ(w.list->count(), 3);
    EXPECT_EQ(w.list->item(0)->text(), QStringLiteral("a"));
    EXPECT_EQ(w.list->item(1)->text(), QString());
    EXPECT_EQ(w.list->item(2)->text(), QStringLiteral("b"));
    EXPECT_EQ(w.memo->toPlainText(), QStringLiteral("x\ny\n"));

    // Any property name beginning with "Items" is Items; an empty value is one empty line.
    w.translate({QStringLiteral("SelEventTypeList.ItemsXyz=")});
    ASSERT_EQ(w.list->count(), 1);
    EXPECT_EQ(w.list->item(0)->text(), QString());
}

TEST(TranslateForm, ItemIndexIsAnIntegerAndNotAnItemsProperty)
{
    TTestWindow w;
    w.translate({QStringLiteral("SendTypeCombo.Items=每天||每月||每年"), QStringLiteral("SendTypeCombo.ItemIndex=2")});
    ASSERT_EQ(w.combo->count(), 3);
    EXPECT_EQ(w.combo->currentIndex(), 2);
    w.translate({QStringLiteral("SendTypeCombo.ItemIndex=two")});
    EXPECT_EQ(w.combo->currentIndex(), 2);
}

TEST(TranslateForm, BooleansAndBadLinesAreSkippedWhileTheRestApplies)
{
    TTestWindow w;
    w.button->setEnabled(true);
    w.translate({QStringLiteral("OkBtn.Enabled=False"),
        QStringLiteral("OkBtn.Enabled=0"),
        QStringLiteral("Label1.Visible=0"),
        QStringLiteral("a line without an equals sign"),
        QStringLiteral("Width=wide"),
        QStringLiteral("Nobody.Caption=x"),
        QStringLiteral("Label1.NoSuch=x"),
        QStringLiteral("Label1.wordWrap=true"),
        QStringLiteral("Label1.Caption=之后")});
    EXPECT_TRUE(w.button->isEnabled());
    EXPECT_FALSE(w.label->isHidden());
    EXPECT_FALSE(w.label->wordWrap());
    EXPECT_EQ(w.window.width(), 300);
    EXPECT_EQ(w.label->text(), QStringLiteral("之后"));
}

TEST(TranslateForm, GeometryAndQtPropertyNames)
{
    TTestWindow w;
    w.translate({QStringLiteral("Width=420"),
        QStringLiteral("Height=180"),
        QStringLiteral("TitleEdit.maxLength=127"),
        QStringLiteral("TitleEdit.placeholderText=标题")});
    EXPECT_EQ(w.window.width(), 420);
    EXPECT_EQ(w.window.height(), 180);
    EXPECT_EQ(w.edit->maxLength(), 127);
    EXPECT_EQ(w.edit->placeholderText(), QStringLiteral("标题"));
}

TEST(TranslateForm, NoLanguageFileMeansNothingToDo)
{
    TTestWindow w;
    EXPECT_FALSE(TranslateForm(&w.window, nullptr, QStringLiteral("TTest")));
    EXPECT_EQ(w.window.windowTitle(), QStringLiteral("designed title"));
    // A file without the section changes nothing but still counts as translated.
    EXPECT_TRUE(w.translate({}));
    EXPECT_EQ(w.label->text(), QStringLiteral("designed"));
}

} // namespace
