// SPDX-License-Identifier: MIT
// The event step of the trigger tick: which idle tasks a batch of new events marks, and with what.

#include "EventTrigger.h"
#include "FakeLogLibrary.h"
#include "GbkCodec.h"
#include "TempWorkDir.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>
#include <memory>

namespace {

TEventMailTask makeTask(const QByteArray& keywordGbk = {}, int32_t levelMask = -1, std::vector<int16_t> types = {})
{
    TEventMailTask t{};
    t.LevelMask = levelMask;
    t.WaitSec = 60;
    t.TypeCount = int32_t(types.size());
    for (size_t i = 0; i < types.size(); ++i) {
        t.Types[i] = types[i];
    }
    Gbk::storeFieldBytes(t.Keyword, keywordGbk);
    return t;
}

EventRecord makeEvent(int32_t type, int32_t level, const QByteArray& textGbk)
{
    EventRecord e{};
    e.EventType = type;
    e.EventLevel = level;
    Gbk::storeFieldBytes(e.EventText, textGbk);
    return e;
}

QByteArray gbk(const char16_t* text)
{
    return Gbk::encode(QString::fromUtf16(text));
}

int32_t post(int32_t type, int32_t level, const QByteArray& textGbk)
{
    return PostEvent(type, level, textGbk.constData(), nullptr);
}

const SYSTEMTIME TickTime = MakeSystemTime(2026, 3, 14, 9, 26, 53, 589);

// The real library on a fresh working directory, with the trigger started at the write position as the
// station starts it.
class EventStepOnRing : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(m_dir.initResult(), 0);
        m_state = std::make_unique<TTriggerState>();
    }
    void startAtWritePos()
    {
        ASSERT_TRUE(m_log.GetEventWritePos(m_state->ReadPos));
        m_state->WritePos = m_state->ReadPos;
    }
    void tick() { RunEventStep(m_tables, *m_state, m_log, TickTime); }
    TEventTaskState& state(int i) { return m_tables.EventTasks.state(i); }

    TTempWorkDir m_dir;
    TQorsLog2Library m_log;
    TMailTables m_tables;
    std::unique_ptr<TTriggerState> m_state;
};

} // namespace

TEST_F(EventStepOnRing, WrapAroundTheRingGivesAnUnreducedFirstPos)
{
    for (int i = 0; i < 4990; ++i) {
        ASSERT_GE(post(1, 3, "old"), 0);
    }
    startAtWritePos();
    ASSERT_EQ(m_state->ReadPos, 4990);
    m_tables.EventTasks.append(makeTask(gbk(u"跳闸")));
    for (int i = 0; i < 20; ++i) {
        ASSERT_GE(post(1, 3, i == 12 ? gbk(u"2号进线开关跳闸") : QByteArray("routine")), 0);
    }
    tick();
    EXPECT_EQ(m_state->ReadPos, 10);
    EXPECT_EQ(m_state->WritePos, 10);
    const TEventTaskState& s = state(0);
    EXPECT_EQ(s.State, 1);
    EXPECT_EQ(s.FirstPos, 5002);
    EXPECT_EQ(s.EndPos, 10);
    EXPECT_EQ(s.RetryCount, 0);
    EXPECT_EQ(memcmp(&s.TriggerTime, &TickTime, sizeof TickTime), 0);
}

