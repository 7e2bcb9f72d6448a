// SPDX-License-Identifier: MIT
#pragma once

// The language engine: every text the station shows comes from the language file (GBK) by section and key, with
// a built-in default.

#include "LangTexts.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <memory>
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
    // opens a section, every other line belongs to the last section opened.
    void ParseLines(const QStringList& lines);
    // Decodes GBK bytes, splits them into lines and parses them (ReadFileLines on bytes in memory).
    void ParseBytes(const QByteArray& bytes);
    // Splits text at CR LF, LF and CR; an end at the very end opens no further line.
    static QStringList SplitLines(const QString& text);

    QString ReadValue(const QString& section, const QString& key, const QString& defaultText) const override;
    void ReadSectionLines(const QString& section, QStringList& lines) const override;

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

    static LocaleVariables fromEnvironment();
    // Whether the first non-empty of LC_ALL, LC_MESSAGES and LANG names English ("en", "en_US.UTF-8", ...).
    bool asksForEnglish() const;
};

class MultiLangEngine
{
public:
    // Opens the language file once: a site's own "Language/<program>.lang" (the program file's name with the
    // extension ".lang", matched ignoring case) beside the program file, else in the installed data folder's
    // Language/; when there is none and the locale asks for English, "<program>.en.lang" found the same way.
    // Without either the built-in (Chinese) texts apply. A second call changes nothing.
    void LoadLanguageFile();
    // The same with an explicit file, for tests and tools; replaces any file loaded before.
    void LoadLanguageFileFrom(const QString& path);
    // The same with the file's GBK bytes.
    void LoadLanguageBytes(const QByteArray& bytes);

    QString GetLangText(const QString& section, const QString& key, const QString& defaultText) const;

    // The parsed file, or null before LoadLanguageFile.
    const TSpecialMemIniFile* iniFile() const { return m_iniFile.get(); }

    // Where LoadLanguageFile looks, for the given program file path, this process's locale and data folder.
    static QString languageFilePath(const QString& programFilePath);
    // The site's own file only, with another installed data folder (the one holding Language/).
    static QString languageFilePath(const QString& programFilePath, const QString& dataDir);
    // The same for the given locale.
    static QString languageFilePath(
        const QString& programFilePath, const QString& dataDir, const LocaleVariables& locale);

private:
    std::unique_ptr<TSpecialMemIniFile> m_iniFile;
};

// The process's engine, created on first use.
MultiLangEngine& LangEngine();

QString GetLangText(const QString& section, const QString& key, const QString& defaultText);
QString GetLangText(const LangText::Entry& text);
