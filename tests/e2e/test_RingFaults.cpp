// SPDX-License-Identifier: MIT
// The real station when its ring file fails it: deleted and made anew, cut to nothing (also before it starts),
// held by a stopped writer, deleted before its events were read, copied back over itself, and a resumed mark
// whose ring moves on by more than it holds. Each fault is logged once, the station keeps sending and obeys
// SIGTERM, also from its boxes, and no mail lists events that are not its own.

#include "GbkCodec.h"
#include "LangTexts.h"
#include "LocalTime.h"
#include "RingStation.h"
#include "TaskMarkFile.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonArray>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QString text(const LangText::Entry& entry)
{
    return QString::fromUtf8(entry.Default);
}

// One station on a working directory whose ring this test also writes, with its own SMTP test server.
struct TRingStation : TRingStationBase
{
    QString ring() const { return dir.ringPath(); }
    // How often the debug log holds a line of that text (its %1 being the ring's path).
    int lines(const LangText::Entry& entry) const
    {
        return int(readDebugLog(dir.path()).count(text(entry).arg(ring())));
    }
    bool waitForLine(const LangText::Entry& entry, int timeoutMs = 8000) const
    {
        return waitForDebugLine(dir.path(), text(entry).arg(ring()), timeoutMs);
    }
    // The text lines of mail k (oldest first).
    QStringList mailLines(int k) const
    {
        const QJsonArray texts = SmtpTest::checkMail(server.mails().value(k))[QStringLiteral("texts")].toArray();
        const QString b64 = texts.isEmpty() ? QString() : texts[0].toObject()[QStringLiteral("bytes_b64")].toString();
        return Gbk::decode(QByteArray::fromBase64(b64.toLatin1())).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    }
    // An event posted by qorslog, a process of its own as every writer of the suite.
    bool post(const QString& what) { return postEvent(dir.path(), 3, 1, what); }
};

// A writer that takes the ring's lock, makes the header's counter odd and stops itself there (what SIGSTOP does
// to qorslog in the middle of a write); SIGCONT lets it finish the write and end.
pid_t startStoppedWriter(const QString& ring)
{
    const QByteArray path = QFile::encodeName(ring);
    const pid_t pid = ::fork();
    if (pid != 0) {
        int status = 0;
        ::waitpid(pid, &status, WUNTRACED);
        return WIFSTOPPED(status) ? pid : -1;
    }
    const int fd = ::open(path.constData(), O_RDWR);
    uint32_t seq = 0;
    if (fd < 0 || ::flock(fd, LOCK_EX) != 0 || ::pread(fd, &seq, 4, 28) != 4) {
        ::_exit(1);
    }
    seq |= 1u;
    ::pwrite(fd, &seq, 4, 28);
    ::raise(SIGSTOP);
    ++seq;
    ::pwrite(fd, &seq, 4, 28);
    ::_exit(0);
}

// The mark file of a last run that left one event mail being retried: task `index` of the tables, tried once,
// its range the single event at ring position 0.
QByteArray pendingMarkFile(const TMailTables& tables, int index)
{
    TaskMarkFile::Entry e;
    e.kind = TTaskKind::Event;
    e.index = index;
    e.fingerprint = TaskMarkFile::fingerprintOf(tables.EventTasks.task(index));
    e.mailId.fill(0x5A);
    e.title = Gbk::fieldBytes(tables.EventTasks.task(index).Title);
    e.eventState = {2, 0, 1, ToSystemTime(QDateTime::currentDateTime()), 1};
    return TaskMarkFile::encode({e});
}

std::vector<TaskMarkFile::Entry> markEntries(const QString& workDir)
{
    QFile f(workDir + QStringLiteral("QorMail.marks"));
    const auto entries = f.open(QIODevice::ReadOnly) ? TaskMarkFile::decode(f.readAll()) : std::nullopt;
    return entries.value_or(std::vector<TaskMarkFile::Entry>{});
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

bool resume(pid_t writer)
{
    int status = 0;
    return ::kill(writer, SIGCONT) == 0 && ::waitpid(writer, &status, 0) == writer && WIFEXITED(status)
        && WEXITSTATUS(status) == 0;
}

} // namespace

