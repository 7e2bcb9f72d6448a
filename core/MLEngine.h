// SPDX-License-Identifier: MIT
#pragma once

// The language engine: every text the station shows comes from the language file (GBK) by section and key, with
// a built-in default.

#include "LangTexts.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

class TSpecialCustomIniFile
{
public:
    explicit TSpecialCustomIniFile(const QString& fileName)
        : m_fileName(fileName)
    {
    }
    virtual ~TSpecialCustomIniFile() = default;

    const QString& fileName() const { return m_fileName; }

    virtual QString ReadValue(const QString& section, const QString& key, const QString& defaultText) const = 0;
    virtual void ReadSectionLines(const QString& section, QStringList& lines) const = 0;

private:
    QString m_fileName;
};

// A read-only ini file held in memory: sections in file order, each with its lines as they stand.
class TSpecialMemIniFile : public TSpecialCustomIniFile
{
public:
    // Stores the name and reads the file (ReadFileLines).
    explicit TSpecialMemIniFile(const QString& fileName);

    // Reads the file's lines (GBK; CR LF, LF or CR) and parses them; an empty name or a missing file gives no
    // sections.
    void ReadFileLines();
    // Empties the sections and parses the lines: empty lines and lines starting with ';' are skipped, "[name]"
    // opens a section, every other line belongs to the last section opened. A file that names a line break mark
    // ("LineBreak=\n" in its section [LanguageFile]) has every such mark in its lines read as a line break;
    // without that line every character stands for itself, as in the suite's own files.
    void ParseLines(const QStringList& lines);
    // Decodes GBK bytes, splits them into lines and parses them (ReadFileLines on bytes in memory).
    void ParseBytes(const QByteArray& bytes);
    // Splits text at CR LF, LF and CR; an end at the very end opens no further line.
    static QStringList SplitLines(const QString& text);

    QString ReadValue(const QString& section, const QString& key, const QString& defaultText) const override;
    void ReadSectionLines(const QString& section, QStringList& lines) const override;
    // The value of the first matching key of the first matching section; nullopt when there is none.
    std::optional<QString> FindValue(const QString& section, const QString& key) const;

    int sectionCount() const { return static_cast<int>(m_sections.size()); }

private:
    struct Section
    {
        QString name;
        QStringList lines;
    };
    const Section* findSection(const QString& name) const;

    std::vector<Section> m_sections;
};

// The locale variables that choose the station's language, as the environment holds them.
struct LocaleVariables
{
    QString lcAll;
    QString lcMessages;
    QString lang;
    QString language{}; // LANGUAGE: languages in order of preference, "en_GB:en:de"

    static LocaleVariables fromEnvironment();
    // As gettext chooses: the locale is the first non-empty of LC_ALL, LC_MESSAGES and LANG. Unless that is the
    // C locale (none set, "C", "POSIX", and here "C.UTF-8" too), the first entry of LANGUAGE that names English
    // or Chinese decides; without one, the locale itself. A name is a language when it is the code alone or the code
    // followed by "_", "." or "@" ("en", "en_US.UTF-8", "zh_CN").
    bool asksForEnglish() const;
};

class MultiLangEngine
{
public:
    // Opens the language files once: a site's own "Language/<program>.lang" (the program file's name with the
    // extension ".lang", matched ignoring case) beside the program file, else in the installed data folder's
    // Language/; and when the locale asks for English, "<program>.en.lang" found the same way, which gives the
    // texts the site's file lacks (or all of them, without a site file). Chinese, the built-in texts, has no
    // file. A second call changes nothing.
    void LoadLanguageFile();
    // The same for the given program file, data folder and locale; replaces any files loaded before.
    void LoadLanguageFiles(const QString& programFilePath, const QString& dataDir, const LocaleVariables& locale);
    // One explicit file and no other, for tests and tools; replaces any files loaded before.
    void LoadLanguageFileFrom(const QString& path);
    // The same with the file's GBK bytes.
    void LoadLanguageBytes(const QByteArray& bytes);

    // The text of the first file that has the key (the site's, then the locale's), else the default.
    QString GetLangText(const QString& section, const QString& key, const QString& defaultText) const;
    // A text with a count in it: for a count of 1 the singular form, key + "_1", where the file that has the key
    // also has that one; else the text itself (the plural, and the only form in Chinese).
    QString GetCountText(const QString& section, const QString& key, qint64 count, const QString& defaultText) const;

    // The first file looked at (the site's, else the locale's), or null before LoadLanguageFile.
    const TSpecialMemIniFile* iniFile() const { return m_iniFile.get(); }
    // The locale's texts behind a site's own file, or null.
    const TSpecialMemIniFile* fallbackFile() const { return m_fallbackFile.get(); }

    // Where LoadLanguageFile looks, for the given program file path, this process's locale and data folder.
    static QString languageFilePath(const QString& programFilePath);
    // The site's own file only, with another installed data folder (the one holding Language/).
    static QString languageFilePath(const QString& programFilePath, const QString& dataDir);
    // The same for the given locale.
    static QString languageFilePath(
        const QString& programFilePath, const QString& dataDir, const LocaleVariables& locale);
    // The shipped texts of the locale's language, or empty (Chinese, or no such file).
    static QString localeFilePath(
        const QString& programFilePath, const QString& dataDir, const LocaleVariables& locale);

private:
    std::unique_ptr<TSpecialMemIniFile> m_iniFile;
    std::unique_ptr<TSpecialMemIniFile> m_fallbackFile;
};

// The process's engine, created on first use.
MultiLangEngine& LangEngine();

QString GetLangText(const QString& section, const QString& key, const QString& defaultText);
QString GetLangText(const LangText::Entry& text);
// A text whose default the caller joins from older texts (LangText::JoinedEntry).
QString GetLangText(const LangText::JoinedEntry& text, const QString& joinedDefault);
// The form of a count text for count (MultiLangEngine::GetCountText).
QString GetCountText(const LangText::Entry& text, qint64 count);
QString GetCountText(const LangText::JoinedEntry& text, qint64 count, const QString& joinedDefault);

// Fills the placeholders %1 .. %9 of a language text, each with the argument of its own number, so a translation
// may put them in any order or leave one out; a "%" inside an argument is never read as a placeholder, and a
// placeholder without an argument stays as it stands.
QString FillText(const QString& format, const QStringList& args);
// The same into GBK bytes: the format's own text is encoded, each argument put in as the bytes it is (a stored
// title keeps its bytes exactly).
QByteArray FillGbk(const QString& format, const QList<QByteArray>& args);
