// SPDX-License-Identifier: MIT
#include "SmtpSession.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QSysInfo>
#include <algorithm>
#include <atomic>
#include <curl/curl.h>
#include <memory>
#include <thread>

// libcurl 7.88 spells the option with three L; later versions add the corrected name.
#ifndef CURLOPT_MAIL_RCPT_ALLOWFAILS
#define CURLOPT_MAIL_RCPT_ALLOWFAILS CURLOPT_MAIL_RCPT_ALLLOWFAILS
#endif

namespace {

QByteArray trimLineEnd(QByteArray line)
{
    while (!line.isEmpty() && (line.endsWith('\n') || line.endsWith('\r'))) {
        line.chop(1);
    }
    return line;
}

// What the debug callback collects: curl reports a refused command only by its code, the server's words are in
// the reply line.
struct TExchangeTrace
{
    QByteArray lastCommand;
    QByteArray lastErrorReply;
    QStringList refusedRecipients;
    bool recipientOffered = false; // a RCPT TO went out: a failure from here on is no longer the relay's as a whole
};

int onDebug(CURL*, curl_infotype type, char* data, size_t size, void* user)
{
    auto* trace = static_cast<TExchangeTrace*>(user);
    if (type == CURLINFO_HEADER_OUT) {
        trace->lastCommand = trimLineEnd(QByteArray(data, static_cast<qsizetype>(size)));
        trace->recipientOffered = trace->recipientOffered || trace->lastCommand.startsWith("RCPT TO:");
    } else if (type == CURLINFO_HEADER_IN) {
        const QByteArray line = trimLineEnd(QByteArray(data, static_cast<qsizetype>(size)));
        const bool finalLine = line.size() < 4 || line[3] != '-';
        if (line.size() >= 3 && (line[0] == '4' || line[0] == '5') && finalLine) {
            trace->lastErrorReply = line;
            if (trace->lastCommand.startsWith("RCPT TO:")) {
                trace->refusedRecipients.append(
                    QString::fromLatin1(trace->lastCommand.mid(8)) + QStringLiteral(": ") + QString::fromUtf8(line));
            }
        }
    }
    return 0;
}

// The handles of one transfer, released whatever happens.
struct TEasy
{
    CURL* handle = curl_easy_init();
    curl_mime* mime = nullptr;
    curl_slist* headers = nullptr;
    curl_slist* recipients = nullptr;
    std::vector<curl_slist*> partHeaders;

    TEasy() = default;
    TEasy(const TEasy&) = delete;
    TEasy& operator=(const TEasy&) = delete;
    ~TEasy()
    {
        curl_mime_free(mime);
        curl_slist_free_all(headers);
        curl_slist_free_all(recipients);
        for (auto* list : partHeaders) {
            curl_slist_free_all(list);
        }
        if (handle != nullptr) {
            curl_easy_cleanup(handle);
        }
    }
};

// curl's global set-up, once per run and before the first handle; a static's initialisation is thread-safe, and
// the set-up is never undone, as other libraries may still hold TLS state at exit.
bool curlReady()
{
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ready;
}

bool hasLineBreakOrNul(const QByteArray& text)
{
    return text.contains('\r') || text.contains('\n') || text.contains('\0');
}

// This machine's name for EHLO, when it is a plain host name.
QByteArray heloName()
{
    static const QByteArray name = [] {
        const QByteArray n = QSysInfo::machineHostName().toLatin1();
        const bool plain = !n.isEmpty() && n.size() <= 253 && std::all_of(n.begin(), n.end(), [](char ch) {
            return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') || ch == '-'
                || ch == '.';
        });
        return plain ? n : QByteArray();
    }();
    return name;
}

TSmtpResult failure(const QString& text)
{
    TSmtpResult result;
    result.errorText = text;
    return result;
}

// A relay that cannot be reached as set (no host, a host or port no connection can use) fails as a whole.
TSmtpResult relayFailure(const QString& text)
{
    TSmtpResult result = failure(text);
    result.relayFailed = true;
    return result;
}

QString relayName(const TSmtpConnection& c)
{
    return QString::fromLatin1(c.host.toPercentEncoding(":[]")) + QLatin1Char(':') + QString::number(c.port);
}

} // namespace

TCurlSmtpSession::TCurlSmtpSession() = default;

void TCurlSmtpSession::setTimeouts(long connectMs, long idleSeconds, long totalSeconds)
{
    m_connectTimeoutMs = connectMs;
    m_idleTimeoutSeconds = idleSeconds;
    m_totalTimeoutSeconds = totalSeconds;
}

