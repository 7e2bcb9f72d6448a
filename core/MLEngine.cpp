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
    // A file of ours may write a line break as a mark of its own; the suite's files name none, so their lines
    // stay exactly as they stand.
    const QString mark = FindValue(QStringLiteral("LanguageFile"), QStringLiteral("LineBreak")).value_or(QString());
    if (!mark.isEmpty()) {
        for (Section& s : m_sections) {
            for (QString& line : s.lines) {
                line.replace(mark, QStringLiteral("\n"));
            }
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
    return FindValue(section, key).value_or(defaultText);
}

std::optional<QString> TSpecialMemIniFile::FindValue(const QString& section, const QString& key) const
{
    const Section* s = findSection(section);
    if (s == nullptr) {
        return std::nullopt;
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
    return std::nullopt;
}

void TSpecialMemIniFile::ReadSectionLines(const QString& section, QStringList& lines) const
{
    lines.clear();
    if (const Section* s = findSection(section)) {
        lines = s->lines;
    }
}

// ---- LocaleVariables ----

namespace {

// The language code alone or with a territory, code set or modifier behind it ("en", "en_US.UTF-8", "en@x").
bool namesLanguage(QStringView name, QLatin1StringView code)
{
    return name.startsWith(code) && (name.size() == code.size() || QStringView(u"_.@").contains(name.at(code.size())));
}

// The C locale in any of its names, where gettext ignores LANGUAGE (glibc honours it for C.UTF-8; a C locale
// in another code set is still the C locale, so the station keeps its built-in texts there too).
bool isCLocale(QStringView name)
{
    return name == u"C" || name == u"POSIX" || name.startsWith(u"C.") || name.startsWith(u"POSIX.");
}

} // namespace

LocaleVariables LocaleVariables::fromEnvironment()
{
    return {qEnvironmentVariable("LC_ALL"),
        qEnvironmentVariable("LC_MESSAGES"),
        qEnvironmentVariable("LANG"),
        qEnvironmentVariable("LANGUAGE")};
}

bool LocaleVariables::asksForEnglish() const
{
    // The first one set is the locale of the messages, as for every other program of the desktop.
    QStringView locale;
    for (const QString* value : {&lcAll, &lcMessages, &lang}) {
        if (!value->isEmpty()) {
            locale = *value;
            break;
        }
    }
    if (locale.isEmpty() || isCLocale(locale)) {
        return false;
    }
    const QStringList preferred = language.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString& entry : preferred) {
        if (namesLanguage(entry, QLatin1StringView("en"))) {
            return true;
        }
        if (namesLanguage(entry, QLatin1StringView("zh"))) {
            return false;
        }
    }
    return namesLanguage(locale, QLatin1StringView("en"));
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

namespace {

// A file of the Language/ folder beside the program, else of the data folder's.
QString findLanguageFile(const QFileInfo& program, const QString& dataDir, const QString& name)
{
    QString found = findIgnoringCase(program.absolutePath() + QStringLiteral("/Language"), name);
    if (found.isEmpty() && !dataDir.isEmpty()) {
        found = findIgnoringCase(dataDir + QStringLiteral("/Language"), name);
    }
    return found;
}

} // namespace

QString MultiLangEngine::languageFilePath(
    const QString& programFilePath, const QString& dataDir, const LocaleVariables& locale)
{
    const QFileInfo program(programFilePath);
    // A site's own file wins over the shipped English texts, which win over the built-in Chinese ones.
    const QString name = program.completeBaseName() + QStringLiteral(".lang");
    QString found = findLanguageFile(program, dataDir, name);
    if (found.isEmpty()) {
        found = localeFilePath(programFilePath, dataDir, locale);
    }
    // Nothing found: the path beside the program, which gives an empty file and so the built-in texts.
    return found.isEmpty() ? program.absolutePath() + QStringLiteral("/Language/") + name : found;
}

QString MultiLangEngine::localeFilePath(
    const QString& programFilePath, const QString& dataDir, const LocaleVariables& locale)
{
    if (!locale.asksForEnglish()) {
        return {};
    }
    const QFileInfo program(programFilePath);
    return findLanguageFile(program, dataDir, program.completeBaseName() + QStringLiteral(".en.lang"));
}

void MultiLangEngine::LoadLanguageFile()
{
    if (m_iniFile) {
        return;
    }
    const QString program = programFilePath();
    if (program.isEmpty()) {
        m_iniFile = std::make_unique<TSpecialMemIniFile>(QString());
        return;
    }
    LoadLanguageFiles(program, QStringLiteral(QORSMAIL_DATADIR), LocaleVariables::fromEnvironment());
}

void MultiLangEngine::LoadLanguageFiles(
    const QString& programFilePath, const QString& dataDir, const LocaleVariables& locale)
{
    const QString primary = languageFilePath(programFilePath, dataDir, locale);
    const QString fallback = localeFilePath(programFilePath, dataDir, locale);
    m_iniFile = std::make_unique<TSpecialMemIniFile>(primary);
    m_fallbackFile.reset();
    if (!fallback.isEmpty() && fallback != primary) {
        m_fallbackFile = std::make_unique<TSpecialMemIniFile>(fallback);
    }
}

void MultiLangEngine::LoadLanguageFileFrom(const QString& path)
{
    m_iniFile = std::make_unique<TSpecialMemIniFile>(path);
    m_fallbackFile.reset();
}

void MultiLangEngine::LoadLanguageBytes(const QByteArray& bytes)
{
    auto file = std::make_unique<TSpecialMemIniFile>(QString());
    file->ParseBytes(bytes);
    m_iniFile = std::move(file);
    m_fallbackFile.reset();
}

QString MultiLangEngine::GetLangText(const QString& section, const QString& key, const QString& defaultText) const
{
    return GetCountText(section, key, 0, defaultText);
}

QString MultiLangEngine::GetCountText(
    const QString& section, const QString& key, qint64 count, const QString& defaultText) const
{
    try {
        for (const TSpecialMemIniFile* file : {m_iniFile.get(), m_fallbackFile.get()}) {
            if (file == nullptr) {
                continue;
            }
            // The file that has the text decides its forms: a site's own text is never replaced by the
            // singular of the locale's file.
            if (std::optional<QString> text = file->FindValue(section, key)) {
                if (count == 1) {
                    return file->FindValue(section, key + QStringLiteral("_1")).value_or(*text);
                }
                return *text;
            }
        }
    } catch (...) {
        // A look-up never fails its caller: out of memory or the like gives the built-in text.
    }
    return defaultText;
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
    return GetCountText(text, 0);
}

QString GetLangText(const LangText::JoinedEntry& text, const QString& joinedDefault)
{
    return GetCountText(text, 0, joinedDefault);
}

QString GetCountText(const LangText::Entry& text, qint64 count)
{
    return LangEngine().GetCountText(
        QString::fromLatin1(text.Section), QString::fromLatin1(text.Key), count, QString::fromUtf8(text.Default));
}

QString GetCountText(const LangText::JoinedEntry& text, qint64 count, const QString& joinedDefault)
{
    return LangEngine().GetCountText(
        QString::fromLatin1(text.Section), QString::fromLatin1(text.Key), count, joinedDefault);
}

namespace {

// Walks a format text: literal runs go to onText, each placeholder %1 .. %9 with an argument to onArg.
template <class OnText, class OnArg>
void walkFormat(const QString& format, qsizetype argCount, OnText onText, OnArg onArg)
{
    qsizetype start = 0;
    for (qsizetype i = 0; i + 1 < format.size(); ++i) {
        const QChar digit = format.at(i + 1);
        if (format.at(i) != QLatin1Char('%') || digit < QLatin1Char('1') || digit > QLatin1Char('9')) {
            continue;
        }
        const qsizetype arg = digit.unicode() - u'1';
        if (arg >= argCount) {
            continue;
        }
        onText(QStringView(format).mid(start, i - start));
        onArg(arg);
        start = i + 2;
        ++i;
    }
    onText(QStringView(format).mid(start));
}

} // namespace

QString FillText(const QString& format, const QStringList& args)
{
    QString out;
    walkFormat(
        format, args.size(), [&](QStringView text) { out += text; }, [&](qsizetype arg) { out += args.at(arg); });
    return out;
}

QByteArray FillGbk(const QString& format, const QList<QByteArray>& args)
{
    QByteArray out;
    walkFormat(
        format,
        args.size(),
        [&](QStringView text) { out += Gbk::encode(text.toString()); },
        [&](qsizetype arg) { out += args.at(arg); });
    return out;
}
