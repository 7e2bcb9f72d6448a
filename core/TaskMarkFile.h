// SPDX-License-Identifier: MIT
#pragma once

// The station's own small file of pending marks (QorMail.marks in the working directory): one entry per task
// whose state is not idle, so a mail that is waiting or being retried survives a crash or a power loss. The
// file is ours alone; nothing of the suite reads or writes it.
//
// Layout, little-endian: "QORMARKS", u32 version, u32 entry count, the entries, u64 checksum of all bytes
// before it. An entry: u8 kind (0 event, 1 report), i32 table index, 16-byte fingerprint of the task record,
// 16-byte mail identity, u8 title length + title bytes, the 32- or 24-byte state record, and for an event mark
// the first event of its range as the ring held it (u32 time, u32 milliseconds, u16 text length + text) and,
// from version 2 on, the event numbers of its range (u8 1 when known, u64 first, u64 end: events ever written,
// counted from 0), so a resumed mark lists exactly its own events however far the ring has moved on. A version 1
// file is still read; its marks get their numbers from the ring at start-up.

#include "QorsmailDef.h"
#include "TaskKind.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace TaskMarkFile {

inline constexpr char Magic[8] = {'Q', 'O', 'R', 'M', 'A', 'R', 'K', 'S'};
inline constexpr uint32_t Version = 2;
inline constexpr uint32_t FirstVersion = 1; // the oldest version still read
// More entries than a file the station writes can hold; the restart also refuses more marks than tasks.
inline constexpr uint32_t MaxEntries = 1u << 16;

using Kind = TTaskKind;

using Fingerprint = std::array<uint8_t, 16>;
using MailId = std::array<uint8_t, 16>;

// The first event of an event mark's range, to tell later whether the ring still holds it.
struct FirstEvent
{
    uint32_t time = 0;
    uint32_t msec = 0;
    QByteArray text; // GBK, at most 256 bytes, without the NUL
};

struct Entry
{
    Kind kind = Kind::Event;
    int32_t index = 0;
    Fingerprint fingerprint{};
    MailId mailId{};
    QByteArray title; // GBK, at most 127 bytes
    TEventTaskState eventState{}; // kind Event
    TReportTaskState reportState{}; // kind Report
    FirstEvent first; // kind Event
    // kind Event: the event numbers of the first event and of the end of the range, when they are known
    bool numbered = false;
    uint64_t firstNumber = 0;
    uint64_t endNumber = 0;
};

// 128 bits over the bytes (two 64-bit hashes with different seeds): tells a changed task record from an
// unchanged one. Not a defence against someone forging records; the task file is trusted input of the suite.
Fingerprint fingerprintOf(const void* data, size_t size);

template <PlainRecord T>
Fingerprint fingerprintOf(const T& record)
{
    return fingerprintOf(&record, sizeof record);
}

// 64-bit hash of the bytes (the file's checksum).
uint64_t hash64(const void* data, size_t size, uint64_t seed);
// The checksum a file ends with, over all the bytes before it.
uint64_t checksumOf(const void* data, size_t size);

QByteArray encode(const std::vector<Entry>& entries);

// The entries of a whole file, or nothing with `error` saying what was wrong (a short, English diagnostic
// for the log). Every field is checked: lengths within the file and within their fields, kinds, states, ring
// positions, no index twice, no byte after the checksum.
std::optional<std::vector<Entry>> decode(const QByteArray& bytes, QString* error = nullptr);

} // namespace TaskMarkFile
