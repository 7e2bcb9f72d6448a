// SPDX-License-Identifier: MIT
#pragma once

// Pieces shared by the two directions of the JSON form: field paths, the names of numbers, and the record
// builders that the dump also uses to check that what it writes gives back the same bytes.

#include "TaskJson.h"

#include <QJsonValue>
#include <QString>
#include <cstdint>
#include <vector>

namespace TaskJson::Detail {

// Throws TError with "path: what".
[[noreturn]] void refuse(const QString& path, const QString& what);
QString indexPath(const QString& path, qsizetype i);

constexpr int LevelCount = 4;
constexpr int MaxSendType = 4;
// Names by number; a null text for a number that has none.
QString levelName(int level);
QString sendTypeName(int type);
QString eventTypeName(int64_t number);

// Which bytes of a record its fields wrote.
using TMask = std::vector<uint8_t>;

// Build one record from its JSON object, checking every field; mask, when given, receives the bytes written.
void buildSettings(const QJsonValue& v, const QString& path, TSmtpSettings& s, TMask* mask = nullptr);
void buildAddrEntry(const QJsonValue& v, const QString& path, TMailAddr& a, TMask* mask = nullptr);
void buildEventTask(const QJsonValue& v, const QString& path, TEventMailTask& t, TMask* mask = nullptr);
void buildReportTask(const QJsonValue& v, const QString& path, TReportMailTask& t, TMask* mask = nullptr);

} // namespace TaskJson::Detail
