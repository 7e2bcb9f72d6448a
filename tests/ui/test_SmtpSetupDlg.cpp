// SPDX-License-Identifier: MIT
// The SMTP setup dialog, driven on the real dialog offscreen; message boxes answered by the recorder.

#include "DialogChecks.h"
#include "FieldInput.h"
#include "FocusChain.h"
#include "GbkText.h"
#include "LangTexts.h"
#include "MLEngine.h"
#include "SmtpSetupDlg.h"
#include "UiTestApp.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QTabWidget>
#include <QTest>
#include <cstring>

namespace {

namespace Str = LangText::SMTPSetup_Str;

QString Text(const LangText::Entry& entry)
{
    return QString::fromUtf8(entry.Default);
}

TSmtpSettings SampleSettings()
{
    TSmtpSettings s{};
    Gbk::storeField(s.smtpaddr, QStringLiteral("mail.example.com"));
    s.smtpport = 2525;
    Gbk::storeField(s.LocalEmailAddr, QStringLiteral("station@example.com"));
    s.NeedAuth = 0;
    Gbk::storeField(s.Username, QStringLiteral("bob"));
    Gbk::storeField(s.Password, QStringLiteral("secret"));
    s.MaxSendTries = 3;
    s.WaitSeconds = 30;
    return s;
}

class SmtpSetup : public ::testing::Test
{
protected:
    SmtpSetup()
    {
        m_dlg.Settings = SampleSettings();
        m_dlg.Editable = true;
    }

    QLineEdit& edit(const char* name) { return child<QLineEdit>(m_dlg, name); }
    QSpinBox& spin(const char* name) { return child<QSpinBox>(m_dlg, name); }
    QCheckBox& needAuth() { return child<QCheckBox>(m_dlg, "NeedAuthChk"); }
    void click(const char* name) { child<QPushButton>(m_dlg, name).click(); }

