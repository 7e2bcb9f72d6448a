// SPDX-License-Identifier: MIT
#pragma once

// Input rules shared by the dialogs that edit 40-byte record fields (names, addresses, server settings).
// A field holds 39 GBK bytes: a Chinese character takes two, so "39 characters" would overrun it. Every
// search for '@' steps by characters, so the trail byte 0x40 of characters such as 園 is never taken for one.

#include <QString>

class QLineEdit;
class QSpinBox;

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

// Bytes a 128-byte title field holds besides its NUL.
constexpr int TitleBytes = 127;
// Limits a title edit to maxChars characters and to what the title field holds: an input that would take more
// than 127 bytes (a character of GB18030 takes up to four) is refused, so a stored title is never cut.
void LimitToTitle(QLineEdit* edit, int maxChars);

// A spin box's number: text that is no number (a cleared field) reads as the minimum, a number outside the
// range as the nearest bound; the box then shows what was read.
int SpinNumber(QSpinBox* box);

} // namespace FieldInput
