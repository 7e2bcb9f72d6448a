// SPDX-License-Identifier: MIT
#pragma once

// The JSON form of a task file (docs/task-file-json.md), written and read by qorsmail-cfg and written by the
// station's export command: every field of every record, texts in UTF-8, and the bytes the fields do not cover
// (text tails, unused array entries, bytes after the last record) carried along so that
// JSON -> file -> JSON -> file gives the same bytes.

#include "QorsmailDef.h"

#include <QByteArray>
#include <QString>

namespace TaskJson {

// Refusal of a document or a file: the message names the field ("eventTasks[2].title: ...").
struct TError
{
    QString message;
};

// Fills tables (settings, address book, both task tables) from a JSON document, checking every field against
// what its record can hold; trailing receives the bytes to write after the last report record. Throws TError.
void FromJson(const QByteArray& json, TMailTables& tables, QByteArray& trailing);

// The JSON form of loaded tables and the bytes that followed the last record in the file. Throws TError when
// the file holds something the JSON form cannot give back byte for byte (a count beyond its array, a text that
// is not GBK, a value outside its field's range).
QByteArray ToJson(const TMailTables& tables, const QByteArray& trailing);

} // namespace TaskJson