TEST_F(EventStepOnRing, OneEventMarksTwoTasksAndTheFirstOfTwoMatchesCounts)
{
    startAtWritePos();
    m_tables.EventTasks.append(makeTask(gbk(u"差动")));
    m_tables.EventTasks.append(makeTask({}, 2)); // level I only
    m_tables.EventTasks.append(makeTask({}, -1, {7, 8})); // other types only
    m_tables.EventTasks.append(makeTask(gbk(u"瓦斯"))); // never present
    post(5, 2, gbk(u"母线电压越限"));
    post(5, 1, gbk(u"1号主变差动保护动作"));
    post(5, 1, gbk(u"2号主变差动保护动作"));
    tick();
    EXPECT_EQ(state(0).State, 1);
    EXPECT_EQ(state(1).State, 1);
    EXPECT_EQ(state(0).FirstPos, 1);
    EXPECT_EQ(state(1).FirstPos, 1);
    EXPECT_EQ(state(0).EndPos, state(1).EndPos);
    EXPECT_EQ(memcmp(&state(0).TriggerTime, &state(1).TriggerTime, sizeof(SYSTEMTIME)), 0);
    EXPECT_EQ(state(2).State, 0);
    EXPECT_EQ(state(3).State, 0);

    // A mark never moves, and a task being sent is left alone.
    const TEventTaskState before0 = state(0);
    state(1).State = 2;
    const TEventTaskState before1 = state(1);
    post(5, 1, gbk(u"3号主变差动保护动作"));
    post(8, 1, gbk(u"遥控合闸"));
    tick();
    EXPECT_EQ(memcmp(&state(0), &before0, sizeof before0), 0);
    EXPECT_EQ(memcmp(&state(1), &before1, sizeof before1), 0);
    EXPECT_EQ(state(2).State, 1);
    EXPECT_EQ(state(2).FirstPos, 4);
    EXPECT_EQ(state(2).EndPos, 5);
    EXPECT_EQ(m_state->ReadPos, 5);
}

TEST_F(EventStepOnRing, EventsBeforeTheStartNeverMatchUnlessTheStartFailed)
{
    post(1, 1, "CB trip");
    post(1, 1, "CB trip");
    m_tables.EventTasks.append(makeTask("cb"));
    startAtWritePos();
    tick();
    EXPECT_EQ(state(0).State, 0);

    // A station whose GetEventWritePos failed at start-up starts at 0 and reads the ring from there.
    m_state->ReadPos = 0;
    m_state->WritePos = 0;
    tick();
    EXPECT_EQ(state(0).State, 1);
    EXPECT_EQ(state(0).FirstPos, 0);
    EXPECT_EQ(state(0).EndPos, 2);
}

TEST_F(EventStepOnRing, WithoutTasksTheEventsAreStillConsumed)
{
    startAtWritePos();
    post(1, 1, "a");
    post(1, 1, "b");
    tick();
    EXPECT_EQ(m_state->ReadPos, 2);
    m_tables.EventTasks.append(makeTask());
    tick();
    EXPECT_EQ(state(0).State, 0) << "those events can never trigger later";
    post(1, 1, "c");
    tick();
    EXPECT_EQ(state(0).State, 1);
    EXPECT_EQ(state(0).FirstPos, 2);
}

TEST(EventMatchesRules, TypeTest)
{
    const EventRecord e = makeEvent(20, 1, "x");
    EXPECT_TRUE(EventMatches(e, makeTask()));
    EXPECT_TRUE(EventMatches(e, makeTask({}, -1, {1, 20})));
    EXPECT_FALSE(EventMatches(e, makeTask({}, -1, {1, 2})));
    TEventMailTask negative = makeTask({}, -1, {20});
    negative.TypeCount = -3;
    EXPECT_TRUE(EventMatches(e, negative)) << "a count of 0 or less passes every type";
    // Entries beyond TypeCount are not looked at.
    TEventMailTask beyond = makeTask({}, -1, {1, 20});
    beyond.TypeCount = 1;
    EXPECT_FALSE(EventMatches(e, beyond));
    // Each entry is widened with its sign.
    EXPECT_TRUE(EventMatches(makeEvent(-1, 1, "x"), makeTask({}, -1, {-1})));
    EXPECT_FALSE(EventMatches(makeEvent(65535, 1, "x"), makeTask({}, -1, {-1})));
    // A stored count above the array is clamped to its 100 entries.
    TEventMailTask huge = makeTask({}, -1, {});
    huge.TypeCount = 1000000;
    huge.Types[99] = 20;
    EXPECT_TRUE(EventMatches(e, huge));
    huge.Types[99] = 0;
    EXPECT_FALSE(EventMatches(e, huge));
}

