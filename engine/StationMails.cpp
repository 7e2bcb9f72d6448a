// SPDX-License-Identifier: MIT
#include "StationMails.h"

#include "GbkCodec.h"
#include "MLEngine.h"

#include <QRandomGenerator>

namespace {

QByteArray newMailId()
{
    QByteArray id(16, '\0');
    QRandomGenerator::global()->generate(id.begin(), id.end());
    return id;
}

QString minuteText(const QDateTime& t)
{
    return t.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

QList<TMailRecipient> healthRecipients(const THealthSettings& health)
{
    QList<TMailRecipient> list;
    for (const QString& addr : health.recipients) {
        list.append({{}, Gbk::encode(addr)});
    }
    return list;
}

} // namespace

QDateTime NextHealthTime(const THealthSettings& health, const QDateTime& after, const QDateTime& last)
{
    if (!health.enabled()) {
        return {};
    }
    if (health.everyHours > 0) {
        const qint64 step = qint64(health.everyHours) * 3600;
        return (last.isValid() ? last : after).addSecs(step);
    }
    QDateTime next(after.date(), QTime(health.timeOfDay / 60, health.timeOfDay % 60));
    if (next <= after) {
        next = QDateTime(after.date().addDays(1), QTime(health.timeOfDay / 60, health.timeOfDay % 60));
    }
    return next;
}

QDateTime PreviousReportDue(const TReportMailTask& task, const SYSTEMTIME& due, TLogLibrary& log)
{
    const QDateTime at = FromSystemTime(due);
    if (!at.isValid()) {
        return {};
    }
    switch (task.SendType) {
    case 1:
        return at.addDays(-1);
    case 2:
        return at.addMonths(-1);
    case 3:
        return at.addYears(-1);
    case 4: {
        const uint32_t interval = log.SecondsFromSystemTime(task.SendInterval);
        return interval > 0 ? at.addSecs(-qint64(interval)) : QDateTime();
    }
    default:
        return {};
    }
}

QString UptimeText(int64_t seconds)
{
    const int64_t minutes = seconds / 60;
    return FillText(GetLangText(LangText::Health_Str::Str2),
        {QString::number(minutes / 1440), QString::number(minutes / 60 % 24), QString::number(minutes % 60)});
}

TStationMails::TStationMails(const TMailTables& tables, const TClock& clock)
    : m_tables(tables)
    , m_clock(clock)
{
}

QDateTime TStationMails::now() const
{
    const QDateTime t = FromSystemTime(m_clock.now());
    return t.isValid() ? t : QDateTime::currentDateTime();
}

void TStationMails::start()
{
    m_uptime.start();
    m_since = now();
    m_scheduledFor = m_tables.Station.health;
    m_nextHealth = NextHealthTime(m_scheduledFor, m_since, {});
}

void TStationMails::tick(const QString& host, int pendingTasks)
{
    using namespace LangText::Health_Str;
    const QDateTime t = now();
    if (!(m_tables.Station.health == m_scheduledFor)) {
        // Changed in the window: the schedule starts again from now.
        m_scheduledFor = m_tables.Station.health;
        m_nextHealth = NextHealthTime(m_scheduledFor, t, {});
    }
    if (!m_nextHealth.isValid() || t < m_nextHealth) {
        return;
    }
    const TStationCounters& c = m_counters;
    TNoticeMail mail;
    mail.subject = FillText(GetLangText(Str0), {host, minuteText(t)});
    mail.recipients = healthRecipients(m_scheduledFor);
    mail.lines = {GetLangText(Str1).arg(host),
        GetLangText(Str3).arg(UptimeText(m_uptime.isValid() ? m_uptime.elapsed() / 1000 : 0)),
        GetLangText(Str4).arg(minuteText(m_since)),
        GetLangText(Str5).arg(c.eventsRead),
        GetLangText(Str6).arg(c.mailsSent),
        GetLangText(Str7).arg(c.retried),
        GetLangText(Str8).arg(c.givenUp),
        GetLangText(Str9).arg(c.ringFaults),
        GetLangText(Str10).arg(pendingTasks)};
    queue(std::move(mail));
    m_counters = {};
    m_since = t;
    // A station that slept past several due times sends one mail, not one for each.
    do {
        m_nextHealth = NextHealthTime(m_scheduledFor, t, m_nextHealth);
    } while (m_nextHealth.isValid() && m_nextHealth <= t);
}

void TStationMails::queueGiveUpNotice(const QList<TGivenUpMail>& mails, const QString& host)
{
    using namespace LangText::Notice_Str;
    const TStationSettings& s = m_tables.Station;
    if (mails.isEmpty() || !s.notices.giveUp || s.health.recipients.isEmpty()) {
        return;
    }
    TNoticeMail mail;
    mail.subject = FillText(GetLangText(Str0), {host, minuteText(now())});
    mail.recipients = healthRecipients(s.health);
    for (const TGivenUpMail& given : mails) {
        mail.lines << GetLangText(Str1).arg(given.title)
                   << GetLangText(Str2).arg(given.recipients.join(QStringLiteral(", ")))
                   << GetLangText(Str3).arg(given.error) << QString();
    }
    queue(std::move(mail));
}

void TStationMails::queueMissingReport(const TReportMailTask& task, const QStringList& names)
{
    using namespace LangText::Notice_Str;
    if (!m_tables.Station.notices.missingReport || names.isEmpty()) {
        return;
    }
    const QString title = Gbk::fieldText(task.Title);
    TNoticeMail mail;
    mail.subject = FillText(GetLangText(Str4), {title, minuteText(now())});
    mail.recipients = TaskRecipients(task.Receivers, task.ReceiverCount);
    mail.lines << GetLangText(Str5).arg(title) << names;
    queue(std::move(mail));
}

void TStationMails::queue(TNoticeMail mail)
{
    mail.mailId = newMailId();
    m_queue.append({m_nextId++, std::move(mail), 0, now()});
}

void TStationMails::sendDue(TComposeContext& context)
{
    using namespace LangText::Notice_Str;
    // Copies go out: the queue may grow while an exchange waits in the nested event loop.
    std::vector<uint64_t> due;
    const QDateTime t = now();
    for (const TQueued& q : m_queue) {
        if (q.nextAttempt <= t) {
            due.push_back(q.id);
        }
    }
    for (const uint64_t id : due) {
        auto find = [this, id] {
            return std::find_if(m_queue.begin(), m_queue.end(), [id](const TQueued& q) { return q.id == id; });
        };
        auto it = find();
        if (it == m_queue.end()) {
            continue;
        }
        const TNoticeMail mail = it->mail;
        const bool sent = SendNoticeMail(context, mail);
        it = find();
        if (it == m_queue.end()) {
            continue;
        }
        if (sent) {
            context.writeLogLine(GetLangText(Str8).arg(mail.subject));
            m_queue.erase(it);
            continue;
        }
        it->tries += 1;
        if (it->tries >= std::max(1, m_tables.SmtpSettings.MaxSendTries)) {
            // Logged only: a notice about a notice would go the same failing way.
            context.writeLogLine(GetLangText(Str9).arg(mail.subject));
            m_queue.erase(it);
            continue;
        }
        it->nextAttempt = now().addSecs(qint64(std::max(0, m_tables.SmtpSettings.WaitSeconds)));
    }
}
