// SPDX-License-Identifier: MIT
#include "MLEngine.h"

#include "GbkCodec.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <climits>
#include <unistd.h>

namespace {

// The language file is a few kilobytes; anything far larger is not one and is not read into memory.
constexpr qint64 MaxLanguageFileSize = 16 * 1024 * 1024;

bool sameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// The program file of the running process.
QString programFilePath()
{
    if (QCoreApplication::instance() != nullptr) {
        const QString path = QCoreApplication::applicationFilePath();
        if (!path.isEmpty()) {
            return path;
        }
    }
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (n <= 0) {
        return {};
    }
    return QFile::decodeName(QByteArray(buffer, static_cast<qsizetype>(n)));
}

// The file in folder whose name equals fileName ignoring case; an exact match is preferred, then the first in
// name order, so the choice never depends on the directory's listing order.
QString findIgnoringCase(const QString& folder, const QString& fileName)
{
    const QDir dir(folder);
    if (!dir.exists()) {
        return {};
    }
    if (QFileInfo(dir.filePath(fileName)).isFile()) {
        return dir.filePath(fileName);
    }
    const QStringList entries = dir.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    for (const QString& entry : entries) {
        if (sameName(entry, fileName)) {
            return dir.filePath(entry);
        }
    }
    return {};
}

} // namespace

// ---- TSpecialMemIniFile ----

TSpecialMemIniFile::TSpecialMemIniFile(const QString& fileName)
    : TSpecialCustomIniFile(fileName)
{
    ReadFileLines();
}

QStringList TSpecialMemIniFile::SplitLines(const QString& text)
{
    // CR LF, LF and CR each end a line; a last line without an end still counts, an end at the very end opens
    // no further line.
    QStringList lines;
    qsizetype start = 0;
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            lines.append(text.mid(start, i - start));
            if (c == QLatin1Char('\r') && i + 1 < size && text.at(i + 1) == QLatin1Char('\n')) {
                ++i;
            }
            start = i + 1;
        }
    }
    if (start < size) {
        lines.append(text.mid(start));
    }
    return lines;
}

void TSpecialMemIniFile::ParseBytes(const QByteArray& bytes)
{
    // GBK never uses the bytes CR or LF inside a character, so decoding first and splitting after is the same
    // as splitting the bytes.
    ParseLines(SplitLines(Gbk::decode(bytes)));
}

void TSpecialMemIniFile::ReadFileLines()
{
    m_sections.clear();
    if (fileName().isEmpty()) {
        return;
    }
    QFile file(fileName());
    if (!file.exists() || !file.open(QIODevice::ReadOnly)) {
        return;
    }
    if (file.size() > MaxLanguageFileSize) {
        return;
    }
    ParseBytes(file.read(MaxLanguageFileSize));
}

void TSpecialMemIniFile::ParseLines(const QStringList& lines)
{
    m_sections.clear();
    Section* current = nullptr;
    for (const QString& line : lines) {
        if (line.isEmpty() || line.front() == QLatin1Char(';')) {
            continue;
        }
        if (line.size() >= 2 && line.front() == QLatin1Char('[') && line.back() == QLatin1Char(']')) {
            m_sections.push_back(Section{line.mid(1, line.size() - 2), {}});
            current = &m_sections.back();
            continue;
        }
        if (current != nullptr) {
            current->lines.append(line);
        }
    }
}

const TSpecialMemIniFile::Section* TSpecialMemIniFile::findSection(const QString& name) const
{
    for (const Section& s : m_sections) {
        if (sameName(s.name, name)) {
            return &s;
        }
    }
    return nullptr;
}

QString TSpecialMemIniFile::ReadValue(const QString& section, const QString& key, const QString& defaultText) const
{
    const Section* s = findSection(section);
    if (s == nullptr) {
        return defaultText;
    }
    for (const QString& line : s->lines) {
        // A line without "=" has no key and never matches.
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0) {
            continue;
        }
        if (QStringView(line).left(eq).compare(key, Qt::CaseInsensitive) == 0) {
            return line.mid(eq + 1);
        }
    }
    return defaultText;
}