TEST(RingFaults, ARingDeletedAndMadeAnewIsReadFromItsFirstSlot)
{
    TRingStation st;
    st.files.addEventTask(QStringLiteral("事故报告"), 1, QStringLiteral("差动保护"));
    ASSERT_TRUE(st.start()) << st.station.output().toStdString();
    ASSERT_TRUE(st.post(QStringLiteral("母线电压越限")));
    ASSERT_TRUE(QFile::remove(st.ring()));
    ASSERT_TRUE(st.post(QStringLiteral("1号主变差动保护动作"))); // makes the new ring, the event in its slot 0
    ASSERT_TRUE(st.waitForLine(LangText::RingWatch_Str::Str3)) << readDebugLog(st.dir.path()).toStdString();
    ASSERT_TRUE(st.server.waitForMails(1, 15000)) << st.station.output().toStdString();
    const QStringList lines = st.mailLines(0);
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral("  1号主变差动保护动作"))) << lines[0].toStdString();
    QThread::msleep(1500);
    EXPECT_EQ(st.lines(LangText::RingWatch_Str::Str3), 1);
    EXPECT_EQ(st.station.terminate(), 0);
}

// The ring cut to nothing: the station lives on and the mail already due says its events are gone.
TEST(RingFaults, ARingCutToNothingIsLeftAloneAndTheDueMailSaysItsEventsAreGone)
{
    TRingStation st;
    st.files.addEventTask(QStringLiteral("事故报告"), 8, QStringLiteral("差动保护"));
    ASSERT_TRUE(st.start()) << st.station.output().toStdString();
    ASSERT_TRUE(st.post(QStringLiteral("1号主变差动保护动作")));
    ASSERT_TRUE(st.station.waitForOutput("events read 1 of 1 new")) << st.station.output().toStdString();
    QFile cut(st.ring());
    ASSERT_TRUE(cut.open(QIODevice::WriteOnly | QIODevice::Truncate));
    cut.close();
    ASSERT_TRUE(st.waitForLine(LangText::RingWatch_Str::Str2)) << readDebugLog(st.dir.path()).toStdString();
    ASSERT_TRUE(st.server.waitForMails(1, 15000)) << st.station.output().toStdString();
    EXPECT_EQ(st.mailLines(0), QStringList{text(LangText::RingWatch_Str::Str5).arg(1)});
    EXPECT_EQ(st.lines(LangText::RingWatch_Str::Str2), 1);
    EXPECT_EQ(st.station.terminate(), 0);
}

// A writer stopped while it holds the ring: the station says so once, sends what is due, reads again once the
// writer goes on, and ends on SIGTERM while a writer holds the ring.
TEST(RingFaults, AWriterStoppedWhileItHoldsTheRingStopsNeitherSendingNorReadingAfterIt)
{
    TRingStation st;
    st.files.addEventTask(QStringLiteral("事故报告"), 6, QStringLiteral("差动保护"));
    st.files.addEventTask(QStringLiteral("开关报告"), 0, QStringLiteral("开关分闸"));
    ASSERT_TRUE(st.start()) << st.station.output().toStdString();
    ASSERT_TRUE(st.post(QStringLiteral("1号主变差动保护动作")));
    ASSERT_TRUE(st.station.waitForOutput("events read 1 of 1 new")) << st.station.output().toStdString();

    const pid_t writer = startStoppedWriter(st.ring());
    ASSERT_GT(writer, 0);
    EXPECT_TRUE(st.waitForLine(LangText::RingWatch_Str::Str0)) << readDebugLog(st.dir.path()).toStdString();
    ASSERT_TRUE(st.server.waitForMails(1, 15000)) << st.station.output().toStdString();
    EXPECT_TRUE(st.mailLines(0).value(0).endsWith(QStringLiteral("  1号主变差动保护动作")));
    QThread::msleep(5500); // another regular tick while the writer is stopped
    EXPECT_EQ(st.lines(LangText::RingWatch_Str::Str0), 1);

    ASSERT_TRUE(resume(writer));
    ASSERT_TRUE(st.post(QStringLiteral("2号开关分闸")));
    ASSERT_TRUE(st.server.waitForMails(2, 15000)) << readDebugLog(st.dir.path()).toStdString();
    EXPECT_TRUE(st.mailLines(1).value(0).endsWith(QStringLiteral("  2号开关分闸")));
    EXPECT_EQ(st.lines(LangText::RingWatch_Str::Str4), 1);

    const pid_t again = startStoppedWriter(st.ring());
    ASSERT_GT(again, 0);
    EXPECT_TRUE(st.waitForLine(LangText::RingWatch_Str::Str0)) << readDebugLog(st.dir.path()).toStdString();
    EXPECT_EQ(st.station.terminate(), 0);
    EXPECT_TRUE(resume(again));
}

