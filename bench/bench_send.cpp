// SPDX-License-Identifier: MIT
// 200 event mails to the local test server through the station's own composer and session, against a bare
// libcurl loop that uploads the same 200 messages (the bytes the station produced), measured in the same run.
// Counters: station_ms, bare_ms (200 mails each) and ratio = station / bare.

#include "CoreTestApp.h"
#include "FakeLogLibrary.h"
#include "MailComposer.h"
#include "SmtpSession.h"
#include "SmtpTestServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <benchmark/benchmark.h>
#include <cstring>
#include <curl/curl.h>

namespace {

constexpr int Mails = 200;

struct TUpload
{
    const QByteArray* data;
    size_t offset = 0;
};

size_t readUpload(char* buffer, size_t size, size_t count, void* user)
{
    auto* up = static_cast<TUpload*>(user);
    const size_t left = static_cast<size_t>(up->data->size()) - up->offset;
    const size_t n = std::min(left, size * count);
    std::memcpy(buffer, up->data->constData() + up->offset, n);
    up->offset += n;
    return n;
}

bool bareSend(int port, const QByteArray& message)
{
    CURL* h = curl_easy_init();
    const QByteArray url = "smtp://127.0.0.1:" + QByteArray::number(port);
    curl_slist* rcpt = curl_slist_append(nullptr, "<ops@example.cn>");
    TUpload up{&message};
    curl_easy_setopt(h, CURLOPT_URL, url.constData());
    curl_easy_setopt(h, CURLOPT_MAIL_FROM, "<station@plant.example.cn>");
    curl_easy_setopt(h, CURLOPT_MAIL_RCPT, rcpt);
    curl_easy_setopt(h, CURLOPT_READFUNCTION, readUpload);
    curl_easy_setopt(h, CURLOPT_READDATA, &up);
    curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
    const CURLcode rc = curl_easy_perform(h);
    curl_slist_free_all(rcpt);
    curl_easy_cleanup(h);
    return rc == CURLE_OK;
}

void BM_EventMails(benchmark::State& state)
{
    coreTestApp();

    SmtpTest::SmtpTestServer server;
    if (!server.start(QStringLiteral("plain"))) {
        state.SkipWithError(server.error().toStdString().c_str());
        return;
    }
    TMailTables tables;
    Gbk::storeFieldBytes(tables.SmtpSettings.LocalEmailAddr, "station@plant.example.cn");
    TFakeLogLibrary log;
    for (int i = 0; i < 20; ++i) {
        log.putEvent(i, 3, 1, QString::fromUtf8("%1号主变差动保护动作，跳闸出口").arg(i), 1720000000 + i);
    }
    TManualClock clock(MakeSystemTime(2024, 7, 3, 14, 5, 0, 250));
    TCurlSmtpSession session;
    TSmtpConnection c;
    c.host = "127.0.0.1";
    c.port = server.port();
    session.configure(c);
    TComposeContext context{tables, log, clock, session, "SCADA1", [](const QString&) {}, {}};
    TEventMailTask task{};
    Gbk::storeField(task.Title, QString::fromUtf8("事件报告"));
    task.ReceiverCount = 1;
    Gbk::storeField(task.Receivers[0].Name, QString::fromUtf8("值班员"));
    Gbk::storeFieldBytes(task.Receivers[0].Addr, "ops@example.cn");
    const TEventTaskState range{2, 0, 20, {}, 0};

    // The station's message, as the server received it, is what the bare loop uploads.
    if (!SendEventMail(context, task, range) || !server.waitForMails(1)) {
        state.SkipWithError("the first mail did not arrive");
        return;
    }
    QFile sample(server.mails().front());
    sample.open(QIODevice::ReadOnly);
    const QByteArray message = sample.readAll();

    for (auto _ : state) {
        QElapsedTimer t;
        t.start();
        int ok = 0;
        for (int i = 0; i < Mails; ++i) {
            ok += SendEventMail(context, task, range) ? 1 : 0;
        }
        const double stationMs = static_cast<double>(t.nsecsElapsed()) / 1e6;
        t.restart();
        int bareOk = 0;
        for (int i = 0; i < Mails; ++i) {
            bareOk += bareSend(server.port(), message) ? 1 : 0;
        }
        const double bareMs = static_cast<double>(t.nsecsElapsed()) / 1e6;
        if (ok != Mails || bareOk != Mails) {
            state.SkipWithError("a mail failed");
            return;
        }
        state.SetIterationTime(stationMs / 1000.0);
        state.counters["station_ms"] = stationMs;
        state.counters["bare_ms"] = bareMs;
        state.counters["ratio"] = stationMs / bareMs;
    }
}

} // namespace

BENCHMARK(BM_EventMails)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

BENCHMARK_MAIN();
