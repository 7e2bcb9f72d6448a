// SPDX-License-Identifier: MIT
// The real station killed and started again: a mail that was waiting or being retried goes out after the
// restart exactly as it would have, a mark whose task changed is dropped with its line, and a damaged mark file
// never keeps the station from sending.

#include "GbkCodec.h"
#include "LangTexts.h"
#include "QorsmailFunc.h"
#include "SmtpTestServer.h"
#include "StationFiles.h"
#include "StationProcess.h"
#include "TaskMarkFile.h"

#include <QJsonArray>
#include <csignal>
#include <gtest/gtest.h>

namespace {

QString text(const LangText::Entry& entry)
{
    return QString::fromUtf8(entry.Default);
}

class PendingMails : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_workDir = m_dir.path() + QLatin1Char('/');
    }

    // Both files, with WaitSeconds (60 unless given).
    bool writeFiles(int port, int waitSeconds = 60) { return m_files.write(m_workDir, port, waitSeconds); }

    bool post(const QString& what, const QString& time) { return postEvent(m_workDir, 3, 1, what, time); }

    QString marksPath() const { return m_workDir + QStringLiteral("QorMail.marks"); }

    // The marks on disk, or -1 while there is no sound file.
    int marksOnDisk() const
    {
        QFile f(marksPath());
        if (!f.open(QIODevice::ReadOnly)) {
            return -1;
        }
        const auto entries = TaskMarkFile::decode(f.readAll());
        return entries ? static_cast<int>(entries->size()) : -1;
    }
    bool waitForMarks(int n, int timeoutMs = 10000) const
    {
        QElapsedTimer timer;
        timer.start();
        while (marksOnDisk() != n) {
            if (timer.elapsed() > timeoutMs) {
                return false;
            }
            QThread::msleep(20);
        }
        return true;
    }

    static void killHard(TStation& station)
    {
        ::kill(static_cast<pid_t>(station.pid()), SIGKILL);
        station.waitForExit();
    }

    TStationLock m_lock;
    QTemporaryDir m_dir;
    QString m_workDir;
    TStationFiles m_files;
    SmtpTest::SmtpTestServer m_server;
};

TEST_F(PendingMails, AMailWaitingWhenTheStationIsKilledArrivesOnceAfterTheRestart)
{
    ASSERT_TRUE(m_server.start()) << m_server.error().toStdString();
    m_files.addEventTask(QStringLiteral("事故报告"), 12);
    ASSERT_TRUE(writeFiles(m_server.port()));
    {
        TStation station(m_workDir);
        station.start();
        ASSERT_TRUE(station.waitForWindow()) << station.output().toStdString();
        ASSERT_TRUE(post(QStringLiteral("1号主变差动保护动作"), QStringLiteral("2026-03-05 07:04:09.120")));
        ASSERT_TRUE(post(QStringLiteral("2号开关分闸"), QStringLiteral("2026-03-05 07:04:10.005")));
        ASSERT_TRUE(waitForMarks(1)) << station.output().toStdString();
        killHard(station);
    }
    EXPECT_TRUE(m_server.mails().isEmpty());

    TStation station(m_workDir);
    station.start();
    ASSERT_TRUE(station.waitForWindow()) << station.output().toStdString();
    EXPECT_TRUE(waitForDebugLine(m_workDir,
        text(LangText::TaskMarkStore_Str::Str0)
            .arg(text(LangText::QorsmailMain_Str::Str37), QStringLiteral("事故报告"), QStringLiteral("0"))));
    ASSERT_TRUE(m_server.waitForMails(1, 20000)) << station.output().toStdString();
    const QJsonObject mail = SmtpTest::checkMail(m_server.mails().first());
    const QJsonArray texts = mail[QStringLiteral("texts")].toArray();
    ASSERT_EQ(texts.size(), 1);
    EXPECT_EQ(
        Gbk::decode(QByteArray::fromBase64(texts[0].toObject()[QStringLiteral("bytes_b64")].toString().toLatin1())),
        QStringLiteral("2026-3-5- 7:4:9.120  1号主变差动保护动作\r\n"
                       "2026-3-5- 7:4:10.5  2号开关分闸\r\n"));
    EXPECT_TRUE(waitForMarks(0));
    QThread::msleep(1500);
    EXPECT_EQ(m_server.mails().size(), 1);
    EXPECT_EQ(station.terminate(), 0);
}