TEST(EventMatchesRules, LevelTest)
{
    EXPECT_TRUE(EventMatches(makeEvent(1, 0x8001, "x"), makeTask({}, 2))) << "only the low 15 bits count";
    EXPECT_FALSE(EventMatches(makeEvent(1, 2, "x"), makeTask({}, 2)));
    EXPECT_TRUE(EventMatches(makeEvent(1, 0, "x"), makeTask({}, 1)));
    EXPECT_TRUE(EventMatches(makeEvent(1, 3, "x"), makeTask({}, 8)));
    EXPECT_TRUE(EventMatches(makeEvent(1, 2, "x"), makeTask({}, 4 | 8)));
    EXPECT_FALSE(EventMatches(makeEvent(1, 1, "x"), makeTask({}, 0)));
    EXPECT_FALSE(EventMatches(makeEvent(1, 4, "x"), makeTask({}, 0x7FFFFFFF))) << "level 4 has no bit";
    EXPECT_TRUE(EventMatches(makeEvent(1, 4, "x"), makeTask({}, -1)));
}

TEST(EventMatchesRules, KeywordWalksTheTextByCharacter)
{
    auto contains = [](const QByteArray& text, const QByteArray& keyword) {
        return TextContainsKeyword(text.constData(), size_t(text.size()), keyword.constData(), size_t(keyword.size()));
    };
    EXPECT_TRUE(contains("1#CB TRIP", "cb trip"));
    EXPECT_TRUE(contains("1#cb trip", "CB"));
    EXPECT_TRUE(contains(gbk(u"1号主变CB跳闸"), gbk(u"cb跳闸")));
    EXPECT_TRUE(contains("anything", ""));
    EXPECT_FALSE(contains("", "a"));
    // 中国 is D6D0 B9FA; D0B9 is a character of its own but starts on a trail byte here.
    EXPECT_FALSE(contains("\xD6\xD0\xB9\xFA", "\xD0\xB9"));
    EXPECT_TRUE(contains("x\xD0\xB9", "\xD0\xB9"));
    // A trail byte that looks like an ASCII letter is neither a match start nor folded.
    EXPECT_FALSE(contains("\x81\x41", "A"));
    EXPECT_FALSE(contains("\x81\x41", "a"));
    EXPECT_FALSE(contains("\x81\x41", "\x81\x61"));
    EXPECT_TRUE(contains("\x81\x41", "\x81\x41"));
    // Four-byte characters are skipped whole.
    EXPECT_FALSE(contains("\x81\x30\x82\x31", "\x30\x82"));
    EXPECT_TRUE(contains("a\x81\x30\x82\x31z", "\x81\x30\x82\x31Z"));
    // A keyword longer than the text, and text only up to its length.
    EXPECT_FALSE(contains("ab", "abc"));
    EXPECT_FALSE(TextContainsKeyword("abc", 2, "c", 1));

    // Through EventMatches: the fields up to their NUL, all 256 bytes when there is none.
    EventRecord full = makeEvent(1, 1, {});
    memset(full.EventText, 'q', sizeof full.EventText);
    full.EventText[254] = 'Z';
    full.EventText[255] = 'Y';
    EXPECT_TRUE(EventMatches(full, makeTask("zy")));
}

