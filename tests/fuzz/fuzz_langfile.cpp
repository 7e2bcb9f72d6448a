// SPDX-License-Identifier: MIT
// The language-file parser on arbitrary bytes: parsing and look-ups never fail, every section the file holds
// answers ReadSectionLines with lines that obey the file's syntax, and every key the file names is found with
// the text of its first line in the first section of that name (names ignoring case), so mutated section and
// key names are looked up too, not only the station's own.
#include "GbkCodec.h"
#include "MLEngine.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void check(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    TSpecialMemIniFile ini{QString()};
    ini.ParseBytes(bytes);
    const QStringList lines = TSpecialMemIniFile::SplitLines(Gbk::decode(bytes));
    QStringList sections{
        QStringLiteral("QorsmailMain_Str"), QStringLiteral("TSmtpDlg"), QString(), QStringLiteral("S")};
    for (const QString& line : lines) {
        check(!line.contains(QLatin1Char('\r')) && !line.contains(QLatin1Char('\n')));
        if (line.size() >= 2 && line.front() == QLatin1Char('[') && line.back() == QLatin1Char(']')) {
            sections << line.mid(1, line.size() - 2);
        }
    }
    QStringList section;
    for (const QString& name : sections) {
        ini.ReadSectionLines(name, section);
        for (const QString& line : section) {
            // Section lines are never empty and never comments.
            check(!line.isEmpty() && line.front() != QLatin1Char(';'));
        }
        (void)ini.ReadValue(name, QStringLiteral("Str0"), QStringLiteral("d"));
        // Each key of the section's lines gives the text after the first "=" of the first line with that key.
        for (qsizetype i = 0; i < section.size(); ++i) {
            const qsizetype eq = section[i].indexOf(QLatin1Char('='));
            if (eq < 0) {
                continue;
            }
            const QString key = section[i].left(eq);
            qsizetype first = 0;
            while (section[first].indexOf(QLatin1Char('=')) < 0
                || QStringView(section[first])
                        .left(section[first].indexOf(QLatin1Char('=')))
                        .compare(key, Qt::CaseInsensitive)
                    != 0) {
                ++first;
            }
            const QString& found = section[first];
            check(ini.ReadValue(name, key, QStringLiteral("\x01")) == found.mid(found.indexOf(QLatin1Char('=')) + 1));
        }
    }
    MultiLangEngine engine;
    engine.LoadLanguageBytes(bytes);
    (void)engine.GetLangText(QStringLiteral("QorsmailMain_Str"), QStringLiteral("Str24"), QStringLiteral("d"));
    return 0;
}
