// SPDX-License-Identifier: MIT
#include "GbkCodec.h"
#include "MLEngine.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

TSpecialMemIniFile parsed(const QByteArray& utf8Text)
{
    TSpecialMemIniFile ini{QString()};
    ini.ParseBytes(Gbk::encode(QString::fromUtf8(utf8Text)));
    return ini;
}

const QString Def = QStringLiteral("default");

std::string localeTrace(const LocaleVariables& locale, bool siteFile)
{
    return QStringLiteral("LC_ALL=%1 LC_MESSAGES=%2 LANG=%3 LANGUAGE=%4 site file %5")
        .arg(locale.lcAll, locale.lcMessages, locale.lang, locale.language)
        .arg(QLatin1String(siteFile ? "yes" : "no"))
        .toStdString();
}

// The site's own file with the given text, or none.
void putSiteFile(const QString& path, const char* text)
{
    QFile::remove(path);
    if (text != nullptr) {
        writeFile(path, text);
    }
}

TEST(LanguageFile, KeysAndSectionsIgnoreCaseAndTheFirstWins)
{
    const auto ini = parsed("[QorsmailMain_Str]\r\n"
                            "str24=发送事件邮件\r\n"
                            "Str24=second\r\n"
                            "[qorsmailmain_str]\r\n"
                            "Str25=from the second section\r\n"
                            "Str0=also second\r\n");
    EXPECT_EQ(ini.ReadValue(QStringLiteral("QorsmailMain_Str"), QStringLiteral("Str24"), Def),
        QStringLiteral("发送事件邮件"));
    EXPECT_EQ(ini.ReadValue(QStringLiteral("QORSMAILMAIN_STR"), QStringLiteral("STR24"), Def),
        QStringLiteral("发送事件邮件"));
    // The second section of the same name is never looked at.
    EXPECT_EQ(ini.ReadValue(QStringLiteral("QorsmailMain_Str"), QStringLiteral("Str25"), Def), Def);
    EXPECT_EQ(ini.ReadValue(QStringLiteral("QorsmailMain_Str"), QStringLiteral("Str0"), Def), Def);
    EXPECT_EQ(ini.sectionCount(), 2);
    EXPECT_EQ(ini.ReadValue(QStringLiteral("Nope"), QStringLiteral("Str24"), Def), Def);
}

TEST(LanguageFile, BlanksAndEqualSignsStayWhereTheyStand)
{
    const auto ini = parsed("[S]\n"
                            "Blank =no\n"
                            "Lead=  two blanks \n"
                            "Eq=a=b==c\n"
                            "Empty=\n"
                            " Indented=yes\n"
                            "NoEquals\n"
                            "=empty key\n");
    const QString s = QStringLiteral("S");
    EXPECT_EQ(ini.ReadValue(s, QStringLiteral("Blank"), Def), Def);
    EXPECT_EQ(ini.ReadValue(s, QStringLiteral("Blank "), Def), QStringLiteral("no"));
    EXPECT_EQ(ini.ReadValue(s, QStringLiteral("Lead"), Def), QStringLiteral("  two blanks "));
    EXPECT_EQ(ini.ReadValue(s, QStringLiteral("Eq"), Def), QStringLiteral("a=b==c"));
    EXPECT_EQ(ini.ReadValue(s, QStringLiteral("Empty"), Def), QString());
    EXPECT_EQ(ini.ReadValue(s, QStringLiteral("Indented"), Def), Def);
    EXPECT_EQ(ini.ReadValue(s, QStringLiteral(" Indented"), Def), QStringLiteral("yes"));
    // A line without "=" is no key, even under its own text.
    EXPECT_EQ(ini.ReadValue(s, QStringLiteral("NoEquals"), Def), Def);
    EXPECT_EQ(ini.ReadValue(s, QString(), Def), QStringLiteral("empty key"));
}