    TMessageRecorder m_messages;
    TSmtpDlg m_dlg;
};

TEST(SmtpSetupDefaults, CreatedWithItsOwnDefaults)
{
    const TSmtpDlg dlg;
    EXPECT_FALSE(dlg.Editable);
    EXPECT_EQ(+dlg.Settings.smtpport, 25);
    EXPECT_EQ(+dlg.Settings.MaxSendTries, 5);
    EXPECT_EQ(+dlg.Settings.WaitSeconds, 60);
    EXPECT_EQ(+dlg.Settings.NeedAuth, 0);
    EXPECT_EQ(Gbk::fieldText(dlg.Settings.smtpaddr), QString());
}

TEST_F(SmtpSetup, ShowLoadsTheControlsAndBringsTheNumbersIntoRange)
{
    struct Case
    {
        int32_t wait;
        int32_t tries;
        int shownWait;
        int shownTries;
    };
    const Case cases[] = {{30, 3, 30, 3}, {120, 12, 60, 10}, {-5, -1, 0, 0}};
    for (const Case& c : cases) {
        m_dlg.Settings.WaitSeconds = c.wait;
        m_dlg.Settings.MaxSendTries = c.tries;
        m_dlg.show();
        EXPECT_EQ(spin("WaitSecEdit").value(), c.shownWait);
        EXPECT_EQ(spin("RepeattimesEdit").value(), c.shownTries);
        EXPECT_EQ(edit("SmtpAddrEdit").text(), QStringLiteral("mail.example.com"));
        EXPECT_EQ(edit("SmtpPortEdit").text(), QStringLiteral("2525"));
        EXPECT_EQ(edit("PasswordEdit").text(), QStringLiteral("secret"));
        EXPECT_FALSE(edit("UsernameEdit").isEnabled());
        EXPECT_FALSE(m_dlg.Modified);
        m_dlg.hide();
    }
    // 120 comes back as 60 after an OK.
    m_dlg.Settings.WaitSeconds = 120;
    m_dlg.show();
    click("OkBtn");
    EXPECT_EQ(m_dlg.result(), QDialog::Accepted);
    EXPECT_EQ(+m_dlg.Settings.WaitSeconds, 60);
    EXPECT_FALSE(m_dlg.Modified);
    EXPECT_TRUE(m_messages.requests().empty());
}

TEST_F(SmtpSetup, ChecksRunInOrderAndTheFirstFailureKeepsTheDialogOpen)
{
    struct Case
    {
        const char* what;
        QString server, port, sender;
        bool auth;
        QString user;
        QString message; // empty: accepted
    };
    const QString ok;
    const Case cases[] = {
        {"server of blanks", QStringLiteral("   "), QStringLiteral("x"), QString(), false, {}, Text(Str::Str0)},
        {"port 0", QStringLiteral("h"), QStringLiteral("0"), QString(), false, {}, Text(Str::Str1)},
        {"port 65536", QStringLiteral("h"), QStringLiteral("65536"), QString(), false, {}, Text(Str::Str1)},
        {"port -1", QStringLiteral("h"), QStringLiteral("-1"), QString(), false, {}, Text(Str::Str1)},
        {"port of letters", QStringLiteral("h"), QStringLiteral("smtp"), QString(), false, {}, Text(Str::Str5)},
        {"port beyond int", QStringLiteral("h"), QStringLiteral("99999999999"), QString(), false, {}, Text(Str::Str5)},
        {"no sender", QStringLiteral("h"), QStringLiteral("1"), QStringLiteral(" "), false, {}, Text(Str::Str2)},
        {"sender @ first", QStringLiteral("h"), QStringLiteral("1"), QStringLiteral("@b"), false, {}, Text(Str::Str3)},
        {"sender @ last", QStringLiteral("h"), QStringLiteral("1"), QStringLiteral("a@"), false, {}, Text(Str::Str3)},
        {"sender no @", QStringLiteral("h"), QStringLiteral("1"), QStringLiteral("ab"), false, {}, Text(Str::Str3)},
        // 園 and 顯 end in 0x40, which is no '@'.
        {"sender 0x40 trail",
            QStringLiteral("h"),
            QStringLiteral("1"),
            QStringLiteral("園顯"),
            false,
            {},
            Text(Str::Str3)},
        {"login without user",
            QStringLiteral("h"),
            QStringLiteral("1"),
            QStringLiteral("a@b"),
            true,
            QStringLiteral("  "),
            Text(Str::Str4)},
        {"port 1", QStringLiteral("h"), QStringLiteral("1"), QStringLiteral("a@b"), false, {}, ok},
        {"port 65535, second @",
            QStringLiteral(" h "),
            QStringLiteral(" 65535 "),
            QStringLiteral("a@b@c"),
            true,
            QStringLiteral("u"),
            ok},
    };
    for (const Case& c : cases) {
        TMessageRecorder messages;
        m_dlg.show();
        edit("SmtpAddrEdit").setText(c.server);
        edit("SmtpPortEdit").setText(c.port);
        edit("EmailAddrEdit").setText(c.sender);
        needAuth().setChecked(c.auth);
        edit("UsernameEdit").setText(c.user);
        click("OkBtn");
        EXPECT_EQ(messages.texts(), c.message.isEmpty() ? QStringList{} : QStringList{c.message}) << c.what;
        EXPECT_EQ(m_dlg.isVisible(), !c.message.isEmpty()) << c.what;
        // Trimmed texts go back into the fields.
        EXPECT_EQ(edit("SmtpAddrEdit").text(), FieldInput::TrimBlanks(c.server)) << c.what;
        m_dlg.hide();
    }
    EXPECT_EQ(+m_dlg.Settings.smtpport, 65535);
    EXPECT_EQ(Gbk::fieldText(m_dlg.Settings.smtpaddr), QStringLiteral("h"));
    EXPECT_EQ(Gbk::fieldText(m_dlg.Settings.LocalEmailAddr), QStringLiteral("a@b@c"));
    EXPECT_EQ(+m_dlg.Settings.NeedAuth, 1);
}

TEST_F(SmtpSetup, FieldsStoredBeforeAFailedCheckStayInTheCopy)
{
    m_dlg.show();
    edit("SmtpAddrEdit").setText(QStringLiteral("new.example.com"));
    edit("SmtpPortEdit").setText(QStringLiteral("70000"));
    click("OkBtn");
    EXPECT_EQ(Gbk::fieldText(m_dlg.Settings.smtpaddr), QStringLiteral("new.example.com"));
    EXPECT_EQ(+m_dlg.Settings.smtpport, 70000);
    EXPECT_EQ(Gbk::fieldText(m_dlg.Settings.LocalEmailAddr), QStringLiteral("station@example.com"));
}

TEST_F(SmtpSetup, WithoutLoginTheDisabledUserFieldsAreStoredUnchanged)
{
    // A password byte that is not GBK survives an OK that changes another field.
    std::memcpy(m_dlg.Settings.Password, "p\x80w", 4);
    m_dlg.show();
    EXPECT_FALSE(edit("PasswordEdit").isEnabled());
    spin("RepeattimesEdit").setValue(7);
    click("OkBtn");
    ASSERT_EQ(m_dlg.result(), QDialog::Accepted);
    EXPECT_TRUE(m_dlg.Modified);
    EXPECT_EQ(+m_dlg.Settings.NeedAuth, 0);
    EXPECT_EQ(+m_dlg.Settings.MaxSendTries, 7);
    EXPECT_EQ(Gbk::fieldText(m_dlg.Settings.Username), QStringLiteral("bob"));
    EXPECT_EQ(std::memcmp(m_dlg.Settings.Password, "p\x80w", 4), 0);

    // Ticking the box brings them back.
    m_dlg.show();
    needAuth().click();
    EXPECT_TRUE(edit("UsernameEdit").isEnabled());
    EXPECT_EQ(edit("UsernameEdit").text(), QStringLiteral("bob"));
    EXPECT_TRUE(m_dlg.Modified);
}

TEST_F(SmtpSetup, NotEditableDisablesBothGroupsAndOkActsAsCancel)
{
    m_dlg.Editable = false;
    m_dlg.Settings.smtpport = 0; // would fail the checks
    m_dlg.show();
    EXPECT_FALSE(child<QGroupBox>(m_dlg, "GroupBox1").isEnabled());
    EXPECT_FALSE(child<QGroupBox>(m_dlg, "GroupBox2").isEnabled());
    click("OkBtn");
    EXPECT_EQ(m_dlg.result(), QDialog::Rejected);
    EXPECT_TRUE(m_messages.requests().empty());
    EXPECT_EQ(+m_dlg.Settings.smtpport, 0);
}

TEST_F(SmtpSetup, CancelAsksOnceSomethingChangedEvenIfRestored)
{
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
        {"restored, No", true, false, QMessageBox::No, false},
        {"restored, Yes", true, false, QMessageBox::Yes, true},
        {"restored, Escape, No", true, true, QMessageBox::No, false},
        {"restored, Escape, closed otherwise", true, true, QMessageBox::Cancel, true},
    };
    for (const Case& c : cases) {
        TMessageRecorder messages;
        if (c.answer) {
            messages.answer(*c.answer);
        }
        m_dlg.show();
        if (c.change) {
            edit("SmtpAddrEdit").setText(QStringLiteral("other"));
            edit("SmtpAddrEdit").setText(QStringLiteral("mail.example.com"));
        }
        if (c.escape) {
            QTest::keyClick(&edit("SmtpPortEdit"), Qt::Key_Escape);
        } else {
            click("CancelBtn");
        }
        EXPECT_EQ(messages.texts(), c.change ? QStringList{Text(Str::Str6)} : QStringList{}) << c.what;
        EXPECT_EQ(m_dlg.isVisible(), !c.closed) << c.what;
        m_dlg.hide();
    }
    // The title bar's close button: cancelled without a question.
    m_dlg.show();
    edit("SmtpAddrEdit").setText(QStringLiteral("changed"));
    m_dlg.close();
    EXPECT_EQ(m_dlg.result(), QDialog::Rejected);
    EXPECT_TRUE(m_messages.requests().empty());
}

