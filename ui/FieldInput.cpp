// SPDX-License-Identifier: MIT
#include "FieldInput.h"

#include "GbkLimitValidator.h"
#include "GbkText.h"

#include <QLineEdit>
#include <QSpinBox>
#include <QValidator>
#include <algorithm>

namespace FieldInput {

namespace {

// Accepts a text while its GBK bytes fit the field; an edit that would make it longer is refused whole, so
// no character is ever cut in two.
class TGbkLengthValidator : public QValidator
{
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override { return FitsField(input) ? Acceptable : Invalid; }
};

} // namespace

QString TrimBlanks(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).unicode() <= 0x20) {
        ++begin;
    }
    while (end > begin && text.at(end - 1).unicode() <= 0x20) {
        --end;
    }
    return text.mid(begin, end - begin);
}

bool FitsField(const QString& text)
{
    return Gbk::byteLength(text) <= FieldBytes;
}

bool HasAddressShape(const QString& text)
{
    const QByteArray bytes = Gbk::encode(text);
    const qsizetype at = Gbk::indexOfChar(bytes, '@');
    // '@' is a single-byte character, so it is the last character exactly when it is the last byte.
    return at > 0 && at < bytes.size() - 1;
}

QString UpperAscii(const QString& text)
{
    return Gbk::decode(Gbk::upperAscii(Gbk::encode(text)));
}

void LimitToField(QLineEdit* edit)
{
    // Every character takes at least one byte: the length cap keeps the validator's work small.
    edit->setMaxLength(FieldBytes);
    edit->setValidator(new TGbkLengthValidator(edit));
}

void LimitToTitle(QLineEdit* edit, int maxChars)
{
    edit->setMaxLength(maxChars);
    edit->setValidator(new TGbkLimitValidator(TitleBytes, edit));
}

int SpinNumber(QSpinBox* box)
{
    bool ok = false;
    const int typed = box->cleanText().trimmed().toInt(&ok);
    const int number = ok ? std::clamp(typed, box->minimum(), box->maximum()) : box->minimum();
    box->setValue(number);
    return number;
}

} // namespace FieldInput