TEST(LanguageFile, HeadersCommentsAndStrayLines)
{
    const auto ini = parsed("Before=dropped\n"
                            "[Before]\n"
                            "; comment=skipped\n"
                            " ;not a comment=kept\n"
                            "[x] \n"
                            "\n"
                            "After=still Before\n"
                            "[ Blank Name ]\n"
                            "k=v\n"
                            "[]\n"
                            "e=empty name\n");
    EXPECT_EQ(ini.sectionCount(), 3);
    QStringList lines;
    ini.ReadSectionLines(QStringLiteral("Before"), lines);
    EXPECT_EQ(lines,
        QStringList(
            {QStringLiteral(" ;not a comment=kept"), QStringLiteral("[x] "), QStringLiteral("After=still Before")}));
    EXPECT_EQ(ini.ReadValue(QStringLiteral("Before"), QStringLiteral(" ;not a comment"), Def), QStringLiteral("kept"));
    EXPECT_EQ(ini.ReadValue(QStringLiteral("Before"), QStringLiteral("; comment"), Def), Def);
    EXPECT_EQ(ini.ReadValue(QStringLiteral("x"), QStringLiteral("After"), Def), Def);
    EXPECT_EQ(ini.ReadValue(QStringLiteral(" Blank Name "), QStringLiteral("k"), Def), QStringLiteral("v"));
    EXPECT_EQ(ini.ReadValue(QStringLiteral("Blank Name"), QStringLiteral("k"), Def), Def);
    EXPECT_EQ(ini.ReadValue(QString(), QStringLiteral("e"), Def), QStringLiteral("empty name"));

    // ReadSectionLines empties the output, also for a section that is not there.
    ini.ReadSectionLines(QStringLiteral("missing"), lines);
    EXPECT_TRUE(lines.isEmpty());
}

TEST(LanguageFile, EveryLineEndCountsAndBadBytesDoNotVanish)
{
    QByteArray bytes("[S]\r\na=1\rb=2\nc=3\r\n\r\nd=");
    bytes += Gbk::encode(QStringLiteral("事件"));
    bytes += "\x81"; // a lead byte with no trail at the end of the file
    TSpecialMemIniFile ini{QString()};
    ini.ParseBytes(bytes);
    const QString s = QStringLiteral("S");
    EXPECT_EQ(ini.ReadValue(s, QStringLiteral("a"), Def), QStringLiteral("1"));
    EXPECT_EQ(ini.ReadValue(s, QStringLiteral("b"), Def), QStringLiteral("2"));
    EXPECT_EQ(ini.ReadValue(s, QStringLiteral("c"), Def), QStringLiteral("3"));
    EXPECT_EQ(ini.ReadValue(s, QStringLiteral("d"), Def), QStringLiteral("事件") + QChar(QChar::ReplacementCharacter));

    EXPECT_EQ(TSpecialMemIniFile::SplitLines(QStringLiteral("a\r\n\nb\r")),
        QStringList({QStringLiteral("a"), QString(), QStringLiteral("b")}));
}

TEST(LanguageEngine, WithoutAFileEveryTextIsItsDefault)
{
    MultiLangEngine engine;
    EXPECT_EQ(engine.iniFile(), nullptr);
    EXPECT_EQ(engine.GetLangText(QStringLiteral("S"), QStringLiteral("k"), Def), Def);

    QTemporaryDir dir;
    engine.LoadLanguageFileFrom(dir.filePath(QStringLiteral("missing.lang")));
    ASSERT_NE(engine.iniFile(), nullptr);
    EXPECT_EQ(engine.iniFile()->sectionCount(), 0);
    EXPECT_EQ(engine.GetLangText(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral(" 成功！")),
        QStringLiteral(" 成功！"));
}