// A mark that was being retried when the station was killed, resumed, and the ring moved on before the retry
// goes out: the mail lists the mark's own events while the ring holds them, and says they were overwritten once
// it does not; never the newer events at their positions. The mark starts at the ring's last slot and its first
// match is one turn further (5000), as a batch that wraps gives it.
TEST(RingFaults, AResumedMarkListsItsOwnEventsOrSaysTheyWereOverwritten)
{
    auto post = [](const QString& what) { return PostEvent(1, 3, Gbk::encode(what).constData(), nullptr) >= 0; };
    for (const int moreEvents : {4990, 6000}) {
        SCOPED_TRACE(moreEvents);
        TRingStation st;
        st.files.tables.SmtpSettings.MaxSendTries = 5;
        st.files.addEventTask(QStringLiteral("事故报告"), 0, QStringLiteral("差动保护"));
        for (int i = 0; i < 4999; ++i) {
            ASSERT_TRUE(post(QStringLiteral("filler")));
        }
        // No server on the station's port for the first run: every attempt fails.
        ASSERT_TRUE(st.server.start());
        ASSERT_TRUE(st.files.write(st.dir.path(), st.server.port(), 8));
        st.server.stop();
        {
            TStation first(st.dir.path());
            first.start();
            ASSERT_TRUE(first.waitForWindow()) << first.output().toStdString();
            for (const char* what : {"bus voltage", "1号主变差动保护动作", "2号开关分闸"}) { // slots 4999, 0, 1
                ASSERT_TRUE(post(QString::fromUtf8(what)));
            }
            ASSERT_TRUE(waitForDebugLine(st.dir.path(), QStringLiteral("——事故报告("), 15000));
            QThread::msleep(300); // the retry count reaches the disk
            ::kill(pid_t(first.pid()), SIGKILL);
            first.waitForExit();
        }
        ASSERT_TRUE(st.server.start());
        ASSERT_TRUE(st.files.write(st.dir.path(), st.server.port(), 8));
        st.station.start();
        ASSERT_TRUE(waitForDebugLine(st.dir.path(),
            text(LangText::TaskMarkStore_Str::Str0)
                .arg(text(LangText::QorsmailMain_Str::Str37), QStringLiteral("事故报告"), QStringLiteral("1"))));
        for (int i = 0; i < moreEvents; ++i) {
            ASSERT_TRUE(post(QStringLiteral("newer %1").arg(i)));
        }
        ASSERT_TRUE(st.server.waitForMails(1, 20000)) << st.station.output().toStdString();
        const QStringList lines = st.mailLines(0);
        if (moreEvents < 5000) {
            ASSERT_EQ(lines.size(), 2) << lines.join(QLatin1Char('\n')).toStdString();
            EXPECT_TRUE(lines[0].endsWith(QStringLiteral("  1号主变差动保护动作")));
            EXPECT_TRUE(lines[1].endsWith(QStringLiteral("  2号开关分闸")));
        } else {
            EXPECT_EQ(lines, QStringList{text(LangText::EventRing_Str::Str1).arg(2)});
        }
        EXPECT_EQ(st.station.terminate(), 0);
    }
}