TSmtpResult TCurlSmtpSession::send(const TOutgoingMail& mail)
{
    if (QCoreApplication::instance() == nullptr) {
        return sendBlocking(mail);
    }
    // The worker gets its own copies: the caller's objects may change while the nested loop runs.
    auto shared = std::make_shared<TOutgoingMail>(mail);
    const TExchangeOptions options = exchangeOptions();
    TSmtpResult result;
    std::atomic<bool> done{false};
    QEventLoop loop;
    std::thread worker([options, shared, &result, &done, &loop] {
        result = perform(options, *shared);
        done = true;
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    // The application quitting ends every nested loop at once and refuses new ones; the window keeps
    // working until the exchange is over rather than freezing in join(). The worker's quit call wakes it.
    while (!done) {
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    }
    worker.join();
    return result;
}

TSmtpResult TCurlSmtpSession::sendBlocking(const TOutgoingMail& mail) const
{
    return perform(exchangeOptions(), mail);
}

TCurlSmtpSession::TExchangeOptions TCurlSmtpSession::exchangeOptions() const
{
    return {m_connection, m_fallback, m_connectTimeoutMs, m_idleTimeoutSeconds, m_totalTimeoutSeconds, m_systemCaPath};
}

TSmtpResult TCurlSmtpSession::perform(const TExchangeOptions& options, const TOutgoingMail& mail)
{
    TSmtpResult first = exchange(options, options.connection, mail);
    first.relay = relayName(options.connection);
    if (first.ok || !first.relayFailed || !options.fallback) {
        return first;
    }
    TSmtpResult second = exchange(options, *options.fallback, mail);
    second.relay = relayName(*options.fallback);
    second.viaFallback = true;
    second.firstRelay = first.relay;
    second.firstRelayError = first.errorText;
    return second;
}

TSmtpResult TCurlSmtpSession::exchange(
    const TExchangeOptions& options, const TSmtpConnection& c, const TOutgoingMail& mail)
{
    if (c.host.isEmpty()) {
        return relayFailure(QStringLiteral("No SMTP server is set"));
    }
    // The host goes into a URL: anything that could change the URL's meaning is refused.
    for (const char ch : c.host) {
        const auto u = static_cast<unsigned char>(ch);
        if (u <= 0x20 || u >= 0x7F || ch == '/' || ch == '@' || ch == '?' || ch == '#' || ch == '\\') {
            return relayFailure(QStringLiteral("The SMTP server name \"%1\" is not a valid host name")
                                    .arg(QString::fromLatin1(c.host.toPercentEncoding(" "))));
        }
    }
    if (c.port < 1 || c.port > 65535) {
        return relayFailure(QStringLiteral("The SMTP port %1 is out of range").arg(c.port));
    }
    if (mail.recipients.isEmpty()) {
        return failure(QStringLiteral("The mail has no recipient"));
    }
    if (hasLineBreakOrNul(mail.from)) {
        return failure(QStringLiteral("The sender address holds a line break"));
    }
    for (const auto& header : mail.headers) {
        // Folds are CRLF + blank; a line break followed by anything else would start a header of its own.
        for (qsizetype i = 0; i < header.size(); ++i) {
            const char ch = header[i];
            if (ch == '\0' || (ch == '\n' && (i == 0 || header[i - 1] != '\r'))) {
                return failure(QStringLiteral("A header field holds a bare line break"));
            }
            if (ch == '\r' && (i + 2 >= header.size() || header[i + 1] != '\n' || header[i + 2] != ' ')) {
                return failure(QStringLiteral("A header field holds a line break that is not a fold"));
            }
        }
    }

    if (!curlReady()) {
        return failure(QStringLiteral("The mail library could not be initialised"));
    }
    TEasy e;
    if (e.handle == nullptr) {
        return failure(QStringLiteral("The mail library could not be initialised"));
    }
    CURL* h = e.handle;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    TExchangeTrace trace;

    QByteArray host = c.host;
    if (host.contains(':') && !host.startsWith('[')) {
        host = '[' + host + ']'; // an IPv6 address
    }
    // The URL's path is the name curl gives in EHLO; without one it would say "localhost".
    const QByteArray url = (c.tls == TSmtpTls::Implicit ? "smtps://" : "smtp://") + host + ':'
        + QByteArray::number(c.port) + '/' + heloName();
    const QByteArray from = '<' + mail.from + '>';
    const QByteArray caFile = QFile::encodeName(c.caFile);
    const QByteArray caPath = QFile::encodeName(options.systemCaPath);

    curl_easy_setopt(h, CURLOPT_URL, url.constData());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(h, CURLOPT_VERBOSE, 1L); // the debug callback sees the server's reply lines only so
    curl_easy_setopt(h, CURLOPT_DEBUGFUNCTION, onDebug);
    curl_easy_setopt(h, CURLOPT_DEBUGDATA, &trace);
    curl_easy_setopt(h, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(h, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, options.connectTimeoutMs);
    curl_easy_setopt(h, CURLOPT_SERVER_RESPONSE_TIMEOUT, options.idleTimeoutSeconds);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, options.idleTimeoutSeconds);
    curl_easy_setopt(h, CURLOPT_TIMEOUT, options.totalTimeoutSeconds);
    curl_easy_setopt(h, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!c.caFile.isEmpty()) {
        // CAINFO alone would replace the system bundle; the hashed folder keeps the system's certificates.
        curl_easy_setopt(h, CURLOPT_CAINFO, caFile.constData());
        curl_easy_setopt(h, CURLOPT_CAPATH, caPath.constData());
    }
    if (c.tls == TSmtpTls::StartTls) {
        curl_easy_setopt(h, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
    }
    if (c.login) {
        curl_easy_setopt(h, CURLOPT_USERNAME, c.user.constData());
        curl_easy_setopt(h, CURLOPT_PASSWORD, c.password.constData());
        curl_easy_setopt(h, CURLOPT_LOGIN_OPTIONS, "AUTH=LOGIN");
    }
    curl_easy_setopt(h, CURLOPT_MAIL_FROM, from.constData());
    for (const auto& rcpt : mail.recipients) {
        if (hasLineBreakOrNul(rcpt)) {
            return failure(QStringLiteral("A recipient address holds a line break"));
        }
        e.recipients = curl_slist_append(e.recipients, ('<' + rcpt + '>').constData());
    }
    curl_easy_setopt(h, CURLOPT_MAIL_RCPT, e.recipients);
    // One refused address must not silence the mail for everybody else.
    curl_easy_setopt(h, CURLOPT_MAIL_RCPT_ALLOWFAILS, 1L);

    for (const auto& header : mail.headers) {
        e.headers = curl_slist_append(e.headers, header.constData());
    }
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, e.headers);

    e.mime = curl_mime_init(h);
    if (mail.hasText) {
        curl_mimepart* part = curl_mime_addpart(e.mime);
        curl_mime_data(part, mail.text.constData(), static_cast<size_t>(mail.text.size()));
        curl_mime_type(part, mail.textType.constData());
        // Never 8bit: a line over 998 bytes would be refused; curl stuffs the dots itself.
        curl_mime_encoder(part, "quoted-printable");
    }
    for (const auto& attachment : mail.attachments) {
        curl_mimepart* part = curl_mime_addpart(e.mime);
        if (curl_mime_filedata(part, QFile::encodeName(attachment.path).constData()) != CURLE_OK) {
            return failure(QStringLiteral("The attachment %1 cannot be read").arg(attachment.path));
        }
        curl_mime_filename(part, nullptr); // curl would write the raw bytes; our own header carries the name
        curl_mime_type(part, "application/octet-stream");
        curl_mime_encoder(part, "base64");
        curl_slist* partHeader = curl_slist_append(
            nullptr, (QByteArray("Content-Disposition: attachment; ") + attachment.fileName).constData());
        e.partHeaders.push_back(partHeader);
        curl_mime_headers(part, partHeader, 0);
    }
    curl_easy_setopt(h, CURLOPT_MIMEPOST, e.mime);
    curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);

    const CURLcode rc = curl_easy_perform(h);
    TSmtpResult result;
    result.refusedRecipients = trace.refusedRecipients;
    if (rc == CURLE_OK) {
        result.ok = true;
        return result;
    }
    QString text = QString::fromUtf8(errorBuffer[0] != '\0' ? errorBuffer : curl_easy_strerror(rc));
    long responseCode = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &responseCode);
    if (!trace.lastErrorReply.isEmpty() && responseCode >= 400) {
        text += QStringLiteral(" (server: %1)").arg(QString::fromUtf8(trace.lastErrorReply));
    }
    result.errorText = text;
    result.relayFailed = !trace.recipientOffered;
    return result;
}
