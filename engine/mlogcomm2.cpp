// SPDX-License-Identifier: MIT
#include "mlogcomm2.h"

#include "GbkCodec.h"

#include <cstring>

static_assert(offsetof(SYSTEMTIME, wMilliseconds) == offsetof(QorvaneSystemTime, wMilliseconds));
static_assert(offsetof(EventRecord, EventTime) == 4 && offsetof(EventRecord, EventMsec) == 8);
static_assert(offsetof(EventRecord, EventLevel) == 12 && offsetof(EventRecord, EventType) == 16);
static_assert(offsetof(EventRecord, EventText) == 557);

// The login dialog is built into the library separately; a library without it answers "not verified" instead
// of failing to load.
#pragma weak VerifyUserDialog

namespace {

QorvaneSystemTime toLibrary(const SYSTEMTIME& t)
{
    QorvaneSystemTime out;
    std::memcpy(&out, &t, sizeof out);
    return out;
}

SYSTEMTIME fromLibrary(const QorvaneSystemTime& t)
{
    SYSTEMTIME out;
    std::memcpy(&out, &t, sizeof out);
    return out;
}

} // namespace

int32_t TQorsLog2Library::InitLogLibrary()
{
    return ::InitLogLibrary();
}

void TQorsLog2Library::ExitLogLibrary()
{
    ::ExitLogLibrary();
}

void TQorsLog2Library::GetWorkDir(char (&buffer)[128])
{
    std::memset(buffer, 0, sizeof buffer);
    ::GetWorkDir(buffer);
    buffer[sizeof buffer - 1] = '\0';
}

QString TQorsLog2Library::GetErrorText(int32_t code)
{
    const char* text = ::GetErrorText(code);
    return text ? Gbk::decode(text, std::strlen(text)) : QString();
}

bool TQorsLog2Library::GetEventWritePos(int32_t& pos)
{
    return ::GetEventWritePos(&pos) != 0;
}

bool TQorsLog2Library::ReadEvents(
    int32_t& endPos, int32_t& startPos, int32_t& count, int32_t ringSize, EventRecord* records)
{
    return ::ReadEvents(&endPos, &startPos, &count, ringSize, records) != 0;
}

bool TQorsLog2Library::GetEventWriteState(int32_t& pos, uint64_t& count)
{
    return ::GetEventWriteState(&pos, &count) != 0;
}

TRingStatus TQorsLog2Library::GetRingStatus(uint32_t& generation)
{
    generation = 0;
    switch (::GetRingStatus(&generation)) {
    case QORSLOG_RING_OK:
        return TRingStatus::Ok;
    case QORSLOG_RING_HELD:
        return TRingStatus::Held;
    case QORSLOG_RING_DAMAGED:
        return TRingStatus::Damaged;
    case QORSLOG_RING_UNREADABLE:
        return TRingStatus::Unreadable;
    default:
        return TRingStatus::Missing; // also a library not initialised: no ring to read
    }
}

bool TQorsLog2Library::GetPreviousRing(TPreviousRing& ring)
{
    return ::GetPreviousRingState(&ring.Generation, &ring.WritePos, &ring.EventCount) != 0;
}

bool TQorsLog2Library::ReadPreviousEvents(int32_t& startPos, int32_t& count, EventRecord* records)
{
    return ::ReadPreviousEvents(&startPos, &count, EventRingSize, records) != 0;
}

uint64_t TQorsLog2Library::GetRingFirstNewEvent()
{
    return ::GetRingFirstNewEvent();
}

uint32_t TQorsLog2Library::SecondsFromSystemTime(const SYSTEMTIME& time)
{
    return ::SecondsFromSystemTime(toLibrary(time));
}

SYSTEMTIME TQorsLog2Library::SystemTimeFromSeconds(uint32_t seconds)
{
    QorvaneSystemTime t{};
    ::SystemTimeFromSeconds(seconds, &t);
    return fromLibrary(t);
}

bool TQorsLog2Library::VerifyUserDialog(void* owner, char (&userName)[21], int32_t rightCode, const QString& caption)
{
    std::memset(userName, 0, sizeof userName);
    if (&::VerifyUserDialog == nullptr) {
        return false;
    }
    const QByteArray captionGbk = Gbk::encode(caption);
    const bool verified = ::VerifyUserDialog(owner, userName, &rightCode, captionGbk.constData()) != 0;
    userName[sizeof userName - 1] = '\0';
    return verified;
}
