// SPDX-License-Identifier: MIT
#pragma once

// The local SMTP test server (tests/support/smtp_server.py under /usr/bin/python3) on a free port of 127.0.0.1,
// with its own capture folder, and the mail checker (mail_check.py) that parses a captured mail with Python's
// email package. TLS certificates are made once per test program with openssl, in a temporary folder:
// ca.pem (trusted test CA), server.pem (127.0.0.1/localhost), wrongname.pem (another host name),
// untrusted-ca.pem + untrusted.pem (a CA nobody trusts), hashed/ (ca.pem as an OpenSSL hashed folder) and
// empty/ (no certificates at all).

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <memory>

#ifndef QORSMAIL_TEST_SUPPORT_DIR
#error "QORSMAIL_TEST_SUPPORT_DIR must name tests/support"
#endif

namespace SmtpTest {

inline QString supportDir()
{
    return QStringLiteral(QORSMAIL_TEST_SUPPORT_DIR);
}

inline bool runTool(const QString& program, const QStringList& args, const QString& dir, QByteArray* output = nullptr)
{
    QProcess p;
    p.setWorkingDirectory(dir);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished();
        return false;
    }
    if (output != nullptr) {
        *output = p.readAll();
    }
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// The certificate folder, made on first use; empty when openssl failed.
inline QString certDir()
{
    static std::unique_ptr<QTemporaryDir> dir;
    static bool made = false;
    if (made) {
        return dir && dir->isValid() ? dir->path() : QString();
    }
    made = true;
    dir = std::make_unique<QTemporaryDir>();
    const QString d = dir->path();
    const QString ssl = QStringLiteral("openssl");
    const QStringList ec = {QStringLiteral("-newkey"),
        QStringLiteral("ec"),
        QStringLiteral("-pkeyopt"),
        QStringLiteral("ec_paramgen_curve:prime256v1"),
        QStringLiteral("-nodes")};
    auto makeCa = [&](const QString& name) {
        return runTool(ssl,
            QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + ec
                + QStringList{QStringLiteral("-days"),
                    QStringLiteral("2"),
                    QStringLiteral("-subj"),
                    QStringLiteral("/CN=") + name,
                    QStringLiteral("-keyout"),
                    name + QStringLiteral(".key"),
                    QStringLiteral("-out"),
                    name + QStringLiteral(".pem")},
            d);
    };
    auto makeLeaf = [&](const QString& name, const QString& ca, const QString& altNames) {
        QFile ext(d + QLatin1Char('/') + name + QStringLiteral(".ext"));
        if (!ext.open(QIODevice::WriteOnly)) {
            return false;
        }
        ext.write(QByteArray("subjectAltName=") + altNames.toLatin1() + '\n');
        ext.close();
        return runTool(ssl,
                   QStringList{QStringLiteral("req")} + ec
                       + QStringList{QStringLiteral("-subj"),
                           QStringLiteral("/CN=") + name,
                           QStringLiteral("-keyout"),
                           name + QStringLiteral(".key"),
                           QStringLiteral("-out"),
                           name + QStringLiteral(".csr")},
                   d)
            && runTool(ssl,
                {QStringLiteral("x509"),
                    QStringLiteral("-req"),
                    QStringLiteral("-in"),
                    name + QStringLiteral(".csr"),
                    QStringLiteral("-CA"),
                    ca + QStringLiteral(".pem"),
                    QStringLiteral("-CAkey"),
                    ca + QStringLiteral(".key"),
                    QStringLiteral("-CAcreateserial"),
                    QStringLiteral("-days"),
                    QStringLiteral("2"),
                    QStringLiteral("-extfile"),
                    name + QStringLiteral(".ext"),
                    QStringLiteral("-out"),
                    name + QStringLiteral(".pem")},
                d);
    };
    const bool ok = makeCa(QStringLiteral("ca")) && makeCa(QStringLiteral("untrusted-ca"))
        && makeLeaf(QStringLiteral("server"), QStringLiteral("ca"), QStringLiteral("IP:127.0.0.1,DNS:localhost"))
        && makeLeaf(QStringLiteral("wrongname"), QStringLiteral("ca"), QStringLiteral("DNS:other.invalid"))
        && makeLeaf(
            QStringLiteral("untrusted"), QStringLiteral("untrusted-ca"), QStringLiteral("IP:127.0.0.1,DNS:localhost"))
        && QDir(d).mkpath(QStringLiteral("hashed")) && QDir(d).mkpath(QStringLiteral("empty"))
        && QFile::copy(d + QStringLiteral("/ca.pem"), d + QStringLiteral("/hashed/ca.pem"))
        && runTool(ssl, {QStringLiteral("rehash"), d + QStringLiteral("/hashed")}, d);
    if (!ok) {
        dir.reset();
        return {};
    }
    return d;
}

class SmtpTestServer
{
public:
    SmtpTestServer() = default;
    SmtpTestServer(const SmtpTestServer&) = delete;
    SmtpTestServer& operator=(const SmtpTestServer&) = delete;
    ~SmtpTestServer() { stop(); }