void TSpecialMemIniFile::ReadSectionLines(const QString& section, QStringList& lines) const
{
    lines.clear();
    if (const Section* s = findSection(section)) {
        lines = s->lines;
    }
}

// ---- LocaleVariables ----

LocaleVariables LocaleVariables::fromEnvironment()
{
    return {qEnvironmentVariable("LC_ALL"), qEnvironmentVariable("LC_MESSAGES"), qEnvironmentVariable("LANG")};
}

bool LocaleVariables::asksForEnglish() const
{
    // The first one set decides, as for every other program of the desktop.
    for (const QString* value : {&lcAll, &lcMessages, &lang}) {
        if (value->isEmpty()) {
            continue;
        }
        // "en" alone or with a territory, code set or modifier behind it.
        if (!value->startsWith(QLatin1String("en"))) {
            return false;
        }
        return value->size() == 2 || QStringView(u"_.@").contains(value->at(2));
    }
    return false;
}

// ---- MultiLangEngine ----

QString MultiLangEngine::languageFilePath(const QString& programFilePath)
{
    return languageFilePath(programFilePath, QStringLiteral(QORSMAIL_DATADIR), LocaleVariables::fromEnvironment());
}

QString MultiLangEngine::languageFilePath(const QString& programFilePath, const QString& dataDir)
{
    return languageFilePath(programFilePath, dataDir, LocaleVariables{});
}

QString MultiLangEngine::languageFilePath(
    const QString& programFilePath, const QString& dataDir, const LocaleVariables& locale)
{
    const QFileInfo program(programFilePath);
    const QString beside = program.absolutePath() + QStringLiteral("/Language");
    const auto find = [&](const QString& name) {
        QString found = findIgnoringCase(beside, name);
        if (found.isEmpty() && !dataDir.isEmpty()) {
            found = findIgnoringCase(dataDir + QStringLiteral("/Language"), name);
        }
        return found;
    };
    // A site's own file wins over the shipped English texts, which win over the built-in Chinese ones.
    const QString name = program.completeBaseName() + QStringLiteral(".lang");
    QString found = find(name);
    if (found.isEmpty() && locale.asksForEnglish()) {
        found = find(program.completeBaseName() + QStringLiteral(".en.lang"));
    }
    // Nothing found: the path beside the program, which gives an empty file and so the built-in texts.
    return found.isEmpty() ? beside + QLatin1Char('/') + name : found;
}

void MultiLangEngine::LoadLanguageFile()
{
    if (m_iniFile) {
        return;
    }
    const QString program = programFilePath();
    m_iniFile = std::make_unique<TSpecialMemIniFile>(program.isEmpty() ? QString() : languageFilePath(program));
}

void MultiLangEngine::LoadLanguageFileFrom(const QString& path)
{
    m_iniFile = std::make_unique<TSpecialMemIniFile>(path);
}

void MultiLangEngine::LoadLanguageBytes(const QByteArray& bytes)
{
    auto file = std::make_unique<TSpecialMemIniFile>(QString());
    file->ParseBytes(bytes);
    m_iniFile = std::move(file);
}

QString MultiLangEngine::GetLangText(const QString& section, const QString& key, const QString& defaultText) const
{
    if (!m_iniFile) {
        return defaultText;
    }
    try {
        return m_iniFile->ReadValue(section, key, defaultText);
    } catch (...) {
        // A look-up never fails its caller: out of memory or the like gives the built-in text.
        return defaultText;
    }
}

MultiLangEngine& LangEngine()
{
    static MultiLangEngine engine;
    return engine;
}

QString GetLangText(const QString& section, const QString& key, const QString& defaultText)
{
    return LangEngine().GetLangText(section, key, defaultText);
}

QString GetLangText(const LangText::Entry& text)
{
    return LangEngine().GetLangText(
        QString::fromLatin1(text.Section), QString::fromLatin1(text.Key), QString::fromUtf8(text.Default));
}
