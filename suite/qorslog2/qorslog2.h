// SPDX-License-Identifier: MIT
/*
 * libqorslog2: the QORVANE suite's event-log library on Linux.
 *
 * The event ring holds 5000 events in one file, EventLog/events.ring in the suite's working directory, shared
 * by every process of the suite: writers append under an exclusive lock and publish the new write position only
 * once the record is complete; readers never block. The file gives the members of its folder's group read and
 * write access and nobody else any.
 *
 * Working directory: $QORVANE_WORKDIR when set, else $HOME/.local/share/qorvane/; always with a trailing '/'.
 * Texts (event texts, the working directory, error texts) are GBK (code page 936) bytes unless said otherwise.
 * Every entry may be called from one thread at a time per process.
 */
#ifndef QORSLOG2_H
#define QORSLOG2_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The library is built with hidden symbols; everything declared here is its public interface. */
#pragma GCC visibility push(default)

#define QORSLOG_RING_SIZE 5000
#define QORSLOG_RECORD_SIZE 941

#pragma pack(push, 1)

/* Local date and time: year, month, day of week, day, hour, minute, second, milliseconds. */
typedef struct QorvaneSystemTime
{
    uint16_t wYear;
    uint16_t wMonth;
    uint16_t wDayOfWeek;
    uint16_t wDay;
    uint16_t wHour;
    uint16_t wMinute;
    uint16_t wSecond;
    uint16_t wMilliseconds;
} QorvaneSystemTime;

/* One event as the ring stores and delivers it: 941 bytes. */
typedef struct EventRecord
{
    uint8_t Reserved0[4];
    uint32_t EventTime; /* seconds, the scale of SecondsFromSystemTime */
    uint32_t EventMsec; /* milliseconds part */
    int32_t EventLevel; /* low 15 bits: 0 other, 1 level I (accident), 2 level II (fault), 3 level III */
    int32_t EventType; /* event type number */
    uint8_t Reserved1[537];
    char EventText[256]; /* GBK, NUL-terminated or filling all 256 bytes */
    uint8_t Reserved2[128];
} EventRecord;

#pragma pack(pop)

/* Result codes. Every negative code has a text from GetErrorText. */
#define QORSLOG_OK 0
#define QORSLOG_ERR_WORKDIR (-1) /* working directory missing, too long or not writable */
#define QORSLOG_ERR_RING_IO (-5) /* the ring file cannot be opened, read or mapped */
#define QORSLOG_ERR_RING_FORMAT (-8) /* the ring file has the wrong size or magic; it is left untouched */
#define QORSLOG_ERR_NOT_INIT (-9) /* a call that needs InitLogLibrary came first */
#define QORSLOG_ERR_RIGHTS (-10) /* the rights store cannot be used */
#define QORSLOG_ERR_LOGIN (-12) /* the back-end machine is not logged in */
#define QORSLOG_ERR_NETWORK (-13) /* network down or back end not running */
#define QORSLOG_ERR_ARGUMENT (-14) /* a bad argument (level, type, text) */
#define QORSLOG_ERR_RING_BUSY (-15) /* another process held the ring's lock for longer than a writer waits */

/* Opens the working directory (creating it and its CfgCache/, Debug/ and EventLog/ folders when missing) and
 * the ring (creating it when missing). 0 on success, a negative code otherwise (the working directory cannot be
 * used). A ring file that cannot be used (damaged, cut short, not readable) does not fail the call: it is left as
 * it is, GetRingStatus tells its condition, and the entries take the ring once a sound one is at the path.
 * A second call is harmless. */
int32_t InitLogLibrary(void);
/* Releases the ring. */
void ExitLogLibrary(void);

/* Fills buffer (128 bytes) with the working directory, NUL-terminated, trailing '/'. Empty when unknown. */
void GetWorkDir(char* buffer);
/* Chinese (GBK) text for a result code; never NULL. */
const char* GetErrorText(int32_t code);
/* UTF-8 text for a result code, for tools and logs; never NULL. */
const char* GetErrorTextUtf8(int32_t code);

/* Writes the ring's write position (0..4999) into *pos. Non-zero on success (zero when no ring is usable). */
uint8_t GetEventWritePos(int32_t* pos);
/* Copies *count records starting at *startPos modulo 5000 (callers pass 0..9998), wrapping at the end of the
 * ring, into records. ringSize must be 5000 and *count 0..5000; on a bad argument, with no usable ring, or when
 * a writer holds a record past the read budget (GetRingStatus then tells QORSLOG_RING_HELD), *count becomes 0
 * and the result is 0. *endPos receives the current write position. Non-zero when the records were delivered. */