TEST_F(PendingMails, RetriesGoOnAfterAKillAndGiveUpAfterAllAttempts)
{
    ASSERT_TRUE(m_server.start()) << m_server.error().toStdString();
    m_files.tables.SmtpSettings.MaxSendTries = 4;
    m_files.addEventTask(
        QStringLiteral("事故报告"), 0, {}, QStringLiteral("reject@example.cn")); // the server refuses this recipient
    ASSERT_TRUE(writeFiles(m_server.port(), 3));
    const QString attemptFailed = QStringLiteral("——事故报告(");
    auto attempts = [&] { return readDebugLog(m_workDir).count(attemptFailed); };
    {
        TStation station(m_workDir);
        station.start();
        ASSERT_TRUE(station.waitForWindow()) << station.output().toStdString();
        ASSERT_TRUE(post(QStringLiteral("1号主变差动保护动作"), QStringLiteral("2026-03-05 07:04:09.120")));
        QElapsedTimer timer;
        timer.start();
        while (attempts() < 2 && timer.elapsed() < 20000) {
            QThread::msleep(20);
        }
        ASSERT_EQ(attempts(), 2) << readDebugLog(m_workDir).toStdString();
        QThread::msleep(300); // the retry count of the second attempt reaches the disk
        killHard(station);
    }
    const int beforeRestart = attempts();
    TStation station(m_workDir);
    station.start();
    ASSERT_TRUE(station.waitForWindow()) << station.output().toStdString();
    const QString givenUp = text(LangText::QorsmailMain_Str::Str24) + QStringLiteral("\" 事故报告\" ")
        + text(LangText::QorsmailMain_Str::Str26);
    ASSERT_TRUE(waitForDebugLine(m_workDir, givenUp, 30000)) << readDebugLog(m_workDir).toStdString();
    const QString log = readDebugLog(m_workDir);
    EXPECT_EQ(beforeRestart, 2);
    EXPECT_EQ(attempts(), 4) << log.toStdString();
    EXPECT_GT(log.indexOf(givenUp), log.lastIndexOf(attemptFailed));
    EXPECT_TRUE(log.contains(
        text(LangText::TaskMarkStore_Str::Str0)
            .arg(text(LangText::QorsmailMain_Str::Str37), QStringLiteral("事故报告"), QStringLiteral("2"))))
        << log.toStdString();
    EXPECT_TRUE(waitForMarks(0));
    EXPECT_EQ(station.terminate(), 0);
}

TEST_F(PendingMails, AMarkOfATaskChangedBetweenTheRunsIsDroppedWithItsLine)
{
    ASSERT_TRUE(m_server.start()) << m_server.error().toStdString();
    m_files.addEventTask(QStringLiteral("事故报告"), 6);
    ASSERT_TRUE(writeFiles(m_server.port()));
    {
        TStation station(m_workDir);
        station.start();
        ASSERT_TRUE(station.waitForWindow()) << station.output().toStdString();
        ASSERT_TRUE(post(QStringLiteral("1号主变差动保护动作"), QStringLiteral("2026-03-05 07:04:09.120")));
        ASSERT_TRUE(waitForMarks(1)) << station.output().toStdString();
        killHard(station);
    }
    // Setuphall changed the task meanwhile: a mail for the old rules would be a mail nobody asked for.
    m_files.tables.EventTasks.task(0).LevelMask = 2;
    ASSERT_TRUE(writeFiles(m_server.port()));

    TStation station(m_workDir);
    station.start();
    ASSERT_TRUE(station.waitForWindow()) << station.output().toStdString();
    EXPECT_TRUE(waitForDebugLine(m_workDir,
        text(LangText::TaskMarkStore_Str::Str1)
            .arg(text(LangText::QorsmailMain_Str::Str37), QStringLiteral("事故报告"))))
        << readDebugLog(m_workDir).toStdString();
    EXPECT_TRUE(waitForMarks(0));
    QThread::msleep(7000); // past the old mark's wait
    EXPECT_TRUE(m_server.mails().isEmpty());
    EXPECT_EQ(station.terminate(), 0);
}

TEST_F(PendingMails, ADamagedMarkFileIsSetAsideAndNewMailsGoOut)
{
    ASSERT_TRUE(m_server.start()) << m_server.error().toStdString();
    m_files.addEventTask(QStringLiteral("事故报告"), 1);
    ASSERT_TRUE(writeFiles(m_server.port()));
    QFile marks(marksPath());
    ASSERT_TRUE(marks.open(QIODevice::WriteOnly));
    marks.write(QByteArray("QORMARKS\x01\x00\x00\x00\x05\x00", 14) + QByteArray(40, '\xff'));
    marks.close();

    TStation station(m_workDir);
    station.start();
    ASSERT_TRUE(station.waitForWindow()) << station.output().toStdString();
    const QString damaged = text(LangText::TaskMarkStore_Str::Str4).section(QLatin1Char('%'), 0, 0);
    EXPECT_TRUE(waitForDebugLine(m_workDir, damaged)) << readDebugLog(m_workDir).toStdString();
    EXPECT_EQ(QDir(m_workDir).entryList({QStringLiteral("QorMail.marks.damaged-*")}, QDir::Files).size(), 1);

    ASSERT_TRUE(post(QStringLiteral("1号主变差动保护动作"), QStringLiteral("2026-03-05 07:04:09.120")));
    ASSERT_TRUE(m_server.waitForMails(1, 15000)) << station.output().toStdString();
    EXPECT_TRUE(waitForMarks(0));
    EXPECT_EQ(station.terminate(), 0);
}

} // namespace
