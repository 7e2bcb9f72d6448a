// SPDX-License-Identifier: MIT
// From an event posted with `qorslog post` to the SMTP server accepting its mail: the real station (offscreen)
// on a quiet ring, the real SMTP test server on 127.0.0.1, 50 alarms for a task with no wait and 50 for one
// with a 2 s wait, one at a time, each after a pause of 0.3 to 1 s (so the events fall at every phase of the
// station's timers). Measured between the event's own time stamp (the library stamps it as qorslog writes it)
// and the server's capture file of the accepted mail (written before it answers 250), both on the wall
// clock. Counters: worst_ms and median_ms from event to mail, worst_beyond_wait_ms; the target is a worst of
// the wait + 250 ms.
// BM_IdleStation2000Tasks: the station's CPU time (all its threads, from /proc/<pid>/task/*/schedstat) over
// 60 s with 2000 event tasks and nothing written to the ring; target: at most 0.2 % of a core.
// BM_Storm20000PerSecond: `qorslog generate` writes 20,000 events a second for 30 s into the ring of a station
// with three event tasks; counters: events lost (the station's own count of every read), overrun lines in
// the debug log, reads, the most new events one read found. Target: nothing lost.

#include "../tests/e2e/StationFiles.h"
#include "../tests/e2e/StationProcess.h"
#include "SmtpTestServer.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <vector>

namespace {

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0 : (n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2);
}

// One station with its own working directory and SMTP server.
struct TAlarmStation
{
    TStationLock lock;
    QTemporaryDir dir;
    QString workDir = dir.path() + QLatin1Char('/');
    TStationFiles files;
    SmtpTest::SmtpTestServer server;
    TStation station{workDir};

    bool start()
    {
        if (!server.start() || !files.write(workDir, server.port())) {
            return false;
        }
        station.start();
        return station.waitForWindow();
    }
};

// Posts one event with qorslog and returns its time stamp as the ring holds it (ms since the epoch), -1 on
// failure.
qint64 postAlarm(const QString& workDir, const QString& text)
{
    QByteArray out;
    if (!runTool(workDir,
            QStringLiteral("qorslog"),
            {QStringLiteral("post"),
                QStringLiteral("--type"),
                QStringLiteral("4"),
                QStringLiteral("--level"),
                QStringLiteral("1"),
                text},
            &out)) {
        return -1;
    }
    const QString pos = QString::fromUtf8(out).trimmed();
    if (!runTool(workDir, QStringLiteral("qorslog"), {QStringLiteral("dump"), pos, QStringLiteral("1")}, &out)) {
        return -1;
    }
    // "POS  yyyy-MM-dd hh:mm:ss.zzz  type T  level L  TEXT"
    static const QRegularExpression stamp(QStringLiteral("\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3}"));
    const QRegularExpressionMatch m = stamp.match(QString::fromUtf8(out));
    const QDateTime at =
        m.hasMatch() ? QDateTime::fromString(m.captured(), QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")) : QDateTime();
    return at.isValid() ? at.toMSecsSinceEpoch() : -1;
}

void BM_EventToMailAccepted(benchmark::State& state)
{
    const int waitSec = static_cast<int>(state.range(0));
    TAlarmStation st;
    st.files.addEventTask(QStringLiteral("跳闸告警"), waitSec, QStringLiteral("跳闸"));
    if (!st.start()) {
        state.SkipWithError("the station or the SMTP server did not start");
        return;
    }
    QThread::msleep(2000);
    std::vector<double> latencies;
    int n = 0;
    for (auto _ : state) {
        QThread::msleep(static_cast<unsigned long>(300 + n * 137 % 700));
        const qint64 posted = postAlarm(st.workDir, QStringLiteral("3#馈线断路器跳闸 %1").arg(n));
        if (posted < 0 || !st.server.waitForMails(n + 1, 15000)) {
            state.SkipWithError("an alarm was not mailed");
            return;
        }
        const QString mail = st.server.mails().last();
        const double ms = double(QFileInfo(mail).lastModified().toMSecsSinceEpoch() - posted);
        state.SetIterationTime(ms / 1000.0);
        latencies.push_back(ms);
        ++n;
    }
    const double worst = *std::max_element(latencies.begin(), latencies.end());
    state.counters["worst_ms"] = worst;
    state.counters["median_ms"] = median(latencies);
    state.counters["best_ms"] = *std::min_element(latencies.begin(), latencies.end());
    state.counters["worst_beyond_wait_ms"] = worst - waitSec * 1000.0;
    state.counters["wait_s"] = waitSec;
}
BENCHMARK(BM_EventToMailAccepted)->Arg(0)->Arg(2)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(50);

// CPU time of every thread of the process so far, in seconds.
double processCpuSeconds(qint64 pid)
{
    double total = 0;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile f(tasks.filePath(tid) + QStringLiteral("/schedstat"));
        if (f.open(QIODevice::ReadOnly)) {
            total += f.readAll().split(' ').value(0).toDouble() / 1e9;
        }
    }
    return total;
}