// Letters with case fold in the whole code page: full-width Latin, Greek, Cyrillic and Roman numerals as well as
// ASCII. The plain test and the batch scan of a tick must both see it.
TEST(EventMatchesRules, KeywordIgnoresCaseOfEveryLetterOfTheCodePage)
{
    const struct
    {
        const char16_t* keyword;
        const char16_t* text;
        bool matches;
    } cases[] = {
        {u"ａ相", u"1号主变Ａ相接地", true},
        {u"Ｂ相", u"ｂ相电流越限", true},
        {u"ⅰ段", u"10kV Ⅰ段母线失压", true},
        {u"Ⅱ段", u"ⅱ段过流", true},
        {u"ΔΩ", u"δω保护", true},
        {u"трип", u"ТРИП 1#", true},
        {u"ё", u"Ё", true},
        {u"cb跳闸", u"CB跳闸", true},
        {u"ａ相", u"A相接地", false}, // full-width and ASCII letters are different letters
        {u"a相", u"ａ相接地", false},
        {u"Ⅰ段", u"I段", false},
        {u"ā", u"Ā", false}, // its upper case is no character of the code page
        {u"中", u"中国", true},
    };
    for (const auto& c : cases) {
        const QByteArray keyword = gbk(c.keyword);
        const QByteArray text = gbk(c.text);
        SCOPED_TRACE(QString::fromUtf16(c.keyword).toStdString() + " in " + QString::fromUtf16(c.text).toStdString());
        EXPECT_EQ(
            TextContainsKeyword(text.constData(), size_t(text.size()), keyword.constData(), size_t(keyword.size())),
            c.matches);

        TFakeLogLibrary log;
        TMailTables tables;
        tables.EventTasks.append(makeTask(keyword));
        log.Events[0] = makeEvent(1, 1, text);
        log.WritePos = 1;
        TTriggerState st;
        RunEventStep(tables, st, log, TickTime);
        EXPECT_EQ(tables.EventTasks.state(0).State, c.matches ? 1 : 0);
    }
    // 0x81 0xA3 is one character; the 0xA3 0xC1 (Ａ) inside 0x81 0xA3 0xC1 0x41 starts on a trail byte.
    EXPECT_FALSE(TextContainsKeyword("\x81\xA3\xC1\x41", 4, "\xA3\xE1", 2));
    EXPECT_TRUE(TextContainsKeyword("\xA3\xC1\x81\x41", 4, "\xA3\xE1", 2));
}

TEST(EventStepScripted, FailingWritePosShortCountsAndOverlongCounts)
{
    TFakeLogLibrary log;
    TMailTables tables;
    tables.EventTasks.append(makeTask());
    TTriggerState st;
    st.ReadPos = 100;
    st.WritePos = 100;

    // GetEventWritePos fails and leaves WritePos as it was: nothing to read.
    log.WritePosOk = false;
    log.WritePos = 200;
    RunEventStep(tables, st, log, TickTime);
    EXPECT_EQ(log.ReadCalls, 0);
    EXPECT_EQ(st.ReadPos, 100);
    EXPECT_EQ(tables.EventTasks.state(0).State, 0);

    // A library that delivers fewer than asked: the tick uses and advances by what it got.
    log.WritePosOk = true;
    log.ShortCount = 3;
    for (int p = 100; p < 200; ++p) {
        log.putEvent(p, 1, p == 104 ? 1 : 3, QStringLiteral("e"));
    }
    tables.EventTasks.task(0).LevelMask = 2;
    RunEventStep(tables, st, log, TickTime);
    EXPECT_EQ(log.LastReadStart, 100);
    EXPECT_EQ(log.LastReadCount, 100);
    EXPECT_EQ(st.ReadPos, 103);
    EXPECT_EQ(tables.EventTasks.state(0).State, 0);
    RunEventStep(tables, st, log, TickTime);
    EXPECT_EQ(st.ReadPos, 106);
    EXPECT_EQ(tables.EventTasks.state(0).State, 1);
    EXPECT_EQ(tables.EventTasks.state(0).FirstPos, 104);
    EXPECT_EQ(tables.EventTasks.state(0).EndPos, 200);

    // More than 4999 events between ticks: whole turns are not seen (the count is modulo 5000).
    TFakeLogLibrary wrapped;
    TTriggerState st2;
    st2.ReadPos = 10;
    st2.WritePos = 10;
    wrapped.WritePos = 9;
    RunEventStep(tables, st2, wrapped, TickTime);
    EXPECT_EQ(wrapped.LastReadCount, 4999);
    EXPECT_EQ(st2.ReadPos, 9);
}

