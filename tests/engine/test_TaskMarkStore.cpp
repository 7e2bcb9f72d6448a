// SPDX-License-Identifier: MIT
// Pending marks kept across a restart: the file's reader refuses every damaged form, a restart takes back only
// the marks that still apply, and the engine reports every change of a task's state through one signal.

#include "CoreTestApp.h"
#include "FakeLogLibrary.h"
#include "FakeSmtpSession.h"
#include "GbkCodec.h"
#include "LangTexts.h"
#include "QorsmailMain.h"
#include "TaskMarkFile.h"
#include "TaskMarkStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QString U(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

QString text(const LangText::Entry& entry)
{
    return QString::fromUtf8(entry.Default);
}

const SYSTEMTIME T0 = MakeSystemTime(2024, 7, 3, 14, 0, 0, 0);

TEventMailTask eventTask(const QString& title, int32_t waitSec)
{
    TEventMailTask t{};
    Gbk::storeField(t.Title, title);
    t.WaitSec = waitSec;
    t.LevelMask = -1;
    t.ReceiverCount = 1;
    Gbk::storeFieldBytes(t.Receivers[0].Addr, "ops@example.cn");
    return t;
}

TReportMailTask reportTask(const QString& title)
{
    TReportMailTask t{};
    Gbk::storeField(t.Title, title);
    t.SendType = 1;
    t.SendTime.wHour = 14;
    t.SendTime.wMinute = 0;
    t.ReceiverCount = 1;
    Gbk::storeFieldBytes(t.Receivers[0].Addr, "ops@example.cn");
    return t;
}

QByteArray header(const TOutgoingMail& mail, const QByteArray& name)
{
    for (const auto& h : mail.headers) {
        if (h.startsWith(name + ": ")) {
            return h.mid(name.size() + 2);
        }
    }
    return {};
}

// One station run on a working directory: tables as a task file would give them, the fake ring and SMTP
// session, and the panel lines it wrote.
struct TRun
{
    TRun(TFakeLogLibrary& log, TManualClock& clock, const TMailTables& source)
    {
        for (int i = 0; i < source.EventTaskCount(); ++i) {
            tables.EventTasks.append(source.EventTasks.task(i));
        }
        for (int j = 0; j < source.ReportTaskCount(); ++j) {
            tables.ReportTasks.append(source.ReportTasks.task(j));
        }
        tables.SmtpSettings = source.SmtpSettings;
        main = std::make_unique<TQorsmailMain>(tables, log, clock);
        auto session = std::make_unique<FakeSmtpSession>();
        fake = session.get();
        main->setSmtpSession(std::move(session));
        QObject::connect(main.get(), &TQorsmailMain::logLineAdded, [this, &clock](const QString& line) {
            panel.append(line.mid(DateTimeText(clock.now()).size() + 2));
        });
    }
    TMailTables tables;
    std::unique_ptr<TQorsmailMain> main;
    FakeSmtpSession* fake = nullptr;
    QStringList panel;
};

class MarkStoreTest : public ::testing::Test
{
public: // the cases of a table change the fixture's sources
    void SetUp() override
    {
        coreTestApp();
        ASSERT_TRUE(m_dir.isValid());
        m_path = m_dir.path() + QStringLiteral("/QorMail.marks");
        m_log.WritePos = 100;
        m_clock.set(T0);
        Gbk::storeFieldBytes(m_source.SmtpSettings.LocalEmailAddr, "station@example.cn");
        m_source.SmtpSettings.MaxSendTries = 5;
        m_source.SmtpSettings.WaitSeconds = 60;
        m_source.EventTasks.append(eventTask(U("事故"), 30));
        m_source.EventTasks.append(eventTask(U("日报"), 30));
        m_source.ReportTasks.append(reportTask(U("月报")));
    }

    std::unique_ptr<TRun> start()
    {
        auto run = std::make_unique<TRun>(m_log, m_clock, m_source);
        // The trigger starts at the ring's write position, as on every start.
        run->main->triggerState().ReadPos = m_log.WritePos;
        run->main->triggerState().WritePos = m_log.WritePos;
        run->main->OpenMarkStore(m_path);
        return run;
    }