void BM_IdleStation2000Tasks(benchmark::State& state)
{
    TAlarmStation st;
    for (int i = 0; i < 2000; ++i) {
        st.files.addEventTask(QStringLiteral("事件邮件 %1").arg(i), i % 5, QStringLiteral("关键字%1").arg(i));
    }
    if (!st.start()) {
        state.SkipWithError("the station or the SMTP server did not start");
        return;
    }
    QThread::msleep(5000); // past the start-up's own work
    double percent = 0;
    for (auto _ : state) {
        const double before = processCpuSeconds(st.station.pid());
        QElapsedTimer wall;
        wall.start();
        QThread::msleep(60000);
        const double cpu = processCpuSeconds(st.station.pid()) - before;
        percent = cpu / (double(wall.nsecsElapsed()) / 1e9) * 100.0;
        state.SetIterationTime(cpu);
    }
    state.counters["cpu_percent"] = percent;
}
BENCHMARK(BM_IdleStation2000Tasks)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_Storm20000PerSecond(benchmark::State& state)
{
    constexpr int Rate = 20000;
    constexpr int Seconds = 30;
    TAlarmStation st;
    st.files.addEventTask(QStringLiteral("检查甲"), 0, QStringLiteral("馈线甲跳闸"));
    st.files.addEventTask(QStringLiteral("检查乙"), 5, QStringLiteral("断路器"));
    st.files.addEventTask(QStringLiteral("检查丙"), 60, QStringLiteral("不会出现的关键字"));
    if (!st.start()) {
        state.SkipWithError("the station or the SMTP server did not start");
        return;
    }
    QThread::msleep(2000);
    for (auto _ : state) {
        QProcess writer;
        writer.setProcessEnvironment(TStation::environment(st.workDir));
        QElapsedTimer wall;
        wall.start();
        writer.start(binPath(QStringLiteral("qorslog")),
            {QStringLiteral("generate"),
                QStringLiteral("--rate"),
                QString::number(Rate),
                QStringLiteral("--count"),
                QString::number(Rate * Seconds)});
        while (writer.state() != QProcess::NotRunning && wall.elapsed() < (Seconds + 30) * 1000) {
            writer.waitForFinished(200);
            st.station.output(); // the station's lines are read as they come, so its pipe never fills
        }
        if (writer.state() != QProcess::NotRunning || writer.exitCode() != 0) {
            state.SkipWithError("qorslog generate failed");
            return;
        }
        state.SetIterationTime(double(wall.nsecsElapsed()) / 1e9);
        state.counters["writer_s"] = double(wall.nsecsElapsed()) / 1e9;
    }
    QThread::msleep(1000); // the last reads
    st.station.terminate();
    static const QRegularExpression read(QStringLiteral("events read (\\d+) of (\\d+) new, (\\d+) lost"));
    double reads = 0;
    double most = 0;
    double fresh = 0;
    double lost = 0;
    for (auto it = read.globalMatch(QString::fromUtf8(st.station.output())); it.hasNext();) {
        const QRegularExpressionMatch r = it.next();
        ++reads;
        most = std::max(most, r.captured(2).toDouble());
        fresh += r.captured(2).toDouble();
        lost += r.captured(3).toDouble();
    }
    state.counters["events_seen"] = fresh;
    state.counters["lost"] = lost;
    state.counters["overrun_lines"] = double(readDebugLog(st.workDir).count(QStringLiteral("事件记录缓冲区溢出")));
    state.counters["reads"] = reads;
    state.counters["most_new_in_one_read"] = most;
    if (fresh != double(Rate) * Seconds) {
        state.SkipWithError("the station did not account for every event");
    }
}
BENCHMARK(BM_Storm20000PerSecond)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