namespace {

// A library that claims to have delivered more than it was asked for.
class TOverclaimingLog : public TFakeLogLibrary
{
public:
    bool ReadEvents(int32_t& endPos, int32_t& startPos, int32_t& count, int32_t ringSize, EventRecord* records) override
    {
        TFakeLogLibrary::ReadEvents(endPos, startPos, count, ringSize, records);
        count = Claim;
        return true;
    }
    int32_t Claim = 0;
};

} // namespace

TEST(EventStepScripted, ACountBeyondWhatWasAskedIsNotTrusted)
{
    for (const int32_t claim : {6, 5001, 1 << 30, -7}) {
        TOverclaimingLog log;
        log.Claim = claim;
        log.WritePos = 5;
        TMailTables tables;
        tables.EventTasks.append(makeTask());
        TTriggerState st;
        RunEventStep(tables, st, log, TickTime);
        EXPECT_EQ(st.ReadPos, 0) << claim;
        EXPECT_EQ(tables.EventTasks.state(0).State, 0) << claim;
    }
}

// The batch scan must give exactly the marks of the plain scan: for each idle task, the first event that
// EventMatches.
TEST(EventStepScripted, BatchScanGivesTheMarksOfThePlainScan)
{
    const QByteArray pieces[] = {"a",
        "B",
        "cb",
        "CB",
        "\xD6\xD0",
        "\xB9\xFA",
        "\xD0\xB9",
        "\x81\x41",
        "\x81\x61",
        "A",
        " ",
        "\x81\x30\x82\x31",
        gbk(u"跳闸"),
        gbk(u"主变"),
        gbk(u"Ａ"),
        gbk(u"ａ"),
        gbk(u"Ⅰ"),
        gbk(u"ⅰ"),
        gbk(u"Ω"),
        gbk(u"ω"),
        "\x81\xA3",
        "\xC1"};
    QRandomGenerator rng(7);
    auto randomText = [&](int maxPieces) {
        QByteArray t;
        const int n = rng.bounded(0, maxPieces + 1);
        for (int i = 0; i < n; ++i) {
            t += pieces[rng.bounded(int(std::size(pieces)))];
        }
        return t;
    };
    for (int round = 0; round < 200; ++round) {
        TFakeLogLibrary log;
        TMailTables tables;
        const int taskCount = rng.bounded(1, 12);
        for (int i = 0; i < taskCount; ++i) {
            QByteArray keyword = randomText(3);
            if (rng.bounded(4) == 0 && keyword.size() > 1) {
                keyword = keyword.mid(1); // may start on a trail byte
            }
            const int32_t mask = rng.bounded(3) == 0 ? -1 : int32_t(rng.bounded(16));
            std::vector<int16_t> types;
            if (rng.bounded(2) == 0) {
                types = {int16_t(rng.bounded(1, 4))};
            }
            tables.EventTasks.append(makeTask(keyword, mask, types));
            if (rng.bounded(5) == 0) {
                tables.EventTasks.state(i).State = 1 + rng.bounded(2);
            }
        }
        const int eventCount = rng.bounded(1, 40);
        std::vector<EventRecord> events;
        for (int n = 0; n < eventCount; ++n) {
            events.push_back(makeEvent(rng.bounded(1, 4), rng.bounded(0, 5), randomText(8)));
            log.Events[n] = events.back();
        }
        log.WritePos = eventCount;
        TTriggerState st;
        const TMailTables before = tables;
        RunEventStep(tables, st, log, TickTime);
        for (int i = 0; i < taskCount; ++i) {
            int expected = -1;
            if (before.EventTasks.state(i).State == 0) {
                for (int n = 0; n < eventCount && expected < 0; ++n) {
                    if (EventMatches(events[size_t(n)], before.EventTasks.task(i))) {
                        expected = n;
                    }
                }
            }
            const TEventTaskState& s = tables.EventTasks.state(i);
            if (expected < 0) {
                ASSERT_EQ(memcmp(&s, &before.EventTasks.state(i), sizeof s), 0) << round << " task " << i;
            } else {
                ASSERT_EQ(s.State, 1) << round << " task " << i;
                ASSERT_EQ(s.FirstPos, expected) << round << " task " << i;
            }
        }
    }
}

