// SPDX-License-Identifier: MIT
// PostEvent from one process into the ring on a temporary working directory: the exclusive lock, the record and
// the published write position for every event. Also reading the whole ring once.

#include "GbkCodec.h"
#include "TempWorkDir.h"

#include <QString>
#include <benchmark/benchmark.h>
#include <vector>

namespace {

void BM_PostEvent(benchmark::State& st)
{
    TTempWorkDir dir;
    if (dir.initResult() != 0) {
        st.SkipWithError("InitLogLibrary failed");
        return;
    }
    const QByteArray text = Gbk::encode(QStringLiteral("1号主变 差动保护动作，差流 428 A"));
    const QorvaneSystemTime when{2026, 3, 6, 14, 9, 26, 53, 589};
    const bool withTime = st.range(0) != 0;
    for (auto _ : st) {
        const int32_t pos = PostEvent(20, 1, text.constData(), withTime ? &when : nullptr);
        benchmark::DoNotOptimize(pos);
    }
    st.SetItemsProcessed(int64_t(st.iterations()));
}
BENCHMARK(BM_PostEvent)->ArgName("givenTime")->Arg(0)->Arg(1);

void BM_ReadWholeRing(benchmark::State& st)
{
    TTempWorkDir dir;
    for (int i = 0; i < QORSLOG_RING_SIZE; ++i) {
        PostEvent(1, 1, "abc", nullptr);
    }
    std::vector<EventRecord> buffer(5000);
    for (auto _ : st) {
        int32_t end = 0;
        int32_t start = 0;
        int32_t count = 5000;
        ReadEvents(&end, &start, &count, 5000, buffer.data());
        benchmark::DoNotOptimize(buffer.data());
    }
    st.SetItemsProcessed(int64_t(st.iterations()) * 5000);
}
BENCHMARK(BM_ReadWholeRing)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