// Started on a ring cut to nothing, the station starts all the same: it says so, sends the mail the last run left
// being retried (its events cannot be listed), reads the next sound ring from its first slot, and SIGTERM ends
// it within a second while its exit question is open, its pending mark written. A start that the working
// directory stops ends on SIGTERM from its error box too, with the exit code of a failed start.
TEST(RingFaults, AStationStartedOnACutRingSendsWhatIsPendingAndSigtermEndsItFromAnyBox)
{
    TRingStation st;
    {
        // A working directory whose path does not fit the library's 128 bytes.
        const QString tooLong = st.dir.path() + QString(130, QLatin1Char('d')) + QLatin1Char('/');
        ASSERT_TRUE(QDir().mkpath(tooLong));
        TStation stopped(tooLong);
        stopped.start();
        QThread::msleep(1000);
        ASSERT_GT(stopped.pid(), 0) << "the error box is open: " << stopped.output().toStdString();
        QElapsedTimer timer;
        timer.start();
        EXPECT_EQ(stopped.terminate(), 1); // the start failed, whatever closed its box
        EXPECT_LT(timer.elapsed(), 1000);
    }

    st.files.tables.SmtpSettings.MaxSendTries = 5;
    st.files.addEventTask(QStringLiteral("事故报告"), 0, QStringLiteral("差动保护"));
    st.files.addEventTask(QStringLiteral("开关报告"), 600, QStringLiteral("开关分闸"));
    ASSERT_TRUE(st.server.start());
    ASSERT_TRUE(st.files.write(st.dir.path(), st.server.port(), 1));
    ASSERT_TRUE(writeFile(st.dir.path() + QStringLiteral("QorMail.marks"), pendingMarkFile(st.files.tables, 0)));
    ASSERT_TRUE(writeFile(st.ring(), {}));
    const QString flag = st.dir.path() + QStringLiteral("ask-exit");
    const QString script = st.dir.path() + QStringLiteral("driver.json");
    ASSERT_TRUE(writeFile(script, QStringLiteral(R"([{"when": "%1"}, {"action": "Exit1"}])").arg(flag).toUtf8()));
    st.station.setEnvironment(QStringLiteral("QT_PLUGIN_PATH"), QStringLiteral(QORSMAIL_TEST_PLUGIN_DIR));
    st.station.setEnvironment(QStringLiteral("QT_QPA_GENERIC_PLUGINS"), QStringLiteral("qorsmaildriver:") + script);
    st.station.start();
    ASSERT_TRUE(st.station.waitForWindow()) << st.station.output().toStdString();
    EXPECT_TRUE(st.waitForLine(LangText::RingWatch_Str::Str2)) << readDebugLog(st.dir.path()).toStdString();
    EXPECT_TRUE(
        readDebugLog(st.dir.path())
            .contains(
                text(LangText::TaskMarkStore_Str::Str0)
                    .arg(text(LangText::QorsmailMain_Str::Str37), QStringLiteral("事故报告"), QStringLiteral("1"))));
    ASSERT_TRUE(st.server.waitForMails(1, 15000)) << readDebugLog(st.dir.path()).toStdString();
    EXPECT_EQ(st.mailLines(0), QStringList{text(LangText::RingWatch_Str::Str5).arg(1)});

    ASSERT_TRUE(QFile::remove(st.ring()));
    ASSERT_TRUE(st.post(QStringLiteral("1号主变差动保护动作"))); // makes a sound ring
    ASSERT_TRUE(st.post(QStringLiteral("2号开关分闸")));
    ASSERT_TRUE(st.waitForLine(LangText::RingWatch_Str::Str3)) << readDebugLog(st.dir.path()).toStdString();
    ASSERT_TRUE(st.server.waitForMails(2, 15000)) << readDebugLog(st.dir.path()).toStdString();
    EXPECT_TRUE(st.mailLines(1).value(0).endsWith(QStringLiteral("  1号主变差动保护动作")));
    QElapsedTimer marked;
    marked.start();
    auto onlySwitchMark = [&] {
        const auto entries = markEntries(st.dir.path());
        return entries.size() == 1 && entries[0].index == 1;
    };
    while (!onlySwitchMark() && marked.elapsed() < 10000) {
        QThread::msleep(50);
    }
    ASSERT_TRUE(onlySwitchMark());

    ASSERT_TRUE(writeFile(flag, {}));
    ASSERT_TRUE(st.station.waitForOutput("qorsmail-driver: step 2 done")) << st.station.output().toStdString();
    QThread::msleep(500); // the exit question is open
    ASSERT_GT(st.station.pid(), 0);
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(st.station.terminate(), 0);
    EXPECT_LT(timer.elapsed(), 1000);
    EXPECT_TRUE(readDebugLog(st.dir.path()).contains(text(LangText::QorsmailMain_Str::Str2)));
    const auto left = markEntries(st.dir.path());
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].index, 1);
    EXPECT_EQ(st.server.mails().size(), 2);
}