// ---- the running count: overruns and events overwritten while a batch is copied ----

namespace {

// A scripted ring that tells its count, filled with events numbered in their text ("e<number>").
struct TCountedRing
{
    TFakeLogLibrary log;
    TCountedRing(uint64_t readCount, int32_t readPos, TTriggerState& st)
    {
        log.CountOk = true;
        log.Written = readCount;
        log.WritePos = readPos;
        st.ReadPos = readPos;
        st.WritePos = readPos;
        st.ReadCount = readCount;
        st.CountKnown = true;
    }
    void post(uint64_t n, uint64_t match)
    {
        for (uint64_t k = 0; k < n; ++k) {
            const uint64_t number = log.Written;
            log.post(
                1, 1, number == match ? QStringLiteral("match e%1").arg(number) : QStringLiteral("e%1").arg(number));
        }
    }
};

} // namespace

TEST(EventStepCounted, OverrunsAreCountedAndTheRingStillHeldIsExamined)
{
    struct Case
    {
        const char* name;
        uint64_t readCount;
        int32_t readPos;
        uint64_t posted;
        int64_t match; // offset of the matching event among the posted ones, -1 for none
        uint64_t duringRead;
        uint64_t lost;
        int32_t examined;
        bool marked;
    };
    const Case cases[] = {
        {"a few", 100, 100, 20, 12, 0, 0, 20, true},
        {"exactly one ring", 100, 100, 5000, 0, 0, 0, 5000, true},
        {"wrapped start", 4990, 4990, 20, 12, 0, 0, 20, true},
        {"7000, match among the newest", 30000, 0, 7000, 2000, 0, 2000, 5000, true},
        {"7000, match among the oldest", 30000, 0, 7000, 1999, 0, 2000, 5000, false},
        {"12000, match in the last one", 0, 0, 12000, 11999, 0, 7000, 5000, true},
        {"copied while 40 more arrive", 100, 100, 5000, 39, 40, 40, 4960, false},
        {"copied while 40 more arrive, later match", 100, 100, 5000, 40, 40, 40, 4960, true},
        {"quiet", 100, 100, 0, -1, 0, 0, 0, false},
    };
    for (const Case& c : cases) {
        TTriggerState st;
        TCountedRing ring(c.readCount, c.readPos, st);
        TMailTables tables;
        tables.EventTasks.append(makeTask("match"));
        const uint64_t matchNumber = c.match < 0 ? UINT64_MAX : c.readCount + uint64_t(c.match);
        ring.post(c.posted, matchNumber);
        ring.log.WrittenDuringRead = c.duringRead;
        const TEventStepResult r = RunEventStep(tables, st, ring.log, TickTime);
        EXPECT_EQ(r.Fresh, c.posted) << c.name;
        EXPECT_EQ(r.Lost, c.lost) << c.name;
        EXPECT_EQ(r.Examined, c.examined) << c.name;
        EXPECT_EQ(st.ReadCount, c.readCount + c.posted) << c.name;
        EXPECT_EQ(st.ReadPos, int32_t((uint64_t(c.readPos) + c.posted) % 5000)) << c.name;
        const TEventTaskState& s = tables.EventTasks.state(0);
        ASSERT_EQ(s.State, c.marked ? 1 : 0) << c.name;
        if (!c.marked) {
            EXPECT_EQ(st.Spans.size(), 0u) << c.name;
            continue;
        }
        // The position of the match, not reduced, and its number in the span.
        const int32_t matchPos = int32_t((uint64_t(c.readPos) + uint64_t(c.match)) % 5000);
        EXPECT_EQ(s.FirstPos % 5000, matchPos) << c.name;
        EXPECT_LE(s.FirstPos, 9998) << c.name;
        EXPECT_EQ(s.EndPos, ring.log.WritePos) << c.name;
        const TMarkSpan* span = st.Spans.find(tables.EventTasks.serial(0));
        ASSERT_NE(span, nullptr) << c.name;
        EXPECT_EQ(span->First, matchNumber) << c.name;
        EXPECT_EQ(span->End, ring.log.Written) << c.name;
    }
}

