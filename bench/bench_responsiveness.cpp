// SPDX-License-Identifier: MIT
// The main thread's event loop while a send waits on a server that delays each reply by 2 s: a 10 ms timer's
// worst lateness over the whole exchange (counter worst_late_ms; the target is at most 20 ms).

#include "CoreTestApp.h"
#include "SmtpSession.h"
#include "SmtpTestServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <benchmark/benchmark.h>

namespace {

void BM_SlowServerResponsiveness(benchmark::State& state)
{
    coreTestApp();

    SmtpTest::SmtpTestServer server;
    if (!server.start(QStringLiteral("slow"), 2.0)) {
        state.SkipWithError(server.error().toStdString().c_str());
        return;
    }
    TCurlSmtpSession session;
    TSmtpConnection c;
    c.host = "127.0.0.1";
    c.port = server.port();
    session.configure(c);
    TOutgoingMail mail;
    mail.from = "station@plant.example.cn";
    mail.recipients = {"ops@example.cn"};
    mail.headers = {"Subject: slow", "MIME-Version: 1.0"};
    mail.hasText = true;
    mail.textType = "text/plain; charset=GB18030";
    mail.text = "line\r\n";

    for (auto _ : state) {
        QElapsedTimer clock;
        qint64 last = 0;
        qint64 worst = 0;
        int ticks = 0;
        QTimer timer;
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, [&] {
            const qint64 now = clock.nsecsElapsed();
            worst = std::max(worst, now - last - 10'000'000);
            last = now;
            ++ticks;
        });
        clock.start();
        timer.start(10);
        const TSmtpResult r = session.send(mail);
        timer.stop();
        if (!r.ok) {
            state.SkipWithError(r.errorText.toStdString().c_str());
            return;
        }
        state.SetIterationTime(static_cast<double>(clock.nsecsElapsed()) / 1e9);
        state.counters["worst_late_ms"] = static_cast<double>(worst) / 1e6;
        state.counters["ticks"] = ticks;
    }
}

} // namespace

BENCHMARK(BM_SlowServerResponsiveness)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

BENCHMARK_MAIN();