TEST_F(SmtpSetup, ReturnInAFieldPressesOk)
{
    m_dlg.show();
    edit("SmtpPortEdit").setText(QStringLiteral("0"));
    QTest::keyClick(&edit("SmtpPortEdit"), Qt::Key_Return);
    EXPECT_EQ(m_messages.texts(), QStringList{Text(Str::Str1)});
    edit("SmtpPortEdit").setText(QStringLiteral("587"));
    QTest::keyClick(&edit("EmailAddrEdit"), Qt::Key_Return);
    EXPECT_EQ(m_dlg.result(), QDialog::Accepted);
    EXPECT_EQ(+m_dlg.Settings.smtpport, 587);
}

TEST_F(SmtpSetup, EveryShowTranslatesAndTheFieldsHoldThirtyNineBytes)
{
    LangEngine().LoadLanguageBytes(Gbk::encode(
        QStringLiteral("[TSmtpDlg]\nCaption=SMTP\nGroupBox2.Caption=高级\nLabel1.Caption=SMTP 服务器：\n")));
    m_dlg.show();
    EXPECT_EQ(m_dlg.windowTitle(), QStringLiteral("SMTP"));
    EXPECT_EQ(child<QGroupBox>(m_dlg, "GroupBox2").title(), QStringLiteral("高级"));
    EXPECT_EQ(AccessibleName(edit("SmtpAddrEdit")), QStringLiteral("SMTP 服务器："));
    LangEngine().LoadLanguageBytes(QByteArray());

    QLineEdit& server = edit("SmtpAddrEdit");
    server.clear();
    server.insert(QString(20, QChar(0x674E))); // 40 bytes: refused whole
    EXPECT_TRUE(server.text().isEmpty());
    server.insert(QString(19, QChar(0x674E)) + QLatin1Char('a'));
    EXPECT_EQ(Gbk::byteLength(server.text()), 39);

    // Typed password characters show as '*'.
    QLineEdit& password = edit("PasswordEdit");
    EXPECT_EQ(password.echoMode(), QLineEdit::Password);
    EXPECT_EQ(password.style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, &password), '*');
}