uint8_t ReadEvents(int32_t* endPos, int32_t* startPos, int32_t* count, int32_t ringSize, EventRecord* records);
/* Number of events ever written to the ring (not reduced modulo 5000), 0 before InitLogLibrary or when no ring
 * is usable. */
uint64_t GetEventCount(void);
/* The write position (0..4999) and the number of events ever written, taken together: no write falls between
 * the two, so for k = 1 .. min(5000, *count) the event at position (*pos - k) modulo 5000 is the one written
 * as number *count - k, counting from 0. A record read before this call holds an event numbered *count - 5000
 * or later. Non-zero on success; on failure (no usable ring, or a writer holds the header past the read budget)
 * neither is written. */
uint8_t GetEventWriteState(int32_t* pos, uint64_t* count);

/* The ring's condition, as the file at its path is now. Every entry that reads or writes the ring checks it
 * first and leaves a file that was cut shorter, deleted or replaced: it opens the file at the path in its place
 * when that is a sound ring (a new ring counts its events from 0 again), and otherwise fails until one is there.
 * Every touch of the mapped file is guarded (or a pread), so a file cut shorter in the middle of a call makes the
 * call fail instead of raising SIGBUS; the library installs a SIGBUS handler for that, which passes every other
 * SIGBUS on to the handler that was there before. *generation (may be NULL) receives the number of ring files
 * opened since InitLogLibrary, 1 for the first (0 while none could be): a change tells a reader that it now
 * reads another ring, from its first slot or from GetRingFirstNewEvent. */
#define QORSLOG_RING_OK 0
#define QORSLOG_RING_HELD 1 /* the last read gave up on a writer that holds the ring (stopped mid-write) */
#define QORSLOG_RING_MISSING 2 /* no ring file at the path */
#define QORSLOG_RING_DAMAGED 3 /* the file at the path is no sound ring (cut short, wrong size or magic) */
#define QORSLOG_RING_UNREADABLE 4 /* the file at the path cannot be opened (no permission, I/O error) */
/* One of the QORSLOG_RING_ values, or QORSLOG_ERR_NOT_INIT. */
int32_t GetRingStatus(uint32_t* generation);

/* When the ring file that was read is deleted or replaced at the path, its file stays open as the previous ring
 * (unless it was cut shorter) until another ring replaces the current one or ExitLogLibrary, so a reader can
 * still read the events it had not read yet. GetPreviousRingState gives the generation the previous ring had
 * and its write position and count as the last writer left them; zero when there is no previous ring.
 * ReadPreviousEvents reads it as ReadEvents reads the current ring (ringSize 5000). */
uint8_t GetPreviousRingState(uint32_t* generation, int32_t* pos, uint64_t* count);
uint8_t ReadPreviousEvents(int32_t* startPos, int32_t* count, int32_t ringSize, EventRecord* records);
/* The number of the current ring's first event that the previous ring did not hold: 0 for another ring; for a
 * copy of the previous ring put back at the path (same identity, another file) the first event that differs
 * from the previous ring's event of the same number, so a reader never takes the copy's old events as new. */
uint64_t GetRingFirstNewEvent(void);
/* After PostEvent returned QORSLOG_ERR_RING_BUSY: the process that /proc/locks named as holding the ring's
 * lock, 0 when it named none. */
int32_t GetRingLockHolder(void);

/* Appends one event. type is any event type number, level 0..0x7FFF, textGbk a NUL-terminated GBK text (cut at a
 * character boundary to 255 bytes). time may be NULL for now; its wMilliseconds gives the milliseconds part.
 * Waits about a second at most for the ring's lock (QORSLOG_ERR_RING_BUSY after that), and after taking it
 * checks that the file is still the one at the path, so an event never goes into a deleted ring.
 * Returns the ring position written (0..4999) or a negative code. */
int32_t PostEvent(int32_t type, int32_t level, const char* textGbk, const QorvaneSystemTime* time);

/* Seconds of a calendar time (year >= 1970, month 1..12, day 1..31) since 1970-01-01 00:00:00 on the same wall
 * clock; any other value is a length: years x 365 days + months x 30 days + days, hours, minutes, seconds. */
uint32_t SecondsFromSystemTime(QorvaneSystemTime time);
/* The calendar time of a second count (day of week filled, milliseconds 0). */
void SystemTimeFromSeconds(uint32_t seconds, QorvaneSystemTime* time);

/* Shows the suite's login dialog (owner: a QWidget* or NULL). On success copies the user name (GBK, at most 20
 * bytes, NUL-terminated) into userName (21 bytes) and returns non-zero when the user holds *rightCode. */
int32_t VerifyUserDialog(void* owner, char* userName, int32_t* rightCode, const char* captionGbk);

#pragma GCC visibility pop

#ifdef __cplusplus
}
#endif

#endif