    // A new event in the ring and a trigger tick that marks both event tasks with it.
    int32_t triggerBoth(TRun& run, const QString& what = U("1号主变差动保护动作"), uint32_t time = 1000)
    {
        const int32_t pos = m_log.post(3, 1, what, time);
        run.main->TriggerTimerTimer();
        return pos;
    }

    void at(int secondsAfterT0) { m_clock.set(FromSystemTime(T0).addSecs(secondsAfterT0)); }

    QByteArray fileBytes() const
    {
        QFile f(m_path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void writeFile(const QByteArray& bytes) const
    {
        QFile f(m_path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    QStringList setAside() const
    {
        return QDir(m_dir.path()).entryList({QStringLiteral("QorMail.marks.damaged-*")}, QDir::Files);
    }

    QTemporaryDir m_dir;
    QString m_path;
    TFakeLogLibrary m_log;
    TManualClock m_clock;
    TMailTables m_source;
};

} // namespace

TEST(MarkFile, EntriesComeBackAsTheyWereWritten)
{
    TaskMarkFile::Entry e;
    e.kind = TTaskKind::Event;
    e.index = 7;
    e.fingerprint = TaskMarkFile::fingerprintOf(eventTask(U("事故"), 3));
    e.mailId.fill(0xA5);
    e.title = Gbk::encode(U("事故"));
    e.eventState = {2, 4998, 3, T0, 4};
    e.first = {123456, 789, Gbk::encode(U("1号主变差动保护动作"))};
    e.numbered = true;
    e.firstNumber = 123456789012ull;
    e.endNumber = 123456789017ull;
    TaskMarkFile::Entry r;
    r.kind = TTaskKind::Report;
    r.index = 0;
    r.reportState = {1, T0, 2};
    const auto back = TaskMarkFile::decode(TaskMarkFile::encode({e, r}));
    ASSERT_TRUE(back.has_value());
    ASSERT_EQ(back->size(), 2u);
    const TaskMarkFile::Entry& b = (*back)[0];
    EXPECT_EQ(b.index, 7);
    EXPECT_EQ(b.fingerprint, e.fingerprint);
    EXPECT_EQ(b.mailId, e.mailId);
    EXPECT_EQ(b.title, e.title);
    EXPECT_EQ(std::memcmp(&b.eventState, &e.eventState, sizeof e.eventState), 0);
    EXPECT_EQ(b.first.time, 123456u);
    EXPECT_EQ(b.first.msec, 789u);
    EXPECT_EQ(b.first.text, e.first.text);
    EXPECT_TRUE(b.numbered);
    EXPECT_EQ(b.endNumber - b.firstNumber, 5u);
    EXPECT_EQ((*back)[1].kind, TTaskKind::Report);
    EXPECT_EQ((*back)[1].reportState.RetryCount, 2);
    // A one-byte change of a task record changes its fingerprint.
    TEventMailTask changed = eventTask(U("事故"), 3);
    changed.Receivers[99].Addr[39] = 1;
    EXPECT_NE(TaskMarkFile::fingerprintOf(changed), e.fingerprint);
}

TEST(MarkFile, EntriesNoMarkCouldHoldAreRefusedEvenWithAGoodChecksum)
{
    struct TCase
    {
        const char* name;
        void (*damage)(TaskMarkFile::Entry&);
    };
    const TCase cases[] = {
        {"idle state", [](TaskMarkFile::Entry& e) { e.eventState.State = 0; }},
        {"unknown state", [](TaskMarkFile::Entry& e) { e.eventState.State = 3; }},
        {"negative index", [](TaskMarkFile::Entry& e) { e.index = -1; }},
        {"first position past two rings", [](TaskMarkFile::Entry& e) { e.eventState.FirstPos = 9999; }},
        {"end position outside the ring", [](TaskMarkFile::Entry& e) { e.eventState.EndPos = 5000; }},
        {"negative retry count", [](TaskMarkFile::Entry& e) { e.eventState.RetryCount = -1; }},
        {"month 13", [](TaskMarkFile::Entry& e) { e.eventState.TriggerTime.wMonth = 13; }},
        {"unknown kind", [](TaskMarkFile::Entry& e) { e.kind = static_cast<TTaskKind>(2); }},
    };
    for (const TCase& c : cases) {
        TaskMarkFile::Entry e;
        e.eventState = {1, 10, 11, T0, 0};
        c.damage(e);
        const QByteArray bytes = TaskMarkFile::encode({e});
        QString why;
        EXPECT_FALSE(TaskMarkFile::decode(bytes, &why).has_value()) << c.name;
        EXPECT_FALSE(why.isEmpty()) << c.name;
    }
    TaskMarkFile::Entry twice;
    twice.eventState = {1, 10, 11, T0, 0};
    EXPECT_FALSE(TaskMarkFile::decode(TaskMarkFile::encode({twice, twice})).has_value());
    EXPECT_TRUE(TaskMarkFile::decode(TaskMarkFile::encode({})).has_value());
}

TEST_F(MarkStoreTest, EveryChangeOfATaskStateIsReportedOnce)
{
    auto run = start();
    std::vector<std::pair<TTaskKind, int>> seen;
    QObject::connect(run->main.get(), &TQorsmailMain::taskStateChanged, [&](TTaskKind kind, int index) {
        seen.emplace_back(kind, index);
    });
    run->fake->script = {FakeSmtpSession::fail(U("连接被拒绝")), FakeSmtpSession::success()};
    at(0);
    triggerBoth(*run);
    EXPECT_EQ(seen, (std::vector<std::pair<TTaskKind, int>>{{TTaskKind::Event, 0}, {TTaskKind::Event, 1}}));
    seen.clear();
    run->main->TriggerTimerTimer(); // nothing new: nothing changes
    at(10);
    run->main->SendMailTimerTimer(); // still waiting
    EXPECT_TRUE(seen.empty());
    at(30);
    run->main->SendMailTimerTimer(); // both due: task 0 fails, task 1 is sent
    EXPECT_EQ(seen,
        (std::vector<std::pair<TTaskKind, int>>{
            {TTaskKind::Event, 0}, {TTaskKind::Event, 0}, {TTaskKind::Event, 1}, {TTaskKind::Event, 1}}));
    EXPECT_EQ(run->tables.EventTasks.state(0).RetryCount, 1);
    EXPECT_EQ(run->tables.EventTasks.state(1).State, 0);
    seen.clear();
    // The report is due one minute after its 14:00 at the first tick with a second from 11 to 30.
    m_clock.set(MakeSystemTime(2024, 7, 3, 14, 1, 12, 0));
    run->main->TriggerTimerTimer();
    EXPECT_EQ(seen, (std::vector<std::pair<TTaskKind, int>>{{TTaskKind::Report, 0}}));
    seen.clear();
    run->main->notifyTableEdited(TTaskKind::Event, -1);
    EXPECT_EQ(seen, (std::vector<std::pair<TTaskKind, int>>{{TTaskKind::Event, -1}}));
}

TEST_F(MarkStoreTest, ARestartResumesTheMarkWithItsTimesRetriesAndMailIdentity)
{
    QByteArray firstId;
    {
        auto run = start();
        run->fake->fallback = FakeSmtpSession::fail(U("连接被拒绝"));
        at(0);
        triggerBoth(*run);
        at(30);
        run->main->SendMailTimerTimer();
        at(90);
        run->main->SendMailTimerTimer(); // second attempts at 30 + 60
        ASSERT_EQ(run->fake->sent.size(), 4u);
        firstId = header(run->fake->sent[0], "Message-ID");
        EXPECT_EQ(header(run->fake->sent[2], "Message-ID"), firstId);
        EXPECT_NE(header(run->fake->sent[1], "Message-ID"), firstId); // another mark, another mail
        EXPECT_TRUE(firstId.startsWith("<qm.") && firstId.endsWith("@example.cn>")) << firstId.constData();
        run->main->DestroyEngine(); // also what a kill leaves: every change was written when it was made
    }
    const TEventTaskState before{2, 100, 101, T0, 2};

    auto run = start();
    run->fake->fallback = FakeSmtpSession::fail(U("连接被拒绝"));
    for (int i = 0; i < 2; ++i) {
        const TEventTaskState& s = run->tables.EventTasks.state(i);
        EXPECT_EQ(std::memcmp(&s, &before, sizeof s), 0) << i;
    }
    const QString resumed = text(LangText::TaskMarkStore_Str::Str0).arg(U("事件邮件"), U("事故"), QStringLiteral("2"));
    EXPECT_TRUE(run->panel.contains(resumed)) << run->panel.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(run->panel.size(), 2);

    // Attempt 3 is due at 30 + 2 x 60 after the original trigger, counted across the restart.
    at(149);
    run->main->SendMailTimerTimer();
    EXPECT_TRUE(run->fake->sent.empty());
    at(150);
    run->main->SendMailTimerTimer();
    ASSERT_EQ(run->fake->sent.size(), 2u);
    EXPECT_EQ(header(run->fake->sent[0], "Message-ID"), firstId);
    EXPECT_EQ(run->tables.EventTasks.state(0).RetryCount, 3);
}

TEST_F(MarkStoreTest, AMarkThatNoLongerAppliesIsDroppedWithItsReason)
{
    struct TCase
    {
        const char* name;
        std::function<void(MarkStoreTest&, int32_t firstPos)> change;
        LangText::Entry line;
    };
    const TCase cases[] = {
        {"task edited",
            [](MarkStoreTest& t, int32_t) { t.m_source.EventTasks.task(0).Keyword[0] = 'X'; },
            LangText::TaskMarkStore_Str::Str1},
        {"task deleted",
            [](MarkStoreTest& t, int32_t) { t.m_source.EventTasks.remove(0); },
            LangText::TaskMarkStore_Str::Str2}, // task 1 moved to index 0 and is resumed there
        {"ring overwrote the first event",
            [](MarkStoreTest& t, int32_t pos) { t.m_log.putEvent(pos, 3, 1, U("1号主变差动保护动作"), 2000); },
            LangText::TaskMarkStore_Str::Str3},
        {"same time, other text",
            [](MarkStoreTest& t, int32_t pos) { t.m_log.putEvent(pos, 3, 1, U("2号主变"), 1000); },
            LangText::TaskMarkStore_Str::Str3},
    };
    for (const TCase& c : cases) {
        m_source = TMailTables{};
        m_log = TFakeLogLibrary{};
        SetUp();
        QFile::remove(m_path);
        int32_t pos = 0;
        {
            auto run = start();
            at(0);
            pos = triggerBoth(*run);
            run->main->DestroyEngine();
        }
        c.change(*this, pos);
        auto run = start();
        // 事故 is idle wherever it is; 日报, moved to index 0 by the deletion, keeps its mark.
        const bool moved = Gbk::fieldText(run->tables.EventTasks.task(0).Title) == U("日报");
        EXPECT_EQ(run->tables.EventTasks.state(0).State, moved ? 1 : 0) << c.name;
        EXPECT_TRUE(run->panel.contains(text(c.line).arg(U("事件邮件"), U("事故"))))
            << c.name << ": " << run->panel.join(QLatin1Char('\n')).toStdString();
        run->main->DestroyEngine();
    }
}

// Marks whose retry count or time no run of the send loop would leave now are resumed with a line that says
// so: more attempts than MaxSendTries allows now get one more, a time ahead of the clock counts from now. Only
// what the file's bounds forbid sets the file aside.
TEST_F(MarkStoreTest, MarksResumeWhateverTheirAttemptsAndTimeOnlyAFileOutOfBoundsIsSetAside)
{
    auto editEntry = [](MarkStoreTest& t, void (*edit)(TaskMarkFile::Entry&)) {
        auto entries = TaskMarkFile::decode(t.fileBytes());
        ASSERT_TRUE(entries.has_value());
        edit(entries->front()); // 事故's mark
        t.writeFile(TaskMarkFile::encode(*entries));
    };
    SYSTEMTIME ahead = T0;
    ahead.wYear = uint16_t(ahead.wYear + 1);
    struct TCase
    {
        const char* name;
        std::function<void(MarkStoreTest&)> change;
        QString line; // about 事故
        bool resumed; // both marks
        std::function<void(const TEventTaskState&)> check = {}; // 事故's state once resumed
    };
    const TCase cases[] = {
        {"more attempts than now allowed",
            [&](MarkStoreTest& t) {
                editEntry(t, [](TaskMarkFile::Entry& e) { e.eventState.RetryCount = 1000000000; });
            },
            text(LangText::MarkResume_Str::Str0).arg(U("事件邮件"), U("事故"), U("1000000000"), U("5")),
            true,
            [](const TEventTaskState& s) { EXPECT_EQ(s.RetryCount, 5) << "the next failure gives it up"; }},
        {"a trigger time a year ahead",
            [&](MarkStoreTest& t) {
                editEntry(t, [](TaskMarkFile::Entry& e) { e.eventState.TriggerTime.wYear += 1; });
            },
            text(LangText::MarkResume_Str::Str1)
                .arg(U("事件邮件"),
                    U("事故"),
                    DateTimeText(ahead),
                    DateTimeText(ToSystemTime(FromSystemTime(T0).addSecs(60)))),
            true,
            [&](const TEventTaskState& s) {
                const SYSTEMTIME now = m_clock.now();
                EXPECT_EQ(std::memcmp(&s.TriggerTime, &now, sizeof now), 0) << "counts from now";
            }},
        {"more marks than a file of ours holds",
            [](MarkStoreTest& t) {
                QByteArray bytes = QByteArray("QORMARKS") + QByteArray("\x02\x00\x00\x00\x01\x00\x01\x00", 8);
                const uint64_t sum =
                    TaskMarkFile::hash64(bytes.constData(), size_t(bytes.size()), 0x514D41524B53554Dull);
                t.writeFile(bytes.append(reinterpret_cast<const char*>(&sum), 8));
            },
            text(LangText::TaskMarkStore_Str::Str4).section(QLatin1Char('%'), 0, 0),
            false},
    };
    for (const TCase& c : cases) {
        m_source = TMailTables{};
        m_log = TFakeLogLibrary{};
        SetUp();
        QFile::remove(m_path);
        {
            auto run = start();
            at(0);
            triggerBoth(*run);
            run->main->DestroyEngine();
        }
        c.change(*this);
        at(60);
        auto run = start();
        const QString panel = run->panel.join(QLatin1Char('\n'));
        EXPECT_TRUE(panel.contains(c.line)) << c.name << ": " << panel.toStdString();
        EXPECT_EQ(run->tables.EventTasks.state(0).State, c.resumed ? 1 : 0) << c.name;
        EXPECT_EQ(run->tables.EventTasks.state(1).State, c.resumed ? 1 : 0) << c.name;
        if (c.check) {
            SCOPED_TRACE(c.name);
            c.check(run->tables.EventTasks.state(0));
        }
        run->main->DestroyEngine();
    }
}

TEST_F(MarkStoreTest, AMarkOfAVanishedTaskIsDroppedByItsTitle)
{
    {
        auto run = start();
        at(0);
        triggerBoth(*run);
        run->main->DestroyEngine();
    }
    m_source.EventTasks.remove(1);
    auto run = start();
    EXPECT_EQ(run->tables.EventTasks.state(0).State, 1);
    EXPECT_TRUE(run->panel.contains(text(LangText::TaskMarkStore_Str::Str2).arg(U("事件邮件"), U("日报"))));
    run->main->DestroyEngine();
    // The dropped mark is gone from the file too.
    const auto entries = TaskMarkFile::decode(fileBytes());
    ASSERT_TRUE(entries.has_value());
    EXPECT_EQ(entries->size(), 1u);
}

TEST_F(MarkStoreTest, TableEditsMoveAndDropTheMarksInTheFile)
{
    auto run = start();
    at(0);
    triggerBoth(*run);
    ASSERT_TRUE(run->main->markStore().flush());
    ASSERT_EQ(TaskMarkFile::decode(fileBytes())->size(), 2u);

    run->tables.EventTasks.remove(0); // task 1 moves down
    run->main->notifyTableEdited(TTaskKind::Event);
    ASSERT_TRUE(run->main->markStore().flush());
    auto entries = TaskMarkFile::decode(fileBytes());
    ASSERT_EQ(entries->size(), 1u);
    EXPECT_EQ((*entries)[0].index, 0);
    EXPECT_EQ((*entries)[0].title, Gbk::encode(U("日报")));

    run->tables.EventTasks.replace(0, eventTask(U("日报"), 5)); // an accepted edit zeroes the state
    run->main->notifyTableEdited(TTaskKind::Event, 0);
    ASSERT_TRUE(run->main->markStore().flush());
    EXPECT_EQ(TaskMarkFile::decode(fileBytes())->size(), 0u);
}

TEST_F(MarkStoreTest, ADamagedFileIsSetAsideAndNewMailsGoOutAsBefore)
{
    {
        auto run = start();
        at(0);
        triggerBoth(*run);
        m_clock.set(MakeSystemTime(2024, 7, 3, 14, 1, 12, 0));
        run->main->TriggerTimerTimer(); // and the report
        run->main->DestroyEngine();
    }
    const QByteArray good = fileBytes();
    ASSERT_TRUE(TaskMarkFile::decode(good).has_value());
    std::vector<QByteArray> damaged;
    for (qsizetype cut = 0; cut < good.size(); ++cut) {
        damaged.push_back(good.left(cut));
    }
    QRandomGenerator random(15);
    for (int n = 0; n < 8; ++n) {
        QByteArray garbage(random.bounded(1, 2 * int(good.size())), '\0');
        random.fillRange(reinterpret_cast<quint32*>(garbage.data()), garbage.size() / 4);
        if (n % 2 == 0) {
            garbage.replace(0, 8, QByteArray(TaskMarkFile::Magic, 8)); // past the magic
        }
        damaged.push_back(garbage);
        QByteArray flipped = good;
        flipped[random.bounded(int(good.size()))] ^= char(1 << random.bounded(8));
        damaged.push_back(flipped);
    }
    const QString damagedLine = text(LangText::TaskMarkStore_Str::Str4).section(QLatin1Char('%'), 0, 0);
    for (size_t k = 0; k < damaged.size(); ++k) {
        for (const auto& name : setAside()) {
            QFile::remove(m_dir.path() + QLatin1Char('/') + name);
        }
        writeFile(damaged[k]);
        auto run = start();
        ASSERT_EQ(run->panel.size(), 1) << k << ": " << run->panel.join(QLatin1Char('\n')).toStdString();
        EXPECT_TRUE(run->panel[0].startsWith(damagedLine)) << k;
        EXPECT_EQ(setAside().size(), 1u) << k;
        EXPECT_EQ(run->tables.EventTasks.state(0).State, 0) << k;
        EXPECT_EQ(run->tables.ReportTasks.state(0).State, 0) << k;
        // A new event is mailed as on any start, and its mark is kept in a new, sound file.
        at(0);
        triggerBoth(*run, U("3#馈线断路器跳闸"), 5000 + uint32_t(k));
        ASSERT_TRUE(run->main->markStore().flush());
        EXPECT_EQ(TaskMarkFile::decode(fileBytes())->size(), 2u) << k;
        at(30);
        run->main->SendMailTimerTimer();
        EXPECT_EQ(run->fake->sent.size(), 2u) << k;
        run->main->DestroyEngine();
    }
}

TEST_F(MarkStoreTest, AFileThatCannotBeWrittenIsLoggedOnce)
{
    m_path = m_dir.path() + QStringLiteral("/missing-folder/QorMail.marks");
    auto run = start();
    at(0);
    triggerBoth(*run);
    EXPECT_FALSE(run->main->markStore().flush());
    triggerBoth(*run);
    at(30);
    run->main->SendMailTimerTimer();
    EXPECT_FALSE(run->main->markStore().flush());
    QCoreApplication::processEvents();
    const QString failed = text(LangText::TaskMarkStore_Str::Str6).section(QLatin1Char('%'), 0, 0);
    EXPECT_EQ(run->panel.filter(failed).size(), 1) << run->panel.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(run->fake->sent.size(), 2u); // sending goes on
}