TEST_F(SmtpSetup, TabWalksEveryFieldInReadingOrderWithNames)
{
    m_dlg.Settings.NeedAuth = 1;
    m_dlg.IniTlsKeys = QStringList{QStringLiteral("StartTLS")}; // the note under the security choice shows
    m_dlg.IniPath = QStringLiteral("/var/lib/qorvane/QorMail.ini");
    m_dlg.show();
    EXPECT_TRUE(ClippedTexts(m_dlg).isEmpty()) << ClippedTexts(m_dlg).join(QLatin1Char(' ')).toStdString();
    SaveGrab(m_dlg, QStringLiteral("TSmtpDlg"));
    const auto stops = WalkTabChain(m_dlg, edit("SmtpAddrEdit"));
    EXPECT_EQ(StopNames(stops),
        (QStringList{QStringLiteral("SmtpAddrEdit"),
            QStringLiteral("SmtpPortEdit"),
            QStringLiteral("SecurityCombo"),
            QStringLiteral("CAFileEdit"),
            QStringLiteral("EmailAddrEdit"),
            QStringLiteral("WaitSecEdit"),
            QStringLiteral("RepeattimesEdit"),
            QStringLiteral("NeedAuthChk"),
            QStringLiteral("UsernameEdit"),
            QStringLiteral("PasswordEdit"),
            QStringLiteral("OkBtn"),
            QStringLiteral("CancelBtn"),
            QStringLiteral("qt_tabwidget_tabbar")}));
    // The fallback relay's tab.
    child<QTabWidget>(m_dlg, "SmtpTabs").setCurrentIndex(1);
    EXPECT_TRUE(ClippedTexts(m_dlg).isEmpty()) << ClippedTexts(m_dlg).join(QLatin1Char(' ')).toStdString();
    SaveGrab(m_dlg, QStringLiteral("TSmtpDlg-fallback"));
    const auto fallbackStops = WalkTabChain(m_dlg, edit("FallbackHostEdit"));
    EXPECT_EQ(StopNames(fallbackStops),
        (QStringList{QStringLiteral("FallbackHostEdit"),
            QStringLiteral("FallbackPortEdit"),
            QStringLiteral("FallbackSecurityCombo"),
            QStringLiteral("FallbackUserEdit"),
            QStringLiteral("FallbackPasswordEdit"),
            QStringLiteral("OkBtn"),
            QStringLiteral("CancelBtn"),
            QStringLiteral("qt_tabwidget_tabbar")}));
    for (const auto& walk : {stops, fallbackStops}) {
        for (const TFocusStop& stop : walk) {
            EXPECT_FALSE(stop.accessibleName.isEmpty()) << stop.objectName.toStdString();
        }
    }
}

} // namespace