// An event that the station had not read when its ring was deleted is read from the deleted file and mailed; the
// mail of its task goes on with the events of the new ring. A copy of the ring put back over the path (another
// file, the same events) is read from its first new event: its old events are never mailed again.
TEST(RingFaults, EventsOfADeletedRingAreMailedAndACopyPutBackIsNotReadAgain)
{
    auto post = [](const QString& what) { return PostEvent(3, 1, Gbk::encode(what).constData(), nullptr) >= 0; };
    TRingStation st;
    st.files.addEventTask(QStringLiteral("事故报告"), 1, QStringLiteral("差动保护"));
    st.files.addEventTask(QStringLiteral("开关报告"), 1, QStringLiteral("开关分闸"));
    ASSERT_TRUE(st.start()) << st.station.output().toStdString();
    ASSERT_TRUE(post(QStringLiteral("1号主变差动保护动作")));
    ASSERT_TRUE(QFile::remove(st.ring()));
    ASSERT_TRUE(post(QStringLiteral("2号开关分闸"))); // into a new ring
    ASSERT_TRUE(st.server.waitForMails(2, 15000)) << readDebugLog(st.dir.path()).toStdString();
    QStringList first = st.mailLines(0);
    QStringList second = st.mailLines(1);
    if (second.value(0).endsWith(QStringLiteral("  1号主变差动保护动作"))) {
        std::swap(first, second);
    }
    ASSERT_EQ(first.size(), 2) << first.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(first[0].endsWith(QStringLiteral("  1号主变差动保护动作")));
    EXPECT_TRUE(first[1].endsWith(QStringLiteral("  2号开关分闸")));
    ASSERT_EQ(second.size(), 1) << second.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(second[0].endsWith(QStringLiteral("  2号开关分闸")));
    EXPECT_TRUE(readDebugLog(st.dir.path()).contains(text(LangText::RingSwitch_Str::Str1).arg(st.ring()).arg(1)));

    QFile ring(st.ring());
    ASSERT_TRUE(ring.open(QIODevice::ReadOnly));
    const QByteArray copy = ring.readAll(); // holds 2号开关分闸
    ring.close();
    ASSERT_TRUE(post(QStringLiteral("3号开关分闸")));
    ASSERT_TRUE(st.server.waitForMails(3, 15000)) << readDebugLog(st.dir.path()).toStdString();
    EXPECT_EQ(st.mailLines(2).size(), 1);
    const QString copyPath = st.ring() + QStringLiteral(".copy");
    ASSERT_TRUE(writeFile(copyPath, copy));
    ASSERT_EQ(::rename(QFile::encodeName(copyPath).constData(), QFile::encodeName(st.ring()).constData()), 0);
    ASSERT_TRUE(post(QStringLiteral("4号开关分闸")));
    ASSERT_TRUE(st.server.waitForMails(4, 15000)) << readDebugLog(st.dir.path()).toStdString();
    const QStringList fourth = st.mailLines(3);
    ASSERT_EQ(fourth.size(), 1) << fourth.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(fourth[0].endsWith(QStringLiteral("  4号开关分闸")));
    QThread::msleep(2500);
    EXPECT_EQ(st.server.mails().size(), 4);
    EXPECT_TRUE(st.waitForLine(LangText::RingSwitch_Str::Str2)) << readDebugLog(st.dir.path()).toStdString();
    EXPECT_EQ(st.station.terminate(), 0);
}
