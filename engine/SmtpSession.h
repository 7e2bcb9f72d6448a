// SPDX-License-Identifier: MIT
#pragma once

// One mail exchange with the SMTP server: connect, authenticate, send, disconnect, as one call that reports
// success or a readable error text. The station calls it from its send timer on the main thread; the curl
// implementation runs the exchange on a worker thread while the caller waits in a nested event loop, so timers,
// dialogs and commands keep running during a send.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

enum class TSmtpTls
{
    None, // plain SMTP
    StartTls, // plain connection upgraded with STARTTLS; refused when the server does not offer it
    Implicit, // "smtps": TLS from the first byte
};

// Where and how to connect; set from the SMTP settings (ApplySmtpSettings).
struct TSmtpConnection
{
    QByteArray host;
    int port = 25;
    TSmtpTls tls = TSmtpTls::None;
    bool login = false; // AUTH LOGIN with user and password
    QByteArray user;
    QByteArray password;
    QString caFile; // further trusted certificates (PEM), added to the system's trust store
};

struct TMailAttachment
{
    QString path; // read when the mail is sent
    QByteArray fileName; // GB18030, as the receiver sees it
};

// A mail ready for the wire. The header fields are complete and folded (MailHeaders); the session adds only
// the MIME structure.
struct TOutgoingMail
{
    QByteArray from; // envelope sender, a plain addr-spec
    QList<QByteArray> recipients; // envelope recipients, plain addr-specs
    QList<QByteArray> headers; // "Name: value" fields without the final line end
    bool hasText = false;
    QByteArray textType; // e.g. "text/plain; charset=GB18030"
    QByteArray text; // lines ending in CRLF
    std::vector<TMailAttachment> attachments;
};

struct TSmtpResult
{
    bool ok = false;
    QString errorText; // why the exchange failed (empty on success)
    QStringList refusedRecipients; // one text per recipient the server refused, also when the mail went out
    // The relay failed as a whole, before any recipient was offered (no connection, a time-out, TLS, or a refusal
    // of the greeting, the login or the sender): another relay may carry the mail.
    bool relayFailed = false;
    // The outcome is the fallback relay's (relay names it): the first one failed as a whole, for firstRelayError.
    bool viaFallback = false;
    QString relay; // "host:port" of the relay this outcome is from
    QString firstRelay;
    QString firstRelayError;
};

class TSmtpSession
{
public:
    virtual ~TSmtpSession() = default;

    virtual void configure(const TSmtpConnection& connection) { m_connection = connection; }
    const TSmtpConnection& connection() const { return m_connection; }
    // The relay a mail goes to when the first fails as a whole (the same mail, Message-ID and all); none when
    // empty. Every send starts with the first.
    void configureFallback(const std::optional<TSmtpConnection>& fallback) { m_fallback = fallback; }
    const std::optional<TSmtpConnection>& fallback() const { return m_fallback; }

    // One complete exchange. Returns when it is over; the caller's event loop keeps running meanwhile.
    virtual TSmtpResult send(const TOutgoingMail& mail) = 0;

protected:
    TSmtpConnection m_connection;
    std::optional<TSmtpConnection> m_fallback;
};

// The libcurl implementation. Every exchange starts from a fresh connection and ends by closing it; the mail
// goes to every recipient the server accepts (the others are reported in refusedRecipients); it fails only
// when no recipient is accepted or the exchange itself fails.
class TCurlSmtpSession : public TSmtpSession
{
public:
    TCurlSmtpSession();

    // Connect (TCP, TLS and greeting) in ms; no progress in s; the whole exchange in s. Defaults 30000/60/300.
    void setTimeouts(long connectMs, long idleSeconds, long totalSeconds);
    long connectTimeoutMs() const { return m_connectTimeoutMs; }
    long idleTimeoutSeconds() const { return m_idleTimeoutSeconds; }
    long totalTimeoutSeconds() const { return m_totalTimeoutSeconds; }
    // Folder of the system's trusted certificates (hashed names), /etc/ssl/certs by default; tests replace it.
    void setSystemCaPath(const QString& path) { m_systemCaPath = path; }

    // Runs the exchange on a worker thread and waits in a nested event loop (directly when there is no
    // application object).
    TSmtpResult send(const TOutgoingMail& mail) override;
    // The exchange on the calling thread.
    TSmtpResult sendBlocking(const TOutgoingMail& mail) const;

private:
    // Everything one exchange reads, copied so that a change of the settings during a send cannot race with it.
    struct TExchangeOptions
    {
        TSmtpConnection connection;
        std::optional<TSmtpConnection> fallback;
        long connectTimeoutMs;
        long idleTimeoutSeconds;
        long totalTimeoutSeconds;
        QString systemCaPath;
    };
    TExchangeOptions exchangeOptions() const;
    // The first relay, then the fallback when the first failed as a whole.
    static TSmtpResult perform(const TExchangeOptions& options, const TOutgoingMail& mail);
    static TSmtpResult exchange(const TExchangeOptions& options, const TSmtpConnection& c, const TOutgoingMail& mail);

    long m_connectTimeoutMs = 30000;
    long m_idleTimeoutSeconds = 60;
    long m_totalTimeoutSeconds = 300;
    QString m_systemCaPath = QStringLiteral("/etc/ssl/certs");
};
