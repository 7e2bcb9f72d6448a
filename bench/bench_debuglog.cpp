// SPDX-License-Identifier: MIT
// What one debug-log line costs: lock, line-end check, seek, one write, unlock. The target is at most 50 µs
// median per line with no other writer. Each run reports the median of the single calls as "median_us".
#include "DebugFile.h"

#include <QTemporaryDir>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <vector>

namespace {

void report(benchmark::State& state, std::vector<double>& micros)
{
    if (micros.empty()) {
        return;
    }
    std::nth_element(micros.begin(), micros.begin() + micros.size() / 2, micros.end());
    state.counters["median_us"] = micros[micros.size() / 2];
}

void BM_WriteLine(benchmark::State& state)
{
    QTemporaryDir dir;
    TDebugClass log(dir.filePath(QStringLiteral("QorMail.log")));
    if (!log.isActive()) {
        state.SkipWithError("log not opened");
        return;
    }
    const QString text =
        QStringLiteral("2026-12-9 14:05:09.007, 发送事件邮件 Qorvane 事件报告邮件(2026-12-9 14:05:04.001) 成功！");
    std::vector<double> micros;
    micros.reserve(1 << 20);
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(log.WriteLine(text));
        micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
    }
    report(state, micros);
    state.SetItemsProcessed(state.iterations());
}

void BM_WriteTimed(benchmark::State& state)
{
    QTemporaryDir dir;
    TDebugClass log(dir.filePath(QStringLiteral("QorMail.log")));
    if (!log.isActive()) {
        state.SkipWithError("log not opened");
        return;
    }
    const QString text = QStringLiteral("发送报表邮件 Qorvane 报表邮件 成功！");
    std::vector<double> micros;
    micros.reserve(1 << 20);
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(log.WriteTimed(text));
        micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
    }
    report(state, micros);
    state.SetItemsProcessed(state.iterations());
}

} // namespace

// Default statistics of the repetitions include the median.
BENCHMARK(BM_WriteLine)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_WriteTimed)->Repetitions(5)->ReportAggregatesOnly(true);

BENCHMARK_MAIN();
