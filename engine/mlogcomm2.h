// SPDX-License-Identifier: MIT
#pragma once

// The station's binding to the suite's event-log library. Engine code calls the library only through this
// interface, so tests can also run it on a scripted fake where the real ring cannot produce a case.

#include "QorsmailDef.h"
#include "qorslog2.h"

#include <QString>
#include <cstdint>

static_assert(sizeof(EventRecord) == 941);
static_assert(sizeof(QorvaneSystemTime) == sizeof(SYSTEMTIME));

// The ring's condition as the library last found the file at its path.
enum class TRingStatus
{
    Ok,
    Held, // a writer holds it and does not finish (stopped mid-write): reads give up
    Missing, // no ring file
    Damaged, // the file is no sound ring (cut short, wrong size or magic)
    Unreadable, // the file is there but cannot be opened (no permission, I/O error)
};

// The ring file read before the current one, while the library keeps it open (deleted or replaced at the path,
// still whole): the number the library gave it and its write state as its last writer left it.
struct TPreviousRing
{
    uint32_t Generation = 0;
    int32_t WritePos = 0;
    uint64_t EventCount = 0;
};

class TLogLibrary
{
public:
    virtual ~TLogLibrary() = default;

    virtual int32_t InitLogLibrary() = 0;
    virtual void ExitLogLibrary() = 0;
    // Fills the 128-byte buffer with the working directory (GBK, trailing '/').
    virtual void GetWorkDir(char (&buffer)[128]) = 0;
    virtual QString GetErrorText(int32_t code) = 0;
    virtual bool GetEventWritePos(int32_t& pos) = 0;
    virtual bool ReadEvents(
        int32_t& endPos, int32_t& startPos, int32_t& count, int32_t ringSize, EventRecord* records) = 0;
    // The write position together with the count of events ever written (no write between the two). A library
    // that cannot tell answers false, and the trigger works on ring positions alone.
    virtual bool GetEventWriteState(int32_t& pos, uint64_t& count)
    {
        (void)pos;
        (void)count;
        return false;
    }
    // The ring's condition, checked now, and the number of ring files mapped so far (a change: another ring,
    // read from its first slot). A library that cannot tell answers Ok and 0.
    virtual TRingStatus GetRingStatus(uint32_t& generation)
    {
        generation = 0;
        return TRingStatus::Ok;
    }
    // The previous ring, and reading it as ReadEvents reads the current one. A library that keeps none answers
    // false.
    virtual bool GetPreviousRing(TPreviousRing& ring)
    {
        (void)ring;
        return false;
    }
    virtual bool ReadPreviousEvents(int32_t& startPos, int32_t& count, EventRecord* records)
    {
        (void)startPos;
        (void)records;
        count = 0;
        return false;
    }
    // The number of the current ring's first event that the previous ring did not hold (0: every event of the
    // current ring is new; more for a copy of the previous ring put back at the path).
    virtual uint64_t GetRingFirstNewEvent() { return 0; }
    virtual uint32_t SecondsFromSystemTime(const SYSTEMTIME& time) = 0;
    virtual SYSTEMTIME SystemTimeFromSeconds(uint32_t seconds) = 0;
    // The login dialog: true when the user was verified and holds the right; the name (GBK) is in userName.
    virtual bool VerifyUserDialog(void* owner, char (&userName)[21], int32_t rightCode, const QString& caption) = 0;
};

// The binding to libqorslog2.so.
class TQorsLog2Library : public TLogLibrary
{
public:
    int32_t InitLogLibrary() override;
    void ExitLogLibrary() override;
    void GetWorkDir(char (&buffer)[128]) override;
    QString GetErrorText(int32_t code) override;
    bool GetEventWritePos(int32_t& pos) override;
    bool ReadEvents(
        int32_t& endPos, int32_t& startPos, int32_t& count, int32_t ringSize, EventRecord* records) override;
    bool GetEventWriteState(int32_t& pos, uint64_t& count) override;
    TRingStatus GetRingStatus(uint32_t& generation) override;
    bool GetPreviousRing(TPreviousRing& ring) override;
    bool ReadPreviousEvents(int32_t& startPos, int32_t& count, EventRecord* records) override;
    uint64_t GetRingFirstNewEvent() override;
    uint32_t SecondsFromSystemTime(const SYSTEMTIME& time) override;
    SYSTEMTIME SystemTimeFromSeconds(uint32_t seconds) override;
    bool VerifyUserDialog(void* owner, char (&userName)[21], int32_t rightCode, const QString& caption) override;
};
