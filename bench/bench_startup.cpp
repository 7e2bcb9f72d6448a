// SPDX-License-Identifier: MIT
// Start-up of the station: from process start to the main window shown, with a task file of 100 tasks, beside
// a minimal Qt Widgets window started the same way in the same run (this program with --baseline-window).
// Both print a line once their window is shown and its first events have been handled; the station's resident
// memory is read from /proc at that moment. Target: station <= 1.5 x baseline, compared by medians. A third
// start, the same baseline with libcurl and its libraries preloaded, tells the cost of loading the mail library
// apart from the station's own work (ratio_to_curl_baseline).
// BM_Station2000TasksVs100: the station with 2000 event tasks against the same with 100 tasks (50 of each
// kind), started in turn; target: the 2000-task start within 1.2 x the 100-task start, by medians.

#include "../tests/e2e/StationProcess.h"
#include "QorsmailFunc.h"

#include <QApplication>
#include <QCoreApplication>
#include <QLabel>
#include <QMainWindow>
#include <QTimer>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

QString g_self;

// VmRSS of a process in kB, 0 when it cannot be read.
double residentKb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) {
        return 0;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).trimmed().split(' ').value(0).toDouble();
        }
    }
    return 0;
}

// 50 tasks of each kind, then `extraEvents` more event tasks.
void writeTaskFile(const QString& workDir, int extraEvents = 0)
{
    QDir().mkpath(workDir + QStringLiteral("CfgCache"));
    TMailTables tables;
    SetTaskDefaults(tables);
    for (int i = 0; i < 50 + extraEvents; ++i) {
        if (i >= 50) {
            tables.EventTasks.append(tables.EventTasks.task(i % 50));
            continue;
        }
        TEventMailTask event{};
        event.LevelMask = -1;
        event.ReceiverCount = 1;
        Gbk::storeField(event.Receivers[0].Addr, QStringLiteral("duty@example.cn"));
        Gbk::storeField(event.Title, QStringLiteral("事件邮件 %1").arg(i));
        tables.EventTasks.append(event);
        TReportMailTask report{};
        report.SendType = 1;
        report.ReceiverCount = 1;
        Gbk::storeField(report.Receivers[0].Addr, QStringLiteral("duty@example.cn"));
        Gbk::storeField(report.Title, QStringLiteral("报表邮件 %1").arg(i));
        tables.ReportTasks.append(report);
    }
    QFile file(workDir + QStringLiteral("CfgCache/qorsmail.cfg"));
    if (file.open(QIODevice::WriteOnly)) {
        file.write(TaskFileBytes(tables));
    }
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0 : (n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2);
}

// Milliseconds from start to the "window shown" line; -1 when it never came.
double timeToWindow(QProcess& process,
    const QString& program,
    const QStringList& args,
    const QProcessEnvironment& env,
    const QByteArray& line,
    double* rssKb)
{
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    QElapsedTimer timer;
    timer.start();
    process.start(program, args);
    QByteArray out;
    while (!out.contains(line)) {
        if (timer.elapsed() > 20000 || !process.waitForReadyRead(20000)) {
            return -1;
        }
        out += process.readAll();
    }
    const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    if (rssKb) {
        *rssKb = residentKb(process.processId());
    }
    process.terminate();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(5000);
    }
    return ms;
}

void BM_StationStartupVsBaseline(benchmark::State& state)
{
    TStationLock lock;
    QTemporaryDir dir;
    const QString workDir = dir.path() + QLatin1Char('/');
    writeTaskFile(workDir);
    const QProcessEnvironment env = TStation::environment(workDir);

    std::vector<double> stationMs;
    std::vector<double> baselineMs;
    std::vector<double> curlBaselineMs;
    QProcessEnvironment curlEnv = env;
    curlEnv.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral("libcurl.so.4"));
    double rss = 0;
    for (auto _ : state) {
        // One of each per iteration, so a slow spell of the machine hits both alike.
        QProcess baseline;
        const double b = timeToWindow(
            baseline, g_self, {QStringLiteral("--baseline-window")}, env, "baseline: window shown", nullptr);
        QProcess curlBaseline;
        const double c = timeToWindow(
            curlBaseline, g_self, {QStringLiteral("--baseline-window")}, curlEnv, "baseline: window shown", nullptr);
        QProcess station;
        const double s =
            timeToWindow(station, binPath(QStringLiteral("qormail")), {}, env, "qormail: main window shown", &rss);
        if (b < 0 || c < 0 || s < 0) {
            state.SkipWithError("a window never showed");
            return;
        }
        state.SetIterationTime(s / 1000.0);
        stationMs.push_back(s);
        baselineMs.push_back(b);
        curlBaselineMs.push_back(c);
    }
    // Medians: a start-up now and then delayed by the rest of the machine says nothing about either program.
    const double station = median(stationMs);
    const double base = median(baselineMs);
    state.counters["station_ms"] = station;
    state.counters["baseline_ms"] = base;
    state.counters["ratio"] = station / base;
    state.counters["curl_baseline_ms"] = median(curlBaselineMs);
    state.counters["ratio_to_curl_baseline"] = station / median(curlBaselineMs);
    state.counters["station_rss_kB"] = rss;
}
BENCHMARK(BM_StationStartupVsBaseline)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);

void BM_Station2000TasksVs100(benchmark::State& state)
{
    TStationLock lock;
    QTemporaryDir small;
    QTemporaryDir large;
    const QString smallDir = small.path() + QLatin1Char('/');
    const QString largeDir = large.path() + QLatin1Char('/');
    writeTaskFile(smallDir);
    writeTaskFile(largeDir, 2000 - 50);
    std::vector<double> smallMs;
    std::vector<double> largeMs;
    const QString station = binPath(QStringLiteral("qormail"));
    for (auto _ : state) {
        QProcess a;
        const double s =
            timeToWindow(a, station, {}, TStation::environment(smallDir), "qormail: main window shown", nullptr);
        QProcess b;
        const double l =
            timeToWindow(b, station, {}, TStation::environment(largeDir), "qormail: main window shown", nullptr);
        if (s < 0 || l < 0) {
            state.SkipWithError("a window never showed");
            return;
        }
        state.SetIterationTime(l / 1000.0);
        smallMs.push_back(s);
        largeMs.push_back(l);
    }
    state.counters["ms_100_tasks"] = median(smallMs);
    state.counters["ms_2000_tasks"] = median(largeMs);
    state.counters["ratio"] = median(largeMs) / median(smallMs);
}
BENCHMARK(BM_Station2000TasksVs100)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

// The smallest Qt Widgets program that shows a main window, started and timed exactly like the station.
int runBaselineWindow(int argc, char** argv)
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("baseline"));
    window.setCentralWidget(new QLabel(QStringLiteral("基线窗口")));
    window.resize(797, 457);
    window.show();
    QTimer::singleShot(0, &window, [] { std::fprintf(stderr, "baseline: window shown\n"); });
    return QApplication::exec();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--baseline-window") == 0) {
        return runBaselineWindow(argc, argv);
    }
    QCoreApplication app(argc, argv);
    g_self = QCoreApplication::applicationFilePath();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
