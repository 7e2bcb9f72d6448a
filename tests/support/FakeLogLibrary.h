// SPDX-License-Identifier: MIT
#pragma once

// A scripted event-log library for engine and UI tests, for the cases the real ring cannot produce on demand
// (a failing GetEventWritePos, a short count, each negative InitLogLibrary code, a canned login answer).
//
//     TFakeLogLibrary log;
//     log.WritePos = 4990;
//     log.putEvent(4995, 3, 1, QStringLiteral("1号主变差动保护动作"));
//     log.WritePosOk = false;          // GetEventWritePos fails and leaves pos alone
//     log.ShortCount = 3;              // ReadEvents delivers at most 3 records
//     log.InitResult = -8;             // InitLogLibrary fails with -8
//     log.CountOk = true;              // GetEventWriteState answers WritePos and Written
//     log.WrittenDuringRead = 40;      // writers move WritePos and Written on by 40 while ReadEvents copies
//
// Positions not set with putEvent read as all-zero records. Time conversion is the real library's
// (SecondsFromSystemTime/SystemTimeFromSeconds are pure functions that need no InitLogLibrary), so link
// qorslog2 (qorsmail_engine does).

#include "GbkCodec.h"
#include "mlogcomm2.h"

#include <QByteArray>
#include <QString>
#include <algorithm>
#include <cstring>
#include <map>

class TFakeLogLibrary : public TLogLibrary
{
public:
    // Script
    int32_t InitResult = 0;
    QByteArray WorkDir = "/tmp/qorvane-fake/"; // GBK, trailing '/'
    bool WritePosOk = true;
    int32_t WritePos = 0;
    std::map<int32_t, EventRecord> Events; // ring position 0..4999 -> record
    int32_t ShortCount = -1; // >= 0: ReadEvents leaves at most this count
    bool ReadResult = true; // the success flag ReadEvents reports
    bool CountOk = false; // GetEventWriteState succeeds
    uint64_t Written = 0; // events ever written, advanced by post()
    uint64_t WrittenDuringRead = 0;
    bool VerifyAnswer = false;
    QByteArray VerifyUserName = "admin"; // GBK, copied out when VerifyAnswer is true

    // What was called
    int InitCalls = 0;
    int ExitCalls = 0;
    int ReadCalls = 0;
    int WriteStateCalls = 0;
    int32_t LastReadStart = -1;
    int32_t LastReadCount = -1;
    int VerifyCalls = 0;
    int32_t LastRightCode = 0;
    QString LastCaption;

    static EventRecord makeEvent(int32_t type, int32_t level, const QString& text, uint32_t time = 0, uint32_t msec = 0)
    {
        EventRecord e{};
        e.EventType = type;
        e.EventLevel = level;
        e.EventTime = time;
        e.EventMsec = msec;
        Gbk::storeField(e.EventText, text);
        return e;
    }
    void putEvent(int32_t pos, int32_t type, int32_t level, const QString& text, uint32_t time = 0)
    {
        Events[pos % EventRingSize] = makeEvent(type, level, text, time);
    }
    // Writes at WritePos and advances it, like PostEvent; returns the position written.
    int32_t post(int32_t type, int32_t level, const QString& text, uint32_t time = 0)
    {
        const int32_t pos = WritePos;
        putEvent(pos, type, level, text, time);
        WritePos = (WritePos + 1) % EventRingSize;
        ++Written;
        return pos;
    }

    int32_t InitLogLibrary() override
    {
        ++InitCalls;
        return InitResult;
    }
    void ExitLogLibrary() override { ++ExitCalls; }
    void GetWorkDir(char (&buffer)[128]) override
    {
        std::memset(buffer, 0, sizeof buffer);
        std::memcpy(buffer, WorkDir.constData(), std::min<size_t>(size_t(WorkDir.size()), sizeof buffer - 1));
    }
    QString GetErrorText(int32_t code) override
    {
        const char* text = ::GetErrorText(code);
        return Gbk::decode(text, std::strlen(text));
    }
    bool GetEventWritePos(int32_t& pos) override
    {
        if (!WritePosOk) {
            return false;
        }
        pos = WritePos;
        return true;
    }
    bool ReadEvents(int32_t& endPos, int32_t& startPos, int32_t& count, int32_t ringSize, EventRecord* records) override
    {
        ++ReadCalls;
        LastReadStart = startPos;
        LastReadCount = count;
        if (ringSize != EventRingSize || count < 0 || count > EventRingSize || !records) {
            count = 0;
            return false;
        }
        if (ShortCount >= 0 && count > ShortCount) {
            count = ShortCount;
        }
        endPos = WritePos;
        Written += WrittenDuringRead;
        WritePos = int32_t((uint64_t(WritePos) + WrittenDuringRead) % EventRingSize);
        const int32_t start = ((startPos % EventRingSize) + EventRingSize) % EventRingSize;
        for (int32_t n = 0; n < count; ++n) {
            const auto it = Events.find((start + n) % EventRingSize);
            records[n] = it == Events.end() ? EventRecord{} : it->second;
        }
        return ReadResult;
    }
    bool GetEventWriteState(int32_t& pos, uint64_t& count) override
    {
        ++WriteStateCalls;
        if (!CountOk) {
            return false;
        }
        pos = WritePos;
        count = Written;
        return true;
    }
    uint32_t SecondsFromSystemTime(const SYSTEMTIME& time) override
    {
        QorvaneSystemTime t;
        std::memcpy(&t, &time, sizeof t);
        return ::SecondsFromSystemTime(t);
    }
    SYSTEMTIME SystemTimeFromSeconds(uint32_t seconds) override
    {
        QorvaneSystemTime t{};
        ::SystemTimeFromSeconds(seconds, &t);
        SYSTEMTIME out;
        std::memcpy(&out, &t, sizeof out);
        return out;
    }
    bool VerifyUserDialog(void*, char (&userName)[21], int32_t rightCode, const QString& caption) override
    {
        ++VerifyCalls;
        LastRightCode = rightCode;
        LastCaption = caption;
        std::memset(userName, 0, sizeof userName);
        if (VerifyAnswer) {
            Gbk::storeFieldBytes(userName, VerifyUserName);
        }
        return VerifyAnswer;
    }
};