TEST(EventStepCounted, TheFirstCountSeenStartsFromThePositionsAndABackwardCountRestarts)
{
    TFakeLogLibrary log;
    TMailTables tables;
    tables.EventTasks.append(makeTask());
    TTriggerState st;
    st.ReadPos = 10;
    st.WritePos = 10;
    log.WritePos = 10;
    log.CountOk = true;
    log.Written = 80010; // the station started without the count
    for (int i = 0; i < 5; ++i) {
        log.post(1, 1, QStringLiteral("e"));
    }
    TEventStepResult r = RunEventStep(tables, st, log, TickTime);
    EXPECT_EQ(r.Fresh, 5u);
    EXPECT_EQ(r.Lost, 0u);
    EXPECT_EQ(tables.EventTasks.state(0).FirstPos, 10);
    EXPECT_EQ(st.ReadCount, 80015u);

    // A new ring: the count starts again below what was read.
    tables.EventTasks.state(0) = {};
    log.Written = 3;
    log.WritePos = 18;
    r = RunEventStep(tables, st, log, TickTime);
    EXPECT_EQ(r.Fresh, 3u);
    EXPECT_EQ(r.Lost, 0u);
    EXPECT_EQ(tables.EventTasks.state(0).FirstPos, 15);
    EXPECT_EQ(st.ReadCount, 3u);
}

TEST_F(EventStepOnRing, SevenThousandInOneBurstAreAnOverrunThatStillFindsTheNewest)
{
    for (const int matchAt : {2000, 6999, 1999, 0}) {
        TMailTables tables;
        tables.EventTasks.append(makeTask(gbk(u"差动")));
        uint64_t before = 0;
        int32_t pos = 0;
        ASSERT_TRUE(m_log.GetEventWriteState(pos, before));
        StartEventTrigger(*m_state, m_log);
        for (int i = 0; i < 7000; ++i) {
            ASSERT_GE(post(1, 1, i == matchAt ? gbk(u"1号主变差动保护动作") : QByteArray("routine")), 0);
        }
        const TEventStepResult r = RunEventStep(tables, *m_state, m_log, TickTime);
        EXPECT_EQ(r.Fresh, 7000u) << matchAt;
        EXPECT_EQ(r.Lost, 2000u) << matchAt;
        EXPECT_EQ(r.Examined, 5000) << matchAt;
        const TEventTaskState& s = tables.EventTasks.state(0);
        if (matchAt < 2000) {
            EXPECT_EQ(s.State, 0) << matchAt << ": gone for good";
            continue;
        }
        ASSERT_EQ(s.State, 1) << matchAt;
        EXPECT_EQ(s.FirstPos % 5000, int32_t((uint64_t(pos) + uint64_t(matchAt)) % 5000)) << matchAt;
        const TMarkSpan* span = m_state->Spans.find(tables.EventTasks.serial(0));
        ASSERT_NE(span, nullptr);
        EXPECT_EQ(span->First, before + uint64_t(matchAt));
        EXPECT_EQ(span->End, before + 7000);
    }
}
