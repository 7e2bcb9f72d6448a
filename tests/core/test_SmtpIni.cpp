// SPDX-License-Identifier: MIT
#include "GbkCodec.h"
#include "QorsmailFunc.h"
#include "SmtpIni.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class SettingsFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        SetTaskDefaults(m_tables);
        ASSERT_TRUE(Gbk::storeField(m_tables.WorkDir, m_dir.path() + QLatin1Char('/')));
    }

    // Writes QorMail.ini into the working directory (GBK bytes) and reads it over the tables.
    void load(const QByteArray& bytes)
    {
        QFile f(m_dir.filePath(QStringLiteral("QorMail.ini")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(f.write(bytes), bytes.size());
        f.close();
        LoadSmtpIni(m_tables);
    }
    void loadText(const char* utf8) { load(Gbk::encode(QString::fromUtf8(utf8))); }

    TSmtpSettings& s() { return m_tables.SmtpSettings; }

    QTemporaryDir m_dir;
    TMailTables m_tables;
};

TEST_F(SettingsFileTest, NoFileKeepsTheDefaults)
{
    LoadSmtpIni(m_tables);
    EXPECT_STREQ(s().smtpaddr, "");
    EXPECT_EQ(int32_t(s().smtpport), 25);
    EXPECT_STREQ(s().LocalEmailAddr, "");
    EXPECT_EQ(s().NeedAuth, 0);
    EXPECT_EQ(int32_t(s().WaitSeconds), 60);
    EXPECT_EQ(int32_t(s().MaxSendTries), 0);
    EXPECT_EQ(m_tables.UseSSL, 0);
    EXPECT_EQ(m_tables.StartTLS, 0);
    EXPECT_TRUE(m_tables.CAFile.isEmpty());
    EXPECT_EQ(m_tables.AddrBookCount(), 0);
}

TEST_F(SettingsFileTest, EveryKeyOverridesTheTaskFile)
{
    s().smtpport = 2525;
    s().MaxSendTries = 3;
    loadText("[SMTP]\r\n"
             "smtpaddr=mail.example.cn\r\n"
             "smtpport=587\r\n"
             "LocalEmailAddr=station@example.cn\r\n"
             "NeedAuth=1\r\n"
             "Username=值班员\r\n"
             "Password=p;a=ss\r\n"
             "WaitSeconds=30\r\n"
             "SSL=1\r\n"
             "StartTLS=1\r\n"
             "CAFile=/etc/qorvane/证书.pem\r\n");
    EXPECT_STREQ(s().smtpaddr, "mail.example.cn");
    EXPECT_EQ(int32_t(s().smtpport), 587);
    EXPECT_STREQ(s().LocalEmailAddr, "station@example.cn");
    EXPECT_EQ(s().NeedAuth, 1);
    EXPECT_EQ(Gbk::fieldBytes(s().Username), Gbk::encode(QStringLiteral("值班员")));
    // ';' and '=' inside a value belong to it.
    EXPECT_STREQ(s().Password, "p;a=ss");
    EXPECT_EQ(int32_t(s().WaitSeconds), 30);
    EXPECT_EQ(int32_t(s().MaxSendTries), 3);
    EXPECT_EQ(m_tables.UseSSL, 1);
    EXPECT_EQ(m_tables.StartTLS, 1);
    EXPECT_EQ(m_tables.CAFile, QStringLiteral("/etc/qorvane/证书.pem"));
}

TEST_F(SettingsFileTest, MissingAndMalformedValuesKeepWhatWasThere)
{
    s().smtpport = 2525;
    Gbk::storeField(s().smtpaddr, QStringLiteral("old.host"));
    s().NeedAuth = 1;
    m_tables.UseSSL = 1;
    loadText("[SMTP]\nNeedAuth=yes\nSSL=true\nWaitSeconds=\n");
    EXPECT_EQ(int32_t(s().smtpport), 2525);
    EXPECT_STREQ(s().smtpaddr, "old.host");
    EXPECT_EQ(s().NeedAuth, 1);
    EXPECT_EQ(m_tables.UseSSL, 1);
    EXPECT_EQ(int32_t(s().WaitSeconds), 60);

    for (const char* bad : {"smtpport=",
             "smtpport=abc",
             "smtpport=25x",
             "smtpport=0x",
             "smtpport=$",
             "smtpport=1 2",
             "smtpport=0",
             "smtpport=70000",
             "smtpport=-25"}) {
        loadText((std::string("[SMTP]\n") + bad + "\n").c_str());
        EXPECT_EQ(int32_t(s().smtpport), 2525) << bad;
    }
    loadText("[SMTP]\nWaitSeconds=-5\n");
    EXPECT_EQ(int32_t(s().WaitSeconds), 60);
}

TEST_F(SettingsFileTest, IntegersTakeHexAndSignsAndFlagsTakeAnyInteger)
{
    loadText("[SMTP]\nsmtpport=0x1D\nWaitSeconds=$1e\nNeedAuth=2\nSSL=-1\n");
    EXPECT_EQ(int32_t(s().smtpport), 29);
    EXPECT_EQ(int32_t(s().WaitSeconds), 30);
    EXPECT_EQ(s().NeedAuth, 1);
    EXPECT_EQ(m_tables.UseSSL, 1);
    loadText("[SMTP]\nsmtpport=+465\nNeedAuth=0\nSSL=0x0\n");
    EXPECT_EQ(int32_t(s().smtpport), 465);
    EXPECT_EQ(s().NeedAuth, 0);
    EXPECT_EQ(m_tables.UseSSL, 0);

    EXPECT_EQ(TProfileFile::parseInteger("2147483647"), 2147483647);
    EXPECT_EQ(TProfileFile::parseInteger("-2147483648"), INT32_MIN);
    EXPECT_EQ(TProfileFile::parseInteger("-0X10"), -16);
    EXPECT_EQ(TProfileFile::parseInteger("0x7fffffff"), 2147483647);
    EXPECT_FALSE(TProfileFile::parseInteger("2147483648"));
    EXPECT_FALSE(TProfileFile::parseInteger("0xFFFFFFFF"));
    EXPECT_FALSE(TProfileFile::parseInteger("99999999999999999999999"));
    EXPECT_FALSE(TProfileFile::parseInteger("-"));
    EXPECT_FALSE(TProfileFile::parseInteger("--1"));
    EXPECT_FALSE(TProfileFile::parseInteger(""));
}

TEST_F(SettingsFileTest, PresentEmptyTextClearsTheField)
{
    Gbk::storeField(s().smtpaddr, QStringLiteral("old.host"));
    Gbk::storeField(s().Password, QStringLiteral("secret"));
    m_tables.CAFile = QStringLiteral("/old.pem");
    loadText("[SMTP]\nsmtpaddr=\nPassword=\"\"\nCAFile=\n");
    EXPECT_STREQ(s().smtpaddr, "");
    EXPECT_STREQ(s().Password, "");
    EXPECT_TRUE(m_tables.CAFile.isEmpty());
}

TEST_F(SettingsFileTest, NamesIgnoreCaseAndBlanksAroundKeysAndValuesGo)
{
    loadText("; settings of the mail station\n"
             "  [ smtp ]  \n"
             "  SMTPADDR  =  mail.example.cn  \n"
             "\tSmtpPort\t=\t2525\n"
             "Password = \"  two blanks kept  \"\n"
             "Username='quoted'\n"
             "LocalEmailAddr=\"only one quote\n");
    EXPECT_STREQ(s().smtpaddr, "mail.example.cn");
    EXPECT_EQ(int32_t(s().smtpport), 2525);
    EXPECT_STREQ(s().Password, "  two blanks kept  ");
    EXPECT_STREQ(s().Username, "quoted");
    EXPECT_STREQ(s().LocalEmailAddr, "\"only one quote");
}

TEST_F(SettingsFileTest, OnlyTheFirstSmtpSectionAndFirstKeyCount)
{
    loadText("[Other]\nsmtpaddr=wrong\n"
             "[SMTP]\nsmtpaddr=first\nsmtpaddr=second\n; smtpport=1\n"
             "[SMTP]\nsmtpport=587\n");
    EXPECT_STREQ(s().smtpaddr, "first");
    EXPECT_EQ(int32_t(s().smtpport), 25);
}

TEST_F(SettingsFileTest, KeysOutsideTheSectionAndBrokenLinesAreIgnored)
{
    loadText("smtpaddr=before any section\n"
             "[SMTP\n"
             "garbage without equals\n"
             "=no key\n"
             "[SMTP]trailing\n"
             "smtpport=26\n");
    EXPECT_STREQ(s().smtpaddr, "");
    EXPECT_EQ(int32_t(s().smtpport), 26);
}

TEST_F(SettingsFileTest, LongTextsAreCutAtACharacterBoundaryAndNeverOverrun)
{
    // 38 ASCII bytes + one two-byte character would need 40 bytes: the character goes, the NUL stays.
    const QByteArray longAddr = QByteArray(38, 'a') + Gbk::encode(QStringLiteral("事")) + "tail";
    load("[SMTP]\nsmtpaddr=" + longAddr + "\nsmtpport=2626\nUsername=" + QByteArray(200, 'u') + "\n");
    EXPECT_EQ(Gbk::fieldBytes(s().smtpaddr), QByteArray(38, 'a'));
    EXPECT_EQ(s().smtpaddr[39], '\0');
    EXPECT_EQ(int32_t(s().smtpport), 2626);
    EXPECT_EQ(Gbk::fieldBytes(s().Username), QByteArray(39, 'u'));
    EXPECT_EQ(s().Password[0], '\0');
}

TEST_F(SettingsFileTest, LineEndsAndAUtf8ByteOrderMark)
{
    load("[SMTP]\rsmtpaddr=cr.host\rsmtpport=2727");
    EXPECT_STREQ(s().smtpaddr, "cr.host");
    EXPECT_EQ(int32_t(s().smtpport), 2727);

    // Saved as UTF-8 by an editor: read as UTF-8, held as GBK like every other text.
    load(QByteArray("\xEF\xBB\xBF[SMTP]\r\nUsername=") + QStringLiteral("值班员").toUtf8() + "\r\n");
    EXPECT_EQ(Gbk::fieldBytes(s().Username), Gbk::encode(QStringLiteral("值班员")));
}

TEST(ProfileFile, MissingFileIsEmptyAndRawValuesKeepGbkBytes)
{
    EXPECT_TRUE(TProfileFile::fromFile(QStringLiteral("/nonexistent/QorMail.ini")).isEmpty());
    const QByteArray gbk = Gbk::encode(QStringLiteral("主域服务器"));
    const auto ini = TProfileFile::fromBytes("[A]\nname=" + gbk + "\nn=12\nb=0\n");
    ASSERT_FALSE(ini.isEmpty());
    EXPECT_EQ(ini.rawValue("a", "NAME"), gbk);
    EXPECT_EQ(ini.readString("A", "name", QStringLiteral("x")), QStringLiteral("主域服务器"));
    EXPECT_EQ(ini.readString("A", "none", QStringLiteral("x")), QStringLiteral("x"));
    EXPECT_EQ(ini.readInteger("A", "n", 5), 12);
    EXPECT_EQ(ini.readInteger("A", "name", 5), 5);
    EXPECT_FALSE(ini.readBool("A", "b", true));
    EXPECT_TRUE(ini.readBool("A", "name", true));
    EXPECT_FALSE(ini.rawValue("B", "name"));

    // 乚 is 0x81 0x5D: its trail byte is the code of "]" and does not close the section name.
    const QByteArray section = Gbk::encode(QStringLiteral("乚段"));
    const auto named = TProfileFile::fromBytes("[" + section + "]\nkey=v\n");
    EXPECT_EQ(named.rawValue(section, "key"), QByteArray("v"));
}

} // namespace
