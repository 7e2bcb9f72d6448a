// SPDX-License-Identifier: MIT
#include "TaskMarkFile.h"

#include <cstring>
#include <set>
#include <utility>

namespace TaskMarkFile {

namespace {

// xxHash64: fast, with good mixing, so a fingerprint costs about a microsecond for a whole task record.
constexpr uint64_t P1 = 0x9E3779B185EBCA87ull;
constexpr uint64_t P2 = 0xC2B2AE3D27D4EB4Full;
constexpr uint64_t P3 = 0x165667B19E3779F9ull;
constexpr uint64_t P4 = 0x85EBCA77C2B2AE63ull;
constexpr uint64_t P5 = 0x27D4EB2F165667C5ull;

uint64_t rotl(uint64_t x, int r)
{
    return (x << r) | (x >> (64 - r));
}

uint64_t load64(const uint8_t* p)
{
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

uint32_t load32(const uint8_t* p)
{
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

uint64_t round64(uint64_t acc, uint64_t input)
{
    acc += input * P2;
    acc = rotl(acc, 31);
    return acc * P1;
}

uint64_t merge64(uint64_t acc, uint64_t value)
{
    acc ^= round64(0, value);
    return acc * P1 + P4;
}

} // namespace

uint64_t hash64(const void* data, size_t size, uint64_t seed)
{
    const auto* p = static_cast<const uint8_t*>(data);
    const uint8_t* const end = p + size;
    uint64_t h;
    if (size >= 32) {
        uint64_t v1 = seed + P1 + P2;
        uint64_t v2 = seed + P2;
        uint64_t v3 = seed;
        uint64_t v4 = seed - P1;
        for (; end - p >= 32; p += 32) {
            v1 = round64(v1, load64(p));
            v2 = round64(v2, load64(p + 8));
            v3 = round64(v3, load64(p + 16));
            v4 = round64(v4, load64(p + 24));
        }
        h = rotl(v1, 1) + rotl(v2, 7) + rotl(v3, 12) + rotl(v4, 18);
        h = merge64(merge64(merge64(merge64(h, v1), v2), v3), v4);
    } else {
        h = seed + P5;
    }
    h += static_cast<uint64_t>(size);
    for (; end - p >= 8; p += 8) {
        h ^= round64(0, load64(p));
        h = rotl(h, 27) * P1 + P4;
    }
    if (end - p >= 4) {
        h ^= static_cast<uint64_t>(load32(p)) * P1;
        h = rotl(h, 23) * P2 + P3;
        p += 4;
    }
    for (; p < end; ++p) {
        h ^= static_cast<uint64_t>(*p) * P5;
        h = rotl(h, 11) * P1;
    }
    h ^= h >> 33;
    h *= P2;
    h ^= h >> 29;
    h *= P3;
    h ^= h >> 32;
    return h;
}

Fingerprint fingerprintOf(const void* data, size_t size)
{
    const uint64_t a = hash64(data, size, 0x716F726D61726B31ull);
    const uint64_t b = hash64(data, size, 0x5441534B46505232ull);
    Fingerprint f;
    std::memcpy(f.data(), &a, 8);
    std::memcpy(f.data() + 8, &b, 8);
    return f;
}

uint64_t checksumOf(const void* data, size_t size)
{
    return hash64(data, size, 0x514D41524B53554Dull);
}

namespace {

class TWriter
{
public:
    void bytes(const void* data, size_t n) { m_out.append(static_cast<const char*>(data), static_cast<qsizetype>(n)); }
    template <class T>
    void value(T v)
    {
        bytes(&v, sizeof v);
    }
    QByteArray& out() { return m_out; }

private:
    QByteArray m_out;
};

// Reads typed values from a byte block; every read checks that the bytes are there, and the first failure
// sticks, so a caller can read a whole entry and test once.
class TReader
{
public:
    TReader(const char* data, size_t size)
        : m_p(reinterpret_cast<const uint8_t*>(data))
        , m_left(size)
    {
    }
    bool ok() const { return m_ok; }
    size_t left() const { return m_left; }

    bool bytes(void* out, size_t n)
    {
        if (!m_ok || n > m_left) {
            m_ok = false;
            return false;
        }
        std::memcpy(out, m_p, n);
        m_p += n;
        m_left -= n;
        return true;
    }
    template <class T>
    bool value(T& v)
    {
        static_assert(std::is_trivially_copyable_v<T>);
        return bytes(&v, sizeof v);
    }
    // A length-prefixed text of at most `limit` bytes.
    template <class Length>
    bool text(QByteArray& out, size_t limit)
    {
        Length n = 0;
        if (!value(n) || n > limit || n > m_left) {
            m_ok = false;
            return false;
        }
        out = QByteArray(reinterpret_cast<const char*>(m_p), static_cast<qsizetype>(n));
        m_p += n;
        m_left -= n;
        return true;
    }

private:
    const uint8_t* m_p;
    size_t m_left;
    bool m_ok = true;
};

bool validTime(const SYSTEMTIME& t)
{
    return t.wYear >= 1970 && t.wMonth >= 1 && t.wMonth <= 12 && t.wDay >= 1 && t.wDay <= 31 && t.wHour < 24
        && t.wMinute < 60 && t.wSecond < 60 && t.wMilliseconds < 1000;
}

// What a mark of the dispatch loop can hold: anything else did not come from the station.
const char* checkEntry(const Entry& e)
{
    if (e.index < 0) {
        return "negative task index";
    }
    if (e.kind == Kind::Event) {
        const TEventTaskState& s = e.eventState;
        if (s.State != 1 && s.State != 2) {
            return "event mark with a state other than 1 or 2";
        }
        if (s.FirstPos < 0 || s.FirstPos > 2 * EventRingSize - 2 || s.EndPos < 0 || s.EndPos >= EventRingSize) {
            return "ring position out of range";
        }
        if (s.RetryCount < 0 || !validTime(s.TriggerTime)) {
            return "bad retry count or trigger time";
        }
    } else {
        const TReportTaskState& s = e.reportState;
        if (s.State != 1 || s.RetryCount < 0 || !validTime(s.DueTime)) {
            return "bad report mark";
        }
    }
    return nullptr;
}

} // namespace

QByteArray encode(const std::vector<Entry>& entries)
{
    TWriter w;
    w.bytes(Magic, sizeof Magic);
    w.value<uint32_t>(Version);
    w.value<uint32_t>(static_cast<uint32_t>(entries.size()));
    for (const Entry& e : entries) {
        w.value<uint8_t>(static_cast<uint8_t>(e.kind));
        w.value<int32_t>(e.index);
        w.bytes(e.fingerprint.data(), e.fingerprint.size());
        w.bytes(e.mailId.data(), e.mailId.size());
        const QByteArray title = e.title.left(127);
        w.value<uint8_t>(static_cast<uint8_t>(title.size()));
        w.bytes(title.constData(), static_cast<size_t>(title.size()));
        if (e.kind == Kind::Event) {
            w.value(e.eventState);
            w.value<uint32_t>(e.first.time);
            w.value<uint32_t>(e.first.msec);
            const QByteArray text = e.first.text.left(256);
            w.value<uint16_t>(static_cast<uint16_t>(text.size()));
            w.bytes(text.constData(), static_cast<size_t>(text.size()));
            w.value<uint8_t>(e.numbered ? 1 : 0);
            w.value<uint64_t>(e.numbered ? e.firstNumber : 0);
            w.value<uint64_t>(e.numbered ? e.endNumber : 0);
        } else {
            w.value(e.reportState);
        }
    }
    const uint64_t sum = checksumOf(w.out().constData(), static_cast<size_t>(w.out().size()));
    w.value<uint64_t>(sum);
    return std::move(w.out());
}

std::optional<std::vector<Entry>> decode(const QByteArray& bytes, QString* error)
{
    auto fail = [error](const char* why) -> std::optional<std::vector<Entry>> {
        if (error != nullptr) {
            *error = QString::fromLatin1(why);
        }
        return std::nullopt;
    };
    constexpr size_t HeaderSize = sizeof Magic + 8;
    const auto size = static_cast<size_t>(bytes.size());
    if (size < HeaderSize + sizeof(uint64_t)) {
        return fail("file too short");
    }
    if (std::memcmp(bytes.constData(), Magic, sizeof Magic) != 0) {
        return fail("not a mark file");
    }
    // The checksum first: a file cut short or overwritten anywhere is refused before any entry is believed.
    const size_t body = size - sizeof(uint64_t);
    uint64_t stored = 0;
    std::memcpy(&stored, bytes.constData() + body, sizeof stored);
    if (checksumOf(bytes.constData(), body) != stored) {
        return fail("checksum mismatch");
    }

    TReader r(bytes.constData() + sizeof Magic, body - sizeof Magic);
    uint32_t version = 0;
    uint32_t count = 0;
    r.value(version);
    r.value(count);
    if (version < FirstVersion || version > Version) {
        return fail("unknown version");
    }
    if (count > MaxEntries) {
        return fail("too many entries");
    }
    std::vector<Entry> entries;
    std::set<std::pair<uint8_t, int32_t>> seen;
    for (uint32_t n = 0; n < count; ++n) {
        Entry e;
        uint8_t kind = 0;
        r.value(kind);
        r.value(e.index);
        r.bytes(e.fingerprint.data(), e.fingerprint.size());
        r.bytes(e.mailId.data(), e.mailId.size());
        r.text<uint8_t>(e.title, 127);
        if (!r.ok()) {
            return fail("entry cut short");
        }
        if (kind > 1) {
            return fail("unknown task kind");
        }
        e.kind = static_cast<Kind>(kind);
        if (e.kind == Kind::Event) {
            r.value(e.eventState);
            r.value(e.first.time);
            r.value(e.first.msec);
            r.text<uint16_t>(e.first.text, 256);
            if (version >= 2) {
                uint8_t numbered = 0;
                r.value(numbered);
                r.value(e.firstNumber);
                r.value(e.endNumber);
                // Numbers of an entry without them are written as zeros: anything else is no file of ours.
                const bool unnumberedWithNumbers = numbered == 0 && (e.firstNumber != 0 || e.endNumber != 0);
                if (r.ok()
                    && (numbered > 1 || (numbered == 1 && e.endNumber < e.firstNumber) || unnumberedWithNumbers)) {
                    return fail("bad event numbers");
                }
                e.numbered = numbered == 1;
            }
        } else {
            r.value(e.reportState);
        }
        if (!r.ok()) {
            return fail("entry cut short");
        }
        if (const char* why = checkEntry(e)) {
            return fail(why);
        }
        if (!seen.insert({kind, e.index}).second) {
            return fail("a task marked twice");
        }
        entries.push_back(std::move(e));
    }
    if (r.left() != 0) {
        return fail("bytes after the last entry");
    }
    return entries;
}

} // namespace TaskMarkFile
