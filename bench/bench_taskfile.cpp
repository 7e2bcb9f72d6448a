// SPDX-License-Identifier: MIT
// Loading a task file of 1000 event and 1000 report tasks (~18 MB) against a plain read of the same file into
// memory: the loader reads each section straight into its table, so it should cost little more than the read.

#include "GbkCodec.h"
#include "QorsmailDef.h"
#include "QorsmailFunc.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int TaskCount = 1000;

struct TBenchFile
{
    QTemporaryDir dir;
    TMailTables tables;
    QString path;
    int64_t size = 0;

    TBenchFile()
    {
        if (!dir.isValid() || !QDir().mkpath(dir.filePath(QStringLiteral("CfgCache")))) {
            std::abort();
        }
        TMailTables t;
        SetTaskDefaults(t);
        for (int i = 0; i < 50; ++i) {
            TMailAddr a{};
            Gbk::storeField(a.Name, QStringLiteral("联系人%1").arg(i));
            Gbk::storeField(a.Addr, QStringLiteral("user%1@plant.example").arg(i));
            t.AddrBook.push_back(a);
        }
        for (int i = 0; i < TaskCount; ++i) {
            TEventMailTask e{};
            e.TypeCount = 1;
            e.Types[0] = static_cast<int16_t>(1 + i % 16);
            e.LevelMask = -1;
            e.WaitSec = 60;
            e.ReceiverCount = 100;
            for (auto& r : e.Receivers) {
                Gbk::storeField(r.Addr, QStringLiteral("duty%1@plant.example").arg(i));
            }
            Gbk::storeField(e.Title, QStringLiteral("事件邮件 %1").arg(i));
            t.EventTasks.append(e);
            TReportMailTask r{};
            r.FileCount = 10;
            for (auto& f : r.Files) {
                Gbk::storeField(f, QStringLiteral("/srv/报表/日报%1*.xls").arg(i));
            }
            r.SendType = 1;
            r.ReceiverCount = 100;
            for (auto& a : r.Receivers) {
                Gbk::storeField(a.Addr, QStringLiteral("boss%1@plant.example").arg(i));
            }
            Gbk::storeField(r.Title, QStringLiteral("日报 %1").arg(i));
            t.ReportTasks.append(r);
        }
        const QByteArray bytes = TaskFileBytes(t);
        size = bytes.size();
        path = dir.filePath(QStringLiteral("CfgCache/qorsmail.cfg"));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) {
            std::abort();
        }
        f.close();
        SetTaskDefaults(tables);
        Gbk::storeField(tables.WorkDir, dir.path() + QLatin1Char('/'));
    }
};

TBenchFile& benchFile()
{
    static TBenchFile file;
    return file;
}

// The yardstick: open, learn the size, allocate a buffer and read the whole file into it.
void BM_PlainRead(benchmark::State& state)
{
    TBenchFile& file = benchFile();
    const QByteArray native = QFile::encodeName(file.path);
    for (auto _ : state) {
        const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC);
        struct stat st;
        ::fstat(fd, &st);
        QByteArray buffer(static_cast<qsizetype>(st.st_size), Qt::Uninitialized);
        qsizetype done = 0;
        while (done < buffer.size()) {
            const ssize_t n = ::read(fd, buffer.data() + done, static_cast<size_t>(buffer.size() - done));
            if (n <= 0) {
                break;
            }
            done += n;
        }
        ::close(fd);
        benchmark::DoNotOptimize(buffer.data());
        if (done != file.size) {
            state.SkipWithError("short read");
        }
    }
    state.SetBytesProcessed(state.iterations() * file.size);
}
BENCHMARK(BM_PlainRead)->Unit(benchmark::kMillisecond);

void BM_LoadTaskFile(benchmark::State& state)
{
    TBenchFile& file = benchFile();
    for (auto _ : state) {
        // A fresh table each time, as at start-up: the loader allocates, it does not reuse.
        TMailTables t;
        SetTaskDefaults(t);
        std::memcpy(t.WorkDir, file.tables.WorkDir, sizeof(t.WorkDir));
        if (!LoadTaskFile(t) || t.EventTaskCount() != TaskCount || t.ReportTaskCount() != TaskCount) {
            state.SkipWithError("load failed");
        }
        benchmark::DoNotOptimize(t.EventTasks.taskData());
    }
    state.SetBytesProcessed(state.iterations() * file.size);
}
BENCHMARK(BM_LoadTaskFile)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