TEST(LanguageEngine, ReadsTheGbkFileAndTheTableEntries)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("QorMail.lang"));
    writeFile(path, Gbk::encode(QStringLiteral("[QorsmailMain_Str]\r\nStr25= 完成！\r\n")));
    MultiLangEngine engine;
    engine.LoadLanguageFileFrom(path);
    EXPECT_EQ(engine.GetLangText(QStringLiteral("QorsmailMain_Str"), QStringLiteral("Str25"), Def),
        QStringLiteral(" 完成！"));

    // The process engine answers through the text table: a file text where there is one, else the default.
    LangEngine().LoadLanguageFileFrom(path);
    EXPECT_EQ(GetLangText(LangText::QorsmailMain_Str::Str25), QStringLiteral(" 完成！"));
    EXPECT_EQ(GetLangText(LangText::QorsmailMain_Str::Str24), QStringLiteral("发送事件邮件"));
    LangEngine().LoadLanguageBytes(QByteArray());
    EXPECT_EQ(GetLangText(LangText::QorsmailMain_Str::Str25), QStringLiteral(" 成功！"));
}

TEST(LanguageEngine, LoadLanguageFileRunsOnce)
{
    MultiLangEngine engine;
    engine.LoadLanguageFile();
    const TSpecialMemIniFile* first = engine.iniFile();
    ASSERT_NE(first, nullptr);
    engine.LoadLanguageFile();
    EXPECT_EQ(engine.iniFile(), first);
}

TEST(LanguageEngine, FileIsFoundBesideTheProgramIgnoringCaseThenInTheDataFolder)
{
    QTemporaryDir dir;
    const QString program = dir.filePath(QStringLiteral("bin/qormail"));
    const QString data = dir.filePath(QStringLiteral("share"));
    writeFile(program, "");

    // Nothing anywhere: the path beside the program (read as an empty file).
    EXPECT_EQ(
        MultiLangEngine::languageFilePath(program, data), dir.filePath(QStringLiteral("bin/Language/qormail.lang")));

    writeFile(dir.filePath(QStringLiteral("share/Language/QORMAIL.LANG")), "[S]\nk=data\n");
    EXPECT_EQ(
        MultiLangEngine::languageFilePath(program, data), dir.filePath(QStringLiteral("share/Language/QORMAIL.LANG")));

    writeFile(dir.filePath(QStringLiteral("bin/Language/QorMail.lang")), "[S]\nk=beside\n");
    EXPECT_EQ(
        MultiLangEngine::languageFilePath(program, data), dir.filePath(QStringLiteral("bin/Language/QorMail.lang")));

    // An exact match wins over one that differs in case.
    writeFile(dir.filePath(QStringLiteral("bin/Language/qormail.lang")), "[S]\nk=exact\n");
    const QString found = MultiLangEngine::languageFilePath(program, data);
    EXPECT_EQ(found, dir.filePath(QStringLiteral("bin/Language/qormail.lang")));
    MultiLangEngine engine;
    engine.LoadLanguageFileFrom(found);
    EXPECT_EQ(engine.GetLangText(QStringLiteral("s"), QStringLiteral("K"), Def), QStringLiteral("exact"));

    // A program file with an extension has it replaced.
    EXPECT_EQ(QFileInfo(MultiLangEngine::languageFilePath(dir.filePath(QStringLiteral("bin/QorMail.exe")), data))
                  .fileName()
                  .compare(QStringLiteral("qormail.lang"), Qt::CaseInsensitive),
        0);
}

