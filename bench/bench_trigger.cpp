// SPDX-License-Identifier: MIT
// The worst trigger tick: 4999 new events and 100 idle event tasks, each with its own 2-to-4-character Chinese
// keyword that no event holds, and types and levels that pass, so every task has to look at every event; and
// the worst tick of a storm, a whole ring read after an overrun.
// BM_WorstTickWithLetters is the same with letters that fold: the texts name full-width phases and Roman-numeral
// sections (Ａ相, Ⅰ段) and every keyword starts with one in the other case (ａ相, ⅰ段), so the start keys of many
// rules hit and the keyword is compared before it fails.
// Beside it: reading the batch alone, copying the 4999 texts once (the floor), and the plain scan of
// EventMatches over every task and event. The same worst tick through the engine with the mark file in use,
// a tick that marks all 100 tasks (each mark kept for the file), and one write of that file. A tick that marks
// 2000 tasks at once, with the window's status display following it: all the main thread does for it, the
// coalesced refresh included (target: one frame, 16 ms, and the mark file handed to its writer once).
// BM_WatchReadingOneEvent2000Tasks: the watch that finds one new event with 2000 idle tasks, which a quiet ring
// now costs for every event it gets (the watch reads at once, no longer on the 5-second tick only).

#include "CoreTestApp.h"
#include "EventTrigger.h"
#include "GbkCodec.h"
#include "QorsmailMain.h"
#include "TaskMarkStore.h"
#include "TaskStatusDisplay.h"
#include "TempWorkDir.h"

#include <QStringList>
#include <benchmark/benchmark.h>
#include <cstring>
#include <memory>

namespace {

constexpr int BatchSize = 4999;
constexpr int TaskCount = 100;
constexpr int RingEvents = 12000;

const char16_t* const Devices[] = {
    u"1号主变", u"2号主变", u"10kV I段母线", u"35kV 进线一", u"1#电容器组", u"3#馈线", u"站用变", u"直流屏"};
const char16_t* const Happenings[] = {u"电流越上限动作，当前值 %1 A",
    u"断路器跳闸",
    u"保护装置自检正常",
    u"遥控分闸执行成功",
    u"通信中断",
    u"差动保护动作，差流 %1 A",
    u"电压恢复正常（上位机判定），%1 kV",
    u"定值区切换至 %1 区"};
const char16_t KeywordChars[] = u"甲乙丙丁戊己庚辛壬癸子丑寅卯辰巳午未申酉戌亥春夏秋冬东南西北金木水火土";

const char16_t* const LetterDevices[] = {u"1号主变Ａ相",
    u"2号主变Ｂ相",
    u"10kV Ⅰ段母线",
    u"35kV Ⅱ段进线",
    u"1#电容器组Ｃ相",
    u"3#馈线",
    u"站用变",
    u"直流屏"};
const char16_t* const LetterPrefixes[] = {u"ａ相", u"ｂ相", u"ｃ相", u"ⅰ段", u"ⅱ段"};

QString eventText(int i, bool letters)
{
    QString what = QString::fromUtf16(Happenings[i % 8]);
    what.replace(QLatin1String("%1"), QString::number(i * 37 % 1000));
    return QString::fromUtf16((letters ? LetterDevices : Devices)[i / 8 % 8]) + QLatin1Char(' ') + what;
}

struct TWorstTick
{
    bool letters;
    TTempWorkDir dir;
    TQorsLog2Library log;
    TMailTables tables;
    std::unique_ptr<TTriggerState> state = std::make_unique<TTriggerState>();

