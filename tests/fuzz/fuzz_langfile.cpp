// SPDX-License-Identifier: MIT
// The language-file parser on arbitrary bytes: parsing and look-ups never fail, and every section the file
// holds answers ReadSectionLines with lines that obey the file's syntax.
#include "MLEngine.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    TSpecialMemIniFile ini{QString()};
    ini.ParseBytes(bytes);
    const QStringList lines = TSpecialMemIniFile::SplitLines(QString::fromLatin1(bytes));
    for (const QString& line : lines) {
        if (line.contains(QLatin1Char('\r')) || line.contains(QLatin1Char('\n'))) {
            std::abort();
        }
    }
    QStringList section;
    for (const char* name : {"QorsmailMain_Str", "TSmtpDlg", "", "S"}) {
        ini.ReadSectionLines(QString::fromLatin1(name), section);
        for (const QString& line : section) {
            // Section lines are never empty and never comments.
            if (line.isEmpty() || line.front() == QLatin1Char(';')) {
                std::abort();
            }
        }
        (void)ini.ReadValue(QString::fromLatin1(name), QStringLiteral("Str0"), QStringLiteral("d"));
    }
    MultiLangEngine engine;
    engine.LoadLanguageBytes(bytes);
    (void)engine.GetLangText(QStringLiteral("QorsmailMain_Str"), QStringLiteral("Str24"), QStringLiteral("d"));
    return 0;
}