TEST(LanguageEngine, TheLocalePicksTheEnglishFileAndASiteFileWinsOverBoth)
{
    QTemporaryDir dir;
    const QString program = dir.filePath(QStringLiteral("bin/qormail"));
    const QString data = dir.filePath(QStringLiteral("share"));
    const QString english = dir.filePath(QStringLiteral("share/Language/qormail.en.lang"));
    const QString site = dir.filePath(QStringLiteral("bin/Language/qormail.lang"));
    writeFile(program, "");
    writeFile(english, "[S]\r\nk=English\r\n");
    enum Pick
    {
        Chinese,
        English,
        Site
    };
    const struct
    {
        LocaleVariables locale;
        bool siteFile;
        Pick expected;
    } cases[] = {
        {{{}, {}, QStringLiteral("en_US.UTF-8")}, false, English},
        {{{}, {}, QStringLiteral("en")}, false, English},
        {{{}, {}, QStringLiteral("en_GB@euro")}, false, English},
        {{{}, {}, QStringLiteral("C")}, false, Chinese},
        {{{}, {}, QStringLiteral("C.UTF-8")}, false, Chinese},
        {{{}, {}, QStringLiteral("zh_CN.UTF-8")}, false, Chinese},
        {{{}, {}, {}}, false, Chinese},
        {{QStringLiteral("zh_CN.UTF-8"), {}, QStringLiteral("en_US.UTF-8")}, false, Chinese},
        {{QStringLiteral("en_US.UTF-8"), QStringLiteral("C"), QStringLiteral("zh_CN.UTF-8")}, false, English},
        {{{}, QStringLiteral("en_US.UTF-8"), QStringLiteral("C")}, false, English},
        {{{}, QStringLiteral("C"), QStringLiteral("en_US.UTF-8")}, false, Chinese},
        {{{}, {}, QStringLiteral("en_US.UTF-8")}, true, Site},
        {{{}, {}, QStringLiteral("zh_CN.UTF-8")}, true, Site},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(localeTrace(c.locale, c.siteFile));
        putSiteFile(site, c.siteFile ? "[S]\r\nk=site\r\n" : nullptr);
        const QString path = MultiLangEngine::languageFilePath(program, data, c.locale);
        // Chinese: no file at all, so the built-in texts.
        EXPECT_EQ(path, c.expected == English ? english : site);
        EXPECT_EQ(QFile::exists(path), c.expected != Chinese);
    }
}

TEST(LanguageEngine, LanguageListComesFirstOutsideTheCLocaleAndTheLocaleFillsInWhatASiteFileLacks)
{
    QTemporaryDir dir;
    const QString program = dir.filePath(QStringLiteral("bin/qormail"));
    const QString data = dir.filePath(QStringLiteral("share"));
    const QString site = dir.filePath(QStringLiteral("bin/Language/qormail.lang"));
    writeFile(program, "");
    writeFile(dir.filePath(QStringLiteral("share/Language/qormail.en.lang")),
        "[S]\r\nk=English\r\nown=English\r\nn=%1 events\r\nn_1=%1 event\r\n");
    const QString English = QStringLiteral("English");
    const QString One = QStringLiteral("%1 event");
    const QString Own = QStringLiteral("site");
    const QString OwnOne = QStringLiteral("site %1");
    const auto language = [](const char* lang, const char* list) {
        return LocaleVariables{{}, {}, QString::fromLatin1(lang), QString::fromLatin1(list)};
    };
    const struct
    {
        LocaleVariables locale;
        bool siteFile;
        QString k; // a key only the English file has
        QString own; // a key both files have
        QString one; // a count text for 1, whose singular only the English file has
    } cases[] = {
        {language("de_DE.UTF-8", "en:de"), false, English, English, One},
        {language("en_US.UTF-8", "zh_CN"), false, Def, Def, Def},
        {{QStringLiteral("C"), {}, {}, QStringLiteral("en")}, false, Def, Def, Def},
        {language("POSIX", "en"), false, Def, Def, Def},
        {language("C.UTF-8", "en"), false, Def, Def, Def},
        {language("", "en"), false, Def, Def, Def},
        {language("zh_CN.UTF-8", "de::fr:en_GB:zh"), false, English, English, One},
        {language("en_US.UTF-8", "de:fr"), false, English, English, One},
        {language("en_US.UTF-8", ""), true, English, Own, OwnOne},
        {language("zh_CN.UTF-8", ""), true, Def, Own, OwnOne},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(localeTrace(c.locale, c.siteFile));
        putSiteFile(site, c.siteFile ? "[S]\r\nown=site\r\nn=site %1\r\n" : nullptr);
        MultiLangEngine engine;
        engine.LoadLanguageFiles(program, data, c.locale);
        EXPECT_EQ(engine.GetLangText(QStringLiteral("S"), QStringLiteral("k"), Def), c.k);
        EXPECT_EQ(engine.GetLangText(QStringLiteral("S"), QStringLiteral("own"), Def), c.own);
        EXPECT_EQ(engine.GetCountText(QStringLiteral("S"), QStringLiteral("n"), 1, Def), c.one);
    }
}

} // namespace