    explicit TWorstTick(bool withLetters)
        : letters(withLetters)
    {
        // More than two turns of the ring, so a storm's 7000 are there to be counted too.
        for (int i = 0; i < RingEvents; ++i) {
            PostEvent(1 + i % 16, i % 4, Gbk::encode(eventText(i, letters)).constData(), nullptr);
        }
        int32_t pos = 0;
        log.GetEventWriteState(pos, written);
        const int charCount = int(std::size(KeywordChars)) - 1;
        for (int t = 0; tables.EventTaskCount() < TaskCount; ++t) {
            QString keyword = letters ? QString::fromUtf16(LetterPrefixes[t % 5]) : QString();
            const int length = 2 + t % 3;
            for (int k = 0; k < length; ++k) {
                keyword += QChar(KeywordChars[(t * 7 + k * 13 + t / charCount) % charCount]);
            }
            TEventMailTask task{};
            task.LevelMask = 15;
            task.TypeCount = 17;
            for (int k = 0; k < 17; ++k) {
                task.Types[k] = int16_t(k < 16 ? k + 1 : 20);
            }
            Gbk::storeField(task.Keyword, keyword);
            tables.EventTasks.append(task);
        }
    }
    // The trigger as it stands after its last read, `fresh` events ago.
    void rewind(int fresh = BatchSize)
    {
        state->CountKnown = true;
        state->ReadCount = written - uint64_t(fresh);
        state->WritePos = int32_t(written % EventRingSize);
        state->ReadPos = (state->WritePos - fresh % EventRingSize + EventRingSize) % EventRingSize;
    }
    uint64_t written = 0;
};

// The event-log library serves one working directory at a time, so one fixture exists at a time; it is built
// outside the timed loops.
TWorstTick& fixture(bool letters)
{
    static std::unique_ptr<TWorstTick> w;
    if (!w || w->letters != letters) {
        w.reset();
        w = std::make_unique<TWorstTick>(letters);
    }
    return *w;
}

TWorstTick& worstTick()
{
    return fixture(false);
}

TWorstTick& worstTickWithLetters()
{
    return fixture(true);
}

const SYSTEMTIME Now = MakeSystemTime(2026, 3, 14, 9, 26, 53);

void runWorstTick(benchmark::State& st, TWorstTick& w)
{
    for (auto _ : st) {
        w.rewind();
        RunEventStep(w.tables, *w.state, w.log, Now);
        benchmark::DoNotOptimize(w.state->ReadPos);
    }
    // No keyword is in any text: every task stays idle, so the work was the whole scan.
    for (int i = 0; i < TaskCount; ++i) {
        if (w.tables.EventTasks.state(i).State != 0) {
            st.SkipWithError("a task was marked");
        }
    }
    st.counters["events"] = BatchSize;
    st.counters["tasks"] = TaskCount;
}

void BM_WorstTick(benchmark::State& st)
{
    runWorstTick(st, worstTick());
}
BENCHMARK(BM_WorstTick)->Unit(benchmark::kMillisecond)->MinTime(1.0);

void BM_WorstTickWithLetters(benchmark::State& st)
{
    runWorstTick(st, worstTickWithLetters());
}
BENCHMARK(BM_WorstTickWithLetters)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// The worst tick of a storm: 7000 events since the last read, so the step counts 2000 lost, reads the 5000 the
// ring holds, checks what writers overwrote meanwhile and scans the batch for the same 100 tasks.
void BM_WorstStormTick(benchmark::State& st)
{
    TWorstTick& w = worstTick();
    uint64_t lost = 0;
    for (auto _ : st) {
        w.rewind(7000);
        lost = RunEventStep(w.tables, *w.state, w.log, Now).Lost;
        benchmark::DoNotOptimize(w.state->ReadPos);
    }
    if (lost != 2000) {
        st.SkipWithError("the overrun was not counted");
    }
    st.counters["events"] = EventRingSize;
    st.counters["tasks"] = TaskCount;
}
BENCHMARK(BM_WorstStormTick)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// The watch between the regular ticks when nothing is to be read: the write state alone.
void BM_QuietWatch(benchmark::State& st)
{
    TWorstTick& w = worstTick();
    StartEventTrigger(*w.state, w.log);
    for (auto _ : st) {
        uint64_t backlog = 0;
        benchmark::DoNotOptimize(EventBacklog(*w.state, w.log, backlog));
        benchmark::DoNotOptimize(backlog);
    }
}
BENCHMARK(BM_QuietWatch)->Unit(benchmark::kNanosecond);

void BM_ReadBatchOnly(benchmark::State& st)
{
    TWorstTick& w = worstTick();
    for (auto _ : st) {
        int32_t end = 0;
        int32_t start = 0;
        int32_t count = BatchSize;
        w.log.ReadEvents(end, start, count, EventRingSize, w.state->EventBuffer.data());
        benchmark::DoNotOptimize(w.state->EventBuffer.data());
    }
}
BENCHMARK(BM_ReadBatchOnly)->Unit(benchmark::kMillisecond);

void BM_CopyTextsOnce(benchmark::State& st)
{
    TWorstTick& w = worstTick();
    w.rewind();
    RunEventStep(w.tables, *w.state, w.log, Now);
    std::vector<char> out(size_t(BatchSize) * 256);
    for (auto _ : st) {
        char* p = out.data();
        for (int n = 0; n < BatchSize; ++n) {
            const char* text = w.state->EventBuffer[size_t(n)].EventText;
            const size_t len = strnlen(text, 256);
            memcpy(p, text, len);
            p += len;
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_CopyTextsOnce)->Unit(benchmark::kMicrosecond);

void BM_PlainScan(benchmark::State& st)
{
    TWorstTick& w = worstTick();
    w.rewind();
    RunEventStep(w.tables, *w.state, w.log, Now);
    for (auto _ : st) {
        int marks = 0;
        for (int i = 0; i < TaskCount; ++i) {
            for (int n = 0; n < BatchSize; ++n) {
                if (EventMatches(w.state->EventBuffer[size_t(n)], w.tables.EventTasks.task(i))) {
                    ++marks;
                    break;
                }
            }
        }
        benchmark::DoNotOptimize(marks);
    }
}
BENCHMARK(BM_PlainScan)->Unit(benchmark::kMillisecond);

// The engine's tick with the mark file open: the steps, the new-mark check and whatever the mark file does on
// the main thread (queued work is run inside the timing).
struct TEngineTick
{
    TWorstTick& w = worstTick();
    TEventTaskTable saved = w.tables.EventTasks; // put back afterwards for the other cases
    TManualClock clock{Now};
    std::unique_ptr<TQorsmailMain> engine;

    std::unique_ptr<TTaskStatusDisplay> display;

    // tasks: more than the fixture's 100 adds copies of its first task.
    explicit TEngineTick(bool keywords, int tasks = TaskCount)
    {
        coreTestApp();
        while (w.tables.EventTaskCount() < tasks) {
            w.tables.EventTasks.append(w.tables.EventTasks.task(0));
        }
        if (!keywords) {
            for (int i = 0; i < w.tables.EventTaskCount(); ++i) {
                w.tables.EventTasks.task(i).Keyword[0] = 0;
            }
        }
        engine = std::make_unique<TQorsmailMain>(w.tables, w.log, clock);
        engine->OpenMarkStore(w.dir.path() + QStringLiteral("QorMail.marks"));
    }
    ~TEngineTick()
    {
        display.reset();
        engine->markStore().Close();
        engine.reset();
        w.tables.EventTasks = saved;
    }
    void tick()
    {
        engine->triggerState().ReadPos = 0;
        engine->triggerState().WritePos = 0;
        engine->TriggerTimerTimer();
        QCoreApplication::processEvents();
    }
    void unmarkAll()
    {
        for (int i = 0; i < w.tables.EventTaskCount(); ++i) {
            w.tables.EventTasks.state(i) = TEventTaskState{};
        }
        engine->notifyTableEdited(TTaskKind::Event);
        engine->markStore().flush();
    }
};

void BM_WorstTickEngineWithMarkFile(benchmark::State& st)
{
    TEngineTick e(true);
    for (auto _ : st) {
        e.tick();
    }
    for (int i = 0; i < TaskCount; ++i) {
        if (e.w.tables.EventTasks.state(i).State != 0) {
            st.SkipWithError("a task was marked");
        }
    }
}
BENCHMARK(BM_WorstTickEngineWithMarkFile)->Unit(benchmark::kMillisecond)->MinTime(1.0);

void BM_TickMarkingAllTasksWithMarkFile(benchmark::State& st)
{
    TEngineTick e(false);
    for (auto _ : st) {
        st.PauseTiming();
        e.unmarkAll();
        st.ResumeTiming();
        e.tick();
    }
    for (int i = 0; i < TaskCount; ++i) {
        if (e.w.tables.EventTasks.state(i).State != 1) {
            st.SkipWithError("a task was not marked");
        }
    }
    st.counters["marks"] = TaskCount;
}
BENCHMARK(BM_TickMarkingAllTasksWithMarkFile)->Unit(benchmark::kMillisecond);

void BM_TickMarking2000TasksWithStatusDisplay(benchmark::State& st)
{
    constexpr int Tasks = 2000;
    TEngineTick e(false, Tasks);
    e.display = std::make_unique<TTaskStatusDisplay>(*e.engine, TTaskStatusDisplay::Targets{});
    uint64_t writes = 0;
    for (auto _ : st) {
        st.PauseTiming();
        e.unmarkAll();
        const uint64_t before = e.engine->markStore().writesQueued();
        st.ResumeTiming();
        e.tick(); // the event loop turn after it runs the coalesced refresh and hands the file over
        st.PauseTiming();
        writes += e.engine->markStore().writesQueued() - before;
        st.ResumeTiming();
    }
    for (int i = 0; i < Tasks; ++i) {
        if (e.w.tables.EventTasks.state(i).State != 1) {
            st.SkipWithError("a task was not marked");
        }
    }
    if (!e.display->summaryText().contains(QStringLiteral("2000"))) {
        st.SkipWithError("the summary does not count the marks");
    }
    st.counters["marks"] = Tasks;
    st.counters["file_writes_per_tick"] = double(writes) / double(st.iterations());
}
BENCHMARK(BM_TickMarking2000TasksWithStatusDisplay)->Unit(benchmark::kMillisecond);

void BM_WatchReadingOneEvent2000Tasks(benchmark::State& st)
{
    TEngineTick e(true, 2000);
    e.engine->TriggerTimer().start(); // the watch reads only while sending runs; no event loop fires it here
    TTriggerState& state = e.engine->triggerState();
    for (auto _ : st) {
        state.CountKnown = true;
        state.ReadCount = e.w.written - 1;
        state.WritePos = int32_t(e.w.written % EventRingSize);
        state.ReadPos = (state.WritePos + EventRingSize - 1) % EventRingSize;
        e.engine->EventWatchTimerTimer();
    }
    if (state.ReadCount != e.w.written) {
        st.SkipWithError("the watch did not read the event");
    }
    e.engine->TriggerTimer().stop();
    st.counters["tasks"] = 2000;
}
BENCHMARK(BM_WatchReadingOneEvent2000Tasks)->Unit(benchmark::kMicrosecond);

// One write of the mark file with 100 marks, as the writer thread does it: the file written, flushed to disk,
// renamed over the old one, the directory flushed.
void BM_MarkFileWrite(benchmark::State& st)
{
    TEngineTick e(false);
    e.tick();
    e.engine->markStore().flush();
    int64_t total = 0;
    for (auto _ : st) {
        e.engine->notifyTableEdited(TTaskKind::Event);
        e.engine->markStore().flush();
        total += e.engine->markStore().lastWriteNanoseconds();
    }
    st.counters["write_us"] = benchmark::Counter(double(total) / 1000.0 / double(st.iterations()));
}
BENCHMARK(BM_MarkFileWrite)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
