// SPDX-License-Identifier: MIT
#pragma once

// An SMTP session for dispatch-loop tests: scripted outcomes, a record of every mail it was asked to send, and
// an optional hold that keeps a send waiting in a nested event loop (as the real session does while the server
// talks) until the test releases it, so tests can change the tables or run timers in the middle of a send.
//
//     auto fake = std::make_unique<FakeSmtpSession>();
//     fake->script = {FakeSmtpSession::fail("Connection refused"), FakeSmtpSession::success()};
//     fake->holdSends = true;
//     fake->onHold = [&] { tables.EventTasks.remove(0); fake->release(); };

#include "SmtpSession.h"

#include <QEventLoop>
#include <QTimer>
#include <deque>
#include <functional>
#include <vector>

class FakeSmtpSession : public TSmtpSession
{
public:
    static TSmtpResult success(const QStringList& refused = {})
    {
        TSmtpResult r;
        r.ok = true;
        r.refusedRecipients = refused;
        return r;
    }
    static TSmtpResult fail(const QString& text)
    {
        TSmtpResult r;
        r.errorText = text;
        return r;
    }

    // Outcomes in order; when empty, fallback is used.
    std::deque<TSmtpResult> script;
    TSmtpResult fallback = success();

    // Every mail asked for, with the connection it was asked on.
    std::vector<TOutgoingMail> sent;
    std::vector<TSmtpConnection> connections;
    int configureCalls = 0;

    // When set, each send waits in a nested event loop until release(); onHold runs inside that loop.
    bool holdSends = false;
    std::function<void()> onHold;
    bool isHolding() const { return m_loop != nullptr; }
    void release()
    {
        m_released = true;
        if (m_loop != nullptr) {
            m_loop->quit();
        }
    }

    void configure(const TSmtpConnection& connection) override
    {
        ++configureCalls;
        TSmtpSession::configure(connection);
    }

    TSmtpResult send(const TOutgoingMail& mail) override
    {
        sent.push_back(mail);
        connections.push_back(m_connection);
        if (holdSends) {
            QEventLoop loop;
            m_loop = &loop;
            m_released = false;
            if (onHold) {
                QTimer::singleShot(0, &loop, onHold);
            }
            if (!m_released) {
                loop.exec();
            }
            m_loop = nullptr;
        }
        if (script.empty()) {
            return fallback;
        }
        TSmtpResult r = script.front();
        script.pop_front();
        return r;
    }

private:
    QEventLoop* m_loop = nullptr;
    bool m_released = false;
};