    // Starts the server in one of smtp_server.py's modes and waits until it listens. False with error() set
    // when it did not come up within 10 s.
    bool start(const QString& mode = QStringLiteral("plain"), double delaySeconds = 0)
    {
        stop();
        if (!m_capture.isValid()) {
            m_error = QStringLiteral("no capture folder");
            return false;
        }
        QStringList args = {supportDir() + QStringLiteral("/smtp_server.py"),
            QStringLiteral("--mode"),
            mode,
            QStringLiteral("--capdir"),
            m_capture.path(),
            QStringLiteral("--delay"),
            QString::number(delaySeconds)};
        if (mode.startsWith(QLatin1String("smtps")) || mode == QLatin1String("starttls")) {
            const QString certs = certDir();
            if (certs.isEmpty()) {
                m_error = QStringLiteral("openssl could not make the test certificates");
                return false;
            }
            args << QStringLiteral("--certdir") << certs;
        }
        m_process = std::make_unique<QProcess>();
        m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process->start(QStringLiteral("/usr/bin/python3"), args);
        QElapsedTimer timer;
        timer.start();
        QByteArray out;
        while (timer.elapsed() < 10000) {
            if (m_process->state() == QProcess::NotRunning) {
                break;
            }
            m_process->waitForReadyRead(100);
            out += m_process->readAll();
            const qsizetype at = out.indexOf("PORT ");
            if (at >= 0 && out.indexOf('\n', at) > at) {
                m_port = out.mid(at + 5, out.indexOf('\n', at) - at - 5).trimmed().toInt();
                return m_port > 0;
            }
        }
        m_error = QStringLiteral("the test server did not start: ") + QString::fromUtf8(out);
        stop();
        return false;
    }

    void stop()
    {
        if (m_process) {
            m_process->terminate();
            if (!m_process->waitForFinished(3000)) {
                m_process->kill();
                m_process->waitForFinished(3000);
            }
            m_process.reset();
        }
        m_port = 0;
    }

    int port() const { return m_port; }
    QString error() const { return m_error; }
    QString captureDir() const { return m_capture.path(); }

    // Captured mails (complete .eml files), oldest first.
    QStringList mails() const
    {
        QStringList names =
            QDir(m_capture.path()).entryList({QStringLiteral("*.eml")}, QDir::Files, QDir::Time | QDir::Reversed);
        for (auto& n : names) {
            n = m_capture.path() + QLatin1Char('/') + n;
        }
        return names;
    }

    // Waits (without an event loop) until at least n mails are captured.
    bool waitForMails(int n, int timeoutMs = 5000) const
    {
        QElapsedTimer timer;
        timer.start();
        while (mails().size() < n) {
            if (timer.elapsed() > timeoutMs) {
                return false;
            }
            QThread::msleep(10);
        }
        return true;
    }

    void clearMails() const
    {
        QDir dir(m_capture.path());
        for (const auto& name : dir.entryList(QDir::Files)) {
            dir.remove(name);
        }
    }

private:
    QTemporaryDir m_capture;
    std::unique_ptr<QProcess> m_process;
    int m_port = 0;
    QString m_error;
};

// What Python's email package reads from a captured mail (see mail_check.py); an object with "error" when the
// checker failed.
inline QJsonObject checkMail(const QString& emlPath)
{
    QByteArray out;
    if (!runTool(QStringLiteral("/usr/bin/python3"),
            {supportDir() + QStringLiteral("/mail_check.py"), emlPath},
            QDir::tempPath(),
            &out)) {
        return QJsonObject{{QStringLiteral("error"), QString::fromUtf8(out)}};
    }
    return QJsonDocument::fromJson(out).object();
}

} // namespace SmtpTest
