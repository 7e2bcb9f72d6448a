// SPDX-License-Identifier: MIT
#pragma once

// The top-level header fields of an outgoing mail, written by hand because no packaged mail library writes
// Chinese headers correctly: RFC 2047 encoded words (B encoding, whole GB18030 characters per word), display
// names as RFC 5322 phrases, RFC 2231 file names, a locale-independent Date and a Message-ID. Every text that
// could carry a CR, LF or other control character leaves here either encoded or refused, so nothing can add a
// header line of its own.

#include <QByteArray>
#include <QDateTime>
#include <QList>

namespace MailHeaders {

// The character set of every text the station sends: a superset of GBK that keeps the suite's bytes.
inline constexpr const char* Charset = "GB18030";
// Longest encoded word RFC 2047 allows.
inline constexpr int MaxEncodedWord = 75;
// Line length the folding aims at (RFC 5322 recommends 78).
inline constexpr int FoldColumn = 78;

// True when the text is printable ASCII (0x20..0x7E) throughout and can go into a header as it stands.
bool isPlainPrintable(const QByteArray& text);

// The text (GB18030 bytes) as encoded words "=?GB18030?B?...?=", each at most 75 characters and holding whole
// characters, separated by a fold (CRLF + blank). `firstLineUsed` is the length of what already stands on the
// first line (e.g. "Subject: "), so the first word can be kept within the fold column.
QByteArray encodeWords(const QByteArray& text, int firstLineUsed = 0);

// A header text is one line: control characters (CR, LF, TAB, ...) become blanks.
QByteArray oneLine(const QByteArray& text);

// An unstructured field value (the Subject), made one line: plain printable ASCII without "=?" as it stands
// (folded before blanks), else encoded words.
QByteArray unstructured(const QByteArray& text, int firstLineUsed = 0);

// A display name as an RFC 5322 phrase, made one line: plain atoms as they stand, a quoted string when it holds
// specials such as "," or "[", encoded words for anything else (non-ASCII).
QByteArray phrase(const QByteArray& name, int firstLineUsed = 0);

// A plain addr-spec: dot-atom local part (at most 64 bytes) "@" a host name or an address literal, printable
// ASCII only, no blanks, no comments, no quoting, at most 254 bytes.
bool isPlainAddrSpec(const QByteArray& address);

// "phrase <addr>", or "<addr>" for an empty name, folded before "<" when the line would get too long. The
// address must be a plain addr-spec.
QByteArray mailbox(const QByteArray& name, const QByteArray& address);

// A complete header field "Name: item1,\r\n item2, ..." folding between the items.
QByteArray addressListField(const QByteArray& fieldName, const QList<QByteArray>& mailboxes);

// A parameter such as filename: `param="value"` for plain ASCII, else the RFC 2231 form
// `param*0*=GB18030''%XX..;\r\n param*1*=...` split only between characters.
QByteArray extendedParameter(const QByteArray& param, const QByteArray& value);

// RFC 5322 date of a local date-time with its offset, English names whatever the locale:
// "Wed, 03 Jul 2024 14:05:00 +0800".
QByteArray dateValue(const QDateTime& local);

// "<unique@domain>" with the domain of the sender's address ("localhost" when it has none).
QByteArray messageId(const QByteArray& senderAddress);
// The same for a mail that keeps one identity across its attempts: "<qm.<hex of the id>@domain>".
QByteArray messageId(const QByteArray& senderAddress, const QByteArray& mailId);

} // namespace MailHeaders
