// SPDX-License-Identifier: MIT
// The input rules for 40-byte fields: trimming, the address shape by characters, the GBK byte limit.

#include "FieldInput.h"
#include "GbkText.h"
#include "UiTestApp.h"

#include <QInputMethodEvent>
#include <QLineEdit>
#include <QTest>

namespace {

using namespace FieldInput;

TEST(FieldInput, AddressShapeLooksAtCharactersNotBytes)
{
    struct Case
    {
        QString text;
        bool shaped;
    };
    const Case cases[] = {
        {QStringLiteral("a@b"), true},
        {QStringLiteral("a@b@c"), true},
        {QStringLiteral("@b"), false},
        {QStringLiteral("a@"), false},
        {QStringLiteral("ab"), false},
        {QString(), false},
        {QStringLiteral("@"), false},
        // 園, 顯, 驚 and 這 end in the byte 0x40: no '@' among them.
        {QStringLiteral("園顯驚這"), false},
        {QStringLiteral("x園"), false},
        {QStringLiteral("園@這"), true},
        // The first real '@' decides, however many trail bytes 0x40 come before it.
        {QStringLiteral("園這@"), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(HasAddressShape(c.text), c.shaped) << c.text.toStdString();
    }
}

TEST(FieldInput, TrimAndUpperCaseLeaveChineseCharactersAlone)
{
    EXPECT_EQ(TrimBlanks(QStringLiteral(" \t\x01李四\n ")), QStringLiteral("李四"));
    // A full-width blank is a character, not a blank of code 32 or less.
    EXPECT_EQ(TrimBlanks(QStringLiteral("\u3000a\u3000")), QStringLiteral("\u3000a\u3000"));
    EXPECT_EQ(TrimBlanks(QStringLiteral("   ")), QString());
    EXPECT_EQ(UpperAscii(QStringLiteral("zhang園ａb")), QStringLiteral("ZHANG園ａB"));
}

TEST(FieldInput, FieldHoldsThirtyNineGbkBytes)
{
    const QChar li(0x674E); // two bytes in GBK
    struct Case
    {
        QString text;
        bool fits;
    };
    const Case cases[] = {
        {QString(39, QLatin1Char('a')), true},
        {QString(40, QLatin1Char('a')), false},
        {QString(19, li) + QLatin1Char('a'), true},
        {QString(20, li), false},
        // A character outside GBK takes four bytes of GB18030.
        {QString(35, QLatin1Char('a')) + QStringLiteral("\U0001F600"), true},
        {QString(36, QLatin1Char('a')) + QStringLiteral("\U0001F600"), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FitsField(c.text), c.fits) << c.text.size();
    }
}

void Commit(QLineEdit& edit, const QString& text)
{
    QInputMethodEvent event;
    event.setCommitString(text);
    QApplication::sendEvent(&edit, &event);
}

TEST(FieldInput, LimitedEditRefusesWhatWouldPassTheByteLimit)
{
    QLineEdit edit;
    LimitToField(&edit);
    edit.show();
    edit.setFocus();
    Commit(edit, QString(19, QChar(0x674E)));
    EXPECT_EQ(Gbk::byteLength(edit.text()), 38);
    // The 20th character would need bytes 39 and 40: refused whole, never half a character.
    Commit(edit, QStringLiteral("李"));
    EXPECT_EQ(edit.text(), QString(19, QChar(0x674E)));
    QTest::keyClicks(&edit, QStringLiteral("ab"));
    EXPECT_EQ(edit.text(), QString(19, QChar(0x674E)) + QLatin1Char('a'));
}

} // namespace
