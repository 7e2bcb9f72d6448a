// SPDX-License-Identifier: MIT
#pragma once

// Input rules shared by the dialogs that edit 40-byte record fields (names, addresses, server settings).
// A field holds 39 GBK bytes: a Chinese character takes two, so "39 characters" would overrun it. Every
// search for '@' steps by characters, so the trail byte 0x40 of characters such as 園 is never taken for one.

#include <QString>

class QLineEdit;

namespace FieldInput {

// Bytes of text a 40-byte field holds besides its NUL.
constexpr int FieldBytes = 39;

// Removes characters of code 32 or less at both ends.
QString TrimBlanks(const QString& text);

// Whether the text fits a 40-byte field in GBK.
bool FitsField(const QString& text);

// Whether the text holds an '@' character whose first occurrence is neither the first nor the last character.
bool HasAddressShape(const QString& text);

// The text with ASCII letters upper-cased and every other character left exactly as it is.
QString UpperAscii(const QString& text);

// Limits an edit to what a 40-byte field holds: typing or pasting past 39 GBK bytes is refused.
void LimitToField(QLineEdit* edit);

} // namespace FieldInput
