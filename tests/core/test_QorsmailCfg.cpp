// SPDX-License-Identifier: MIT
// The qorsmail-cfg tool, run as a program: JSON -> task file -> JSON round trips, refusals that name the field
// and leave the target alone, the write lock, the mode and owner of a written file and its backup.

#include "GbkCodec.h"
#include "QorsmailDef.h"
#include "QorsmailFunc.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString Tool = QStringLiteral(QORSMAIL_BIN_DIR "/qorsmail-cfg");

struct TRun
{
    int code = -1;
    QByteArray out;
    QByteArray err;
};

class QorsmailCfg : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    QString path(const QString& name) const { return m_dir.filePath(name); }

    TRun run(const QStringList& args, const QByteArray& input = {})
    {
        QProcess p;
        p.start(Tool, args);
        EXPECT_TRUE(p.waitForStarted(5000)) << Tool.toStdString();
        p.write(input);
        p.closeWriteChannel();
        EXPECT_TRUE(p.waitForFinished(15000));
        TRun r;
        r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = p.readAllStandardOutput();
        r.err = p.readAllStandardError();
        return r;
    }

    void write(const QString& name, const QByteArray& bytes)
    {
        QFile f(path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(f.write(bytes), bytes.size());
    }

    QByteArray read(const QString& name)
    {
        QFile f(path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    TRun build(const QByteArray& json, const QString& target = QStringLiteral("qorsmail.cfg"))
    {
        write(QStringLiteral("in.json"), json);
        return run({QStringLiteral("build"), path(QStringLiteral("in.json")), path(target)});
    }

    QTemporaryDir m_dir;
};

const char* ChineseJson = R"({
  "smtp": {"smtpAddr": "邮件.plant.example", "smtpPort": 2525, "localEmailAddr": "station@plant.example",
           "needAuth": true, "username": "值班", "password": "密码", "maxSendTries": 3, "waitSeconds": 10},
  "addressBook": [{"name": "张三", "addr": "zhang@plant.example"}, {"name": "Li Si", "addr": "li@plant.example"}],
  "eventTasks": [
    {"title": "主变越限", "reserved": 7, "types": [1, {"number": 20, "name": "SEL保护事件"}], "keyword": "主变",
     "levels": {"mask": 6}, "waitSec": 30,
     "receivers": [{"name": "张三", "addr": "zhang@plant.example"}, {"addr": "ops@plant.example // 夜班"}]},
    {}
  ],
  "reportTasks": [
    {"title": "月报", "files": ["/srv/报表/月报*.xls", "/srv/报表/图*.jpg"], "sendType": {"number": 4},
     "sendTime": {"year": 2026, "month": 1, "day": 1, "hour": 8, "minute": 0},
     "sendInterval": {"day": 7}, "receivers": [{"name": "", "addr": "boss@plant.example"}]}
  ]
})";

TEST_F(QorsmailCfg, ChineseTextsRoundTripByteForByte)
{
    const TRun built = build(ChineseJson);
    ASSERT_EQ(built.code, 0) << built.err.toStdString();
    const QByteArray file = read(QStringLiteral("qorsmail.cfg"));

    // The station's reader sees the values in GBK, defaults where the JSON gave none.
    TMailTables t;
    SetTaskDefaults(t);
    QString error;
    ASSERT_TRUE(LoadTaskFileFrom(t, path(QStringLiteral("qorsmail.cfg")), &error)) << error.toStdString();
    EXPECT_EQ(Gbk::fieldBytes(t.SmtpSettings.smtpaddr), Gbk::encode(QStringLiteral("邮件.plant.example")));
    EXPECT_EQ(+t.SmtpSettings.smtpport, 2525);
    EXPECT_EQ(t.SmtpSettings.NeedAuth, 1);
    EXPECT_EQ(+t.SmtpSettings.MaxSendTries, 3);
    ASSERT_EQ(t.EventTaskCount(), 2);
    const TEventMailTask& e = t.EventTasks.task(0);
    EXPECT_EQ(e.Reserved, 7);
    EXPECT_EQ(+e.TypeCount, 2);
    EXPECT_EQ(+e.Types[1], 20);
    EXPECT_EQ(+e.LevelMask, 6);
    EXPECT_EQ(Gbk::fieldText(e.Receivers[1].Addr), QStringLiteral("ops@plant.example // 夜班"));
    const TEventMailTask& d = t.EventTasks.task(1);
    EXPECT_EQ(Gbk::fieldText(d.Title), QStringLiteral("Qorvane 事件报告邮件"));
    EXPECT_EQ(+d.LevelMask, -1);
    EXPECT_EQ(+d.WaitSec, 60);
    ASSERT_EQ(t.ReportTaskCount(), 1);
    EXPECT_EQ(+t.ReportTasks.task(0).SendType, 4);
    EXPECT_EQ(+t.ReportTasks.task(0).SendInterval.wDay, 7);
    EXPECT_EQ(Gbk::fieldText(t.ReportTasks.task(0).Files[1]), QStringLiteral("/srv/报表/图*.jpg"));

    const TRun dumped = run({QStringLiteral("dump"), path(QStringLiteral("qorsmail.cfg"))});
    ASSERT_EQ(dumped.code, 0) << dumped.err.toStdString();
    EXPECT_TRUE(dumped.out.contains(R"("types": [)"));
    EXPECT_TRUE(dumped.out.contains(R"({"number": 1, "name": "设备越限动作"})")) << dumped.out.toStdString();
    EXPECT_TRUE(dumped.out.contains(
        R"("levels": {"mask": 6, "list": [{"number": 1, "name": "事故"}, {"number": 2, "name": "故障"}]})"));
    EXPECT_TRUE(dumped.out.contains(R"("levels": {"mask": -1)"));
    EXPECT_TRUE(dumped.out.contains("\"title\": \"月报\""));

    const TRun rebuilt = build(dumped.out, QStringLiteral("again.cfg"));
    ASSERT_EQ(rebuilt.code, 0) << rebuilt.err.toStdString();
    EXPECT_EQ(read(QStringLiteral("again.cfg")), file);
}

TEST_F(QorsmailCfg, BytesNoFieldCoversRoundTripToo)
{
    TMailTables t;
    SetTaskDefaults(t);
    TEventMailTask e{};
    Gbk::storeField(e.Title, QStringLiteral("标题"));
    e.LevelMask = -1;
    e.Title[100] = 'x'; // after the NUL
    e.Types[50] = 3; // beyond TypeCount 0
    e.Receivers[99].Addr[0] = 'y'; // beyond ReceiverCount 0
    t.EventTasks.append(e);
    TReportMailTask r{};
    r.SendType = 2;
    r.Files[9][127] = '\x7f';
    t.ReportTasks.append(r);
    TMailAddr a{};
    Gbk::storeField(a.Name, QStringLiteral("名"));
    a.Addr[39] = '!';
    t.AddrBook.push_back(a);
    t.SmtpSettings.Password[10] = 'p';
    const QByteArray file = TaskFileBytes(t) + QByteArray("\0tail\xff", 6);
    write(QStringLiteral("odd.cfg"), file);

    const TRun dumped = run({QStringLiteral("dump"), path(QStringLiteral("odd.cfg"))});
    ASSERT_EQ(dumped.code, 0) << dumped.err.toStdString();
    EXPECT_TRUE(dumped.out.contains("\"extra\""));
    EXPECT_TRUE(dumped.out.contains("\"trailingBytes\""));
    const TRun rebuilt = build(dumped.out, QStringLiteral("again.cfg"));
    ASSERT_EQ(rebuilt.code, 0) << rebuilt.err.toStdString();
    EXPECT_EQ(read(QStringLiteral("again.cfg")), file);
}

TEST_F(QorsmailCfg, RefusalNamesTheFieldAndLeavesTheTargetAlone)
{
    const QByteArray before("existing task file");
    write(QStringLiteral("qorsmail.cfg"), before);
    const QString longTitle = QString(QStringLiteral("长")).repeated(65) + QLatin1Char('x'); // 131 bytes in GBK
    const QByteArray json = QStringLiteral(R"({"eventTasks": [{}, {}, {"title": "%1"}]})").arg(longTitle).toUtf8();
    const TRun r = build(json);
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains("eventTasks[2].title: 131 bytes in GBK, at most 127")) << r.err.toStdString();
    EXPECT_EQ(read(QStringLiteral("qorsmail.cfg")), before);
    // No temporary file is left behind.
    const QStringList left = QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden);
    EXPECT_EQ(left, (QStringList{QStringLiteral("in.json"), QStringLiteral("qorsmail.cfg")}));
}

TEST_F(QorsmailCfg, EveryKindOfBadValueIsRefusedByName)
{
    const QString receivers101 = QStringLiteral("[")
        + QStringList(101, QStringLiteral(R"({"addr": "a@b"})")).join(QLatin1Char(',')) + QLatin1Char(']');
    const struct
    {
        QString json;
        const char* message;
    } cases[] = {
        {QStringLiteral(R"({"smtp": {"smtpPort": 0}})"), "smtp.smtpPort: 0, must be 1..65535"},
        {QStringLiteral(R"({"smtp": {"smtpPort": 25.5}})"), "smtp.smtpPort: 25.5 is not a whole number"},
        {QStringLiteral(R"({"smtp": {"waitSeconds": 61}})"), "smtp.waitSeconds: 61, must be 0..60"},
        {QStringLiteral(R"({"smtp": {"username": 5}})"), "smtp.username: must be a text"},
        {QStringLiteral(R"({"smtp": {"smtpadr": "x"}})"), "smtp.smtpadr: unknown field"},
        {QStringLiteral(R"({"version": 1999})"), "version: 1999, must be 2000"},
        {QStringLiteral(R"({"addressBook": [{"name": "x"}]})"), "addressBook[0].addr: missing"},
        {QStringLiteral(R"({"addressBook": [{"name": "%1", "addr": "a@b"}]})")
                .arg(QString(QLatin1Char('n')).repeated(40)),
            "addressBook[0].name: 40 bytes in GBK, at most 39"},
        {QStringLiteral(R"({"eventTasks": [{"types": [17]}]})"),
            "eventTasks[0].types[0]: 17 is not an event type number"},
        {QStringLiteral(R"({"eventTasks": [{"types": [3, 3]}]})"), "eventTasks[0].types[1]: type 3 is listed twice"},
        {QStringLiteral(R"({"eventTasks": [{"types": [{"number": 3, "name": "开关量打开"}]}]})"),
            "eventTasks[0].types[0].name: \"开关量打开\" is not the name of 3 (\"开关量闭合\")"},
        {QStringLiteral(R"({"eventTasks": [{"levels": {"mask": 16}}]})"),
            "eventTasks[0].levels.mask: 16, must be -1..15"},
        {QStringLiteral(R"({"eventTasks": [{"levels": {"mask": 3, "list": [0]}}]})"),
            "eventTasks[0].levels.list: does not agree with mask 3"},
        {QStringLiteral(R"({"eventTasks": [{"waitSec": 3601}]})"), "eventTasks[0].waitSec: 3601, must be 0..3600"},
        {QStringLiteral(R"({"eventTasks": [{"keyword": "%1"}]})").arg(QString(QStringLiteral("词")).repeated(128)),
            "eventTasks[0].keyword: 256 bytes in GBK, at most 255"},
        {QStringLiteral(R"({"eventTasks": [{"receivers": %1}]})").arg(receivers101),
            "eventTasks[0].receivers: 101 entries, at most 100"},
        {QStringLiteral(R"({"eventTasks": [{"extra": [{"offset": 8600, "bytes": "AAAA"}]}]})"),
            "eventTasks[0].extra[0].bytes: runs past the record's 8601 bytes"},
        {QStringLiteral(R"({"reportTasks": [{"files": ["1","2","3","4","5","6","7","8","9","10","11"]}]})"),
            "reportTasks[0].files: 11 entries, at most 10"},
        {QStringLiteral(R"({"reportTasks": [{"files": ["/srv/a.xls", ""]}]})"),
            "reportTasks[0].files[1]: empty, a report file name must name a file"},
        {QStringLiteral(R"({"reportTasks": [{"files": ["/srv/报表/"]}]})"),
            "reportTasks[0].files[0]: names only a folder, a report file name must name a file"},
        {QStringLiteral(R"({"reportTasks": [{"sendType": 5}]})"), "reportTasks[0].sendType: 5, must be 0..4"},
        {QStringLiteral(R"({"reportTasks": [{"sendTime": {"month": 13}}]})"),
            "reportTasks[0].sendTime.month: 13, must be 0..12"},
        {QStringLiteral(R"({"reportTasks": [{"sendInterval": {"minute": 60}}]})"),
            "reportTasks[0].sendInterval.minute: 60, must be 0..59"},
        {QStringLiteral(R"({"reportTasks": [{"receivers": [{"addr": "a@b", "nmae": "x"}]}]})"),
            "reportTasks[0].receivers[0].nmae: unknown field"},
        {QStringLiteral("{\"smtp\": {\n  \"smtpPort\": 25,,\n}}"), "JSON: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.json.toStdString());
        const TRun r = build(c.json.toUtf8());
        EXPECT_EQ(r.code, 1);
        EXPECT_TRUE(r.err.contains(c.message)) << r.err.toStdString();
        EXPECT_FALSE(QFile::exists(path(QStringLiteral("qorsmail.cfg"))));
    }
}

TEST_F(QorsmailCfg, DumpRefusesWhatItCannotGiveBack)
{
    TMailTables t;
    SetTaskDefaults(t);
    TEventMailTask e{};
    e.LevelMask = -1;
    e.ReceiverCount = 101;
    t.EventTasks.append(e);
    write(QStringLiteral("count.cfg"), TaskFileBytes(t));
    TRun r = run({QStringLiteral("dump"), path(QStringLiteral("count.cfg"))});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_TRUE(r.err.contains("eventTasks[0].receiverCount: 101 stored, the record holds at most 100"))
        << r.err.toStdString();

    write(QStringLiteral("cut.cfg"), TaskFileBytes(t).left(1000));
    r = run({QStringLiteral("dump"), path(QStringLiteral("cut.cfg"))});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains("event task 1 of 1 is cut short at byte 1000")) << r.err.toStdString();

    r = run({QStringLiteral("dump")});
    EXPECT_EQ(r.code, 2);
    r = run({QStringLiteral("bulid"), path(QStringLiteral("a")), path(QStringLiteral("b"))});
    EXPECT_EQ(r.code, 2);
}

TEST_F(QorsmailCfg, BuildWaitsForTheWriteLockAndReadsStandardInput)
{
    const QString target = path(QStringLiteral("qorsmail.cfg"));
    const int fd =
        ::open(QFile::encodeName(target + QStringLiteral(".lock")).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);

    QProcess p;
    p.start(Tool, {QStringLiteral("build"), QStringLiteral("-"), target});
    ASSERT_TRUE(p.waitForStarted(5000));
    p.write(R"({"smtp": {"smtpPort": 587}})");
    p.closeWriteChannel();
    EXPECT_FALSE(p.waitForFinished(400));
    EXPECT_FALSE(QFile::exists(target));
    ::close(fd);
    ASSERT_TRUE(p.waitForFinished(5000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();

    TMailTables t;
    SetTaskDefaults(t);
    ASSERT_TRUE(LoadTaskFileFrom(t, target));
    EXPECT_EQ(+t.SmtpSettings.smtpport, 587);
    EXPECT_EQ(+t.SmtpSettings.WaitSeconds, 60);
}

TEST_F(QorsmailCfg, NewFileIs0600AndAReplacedOneKeepsItsModeOwnerAndABackup)
{
    struct Case
    {
        const char* name;
        int oldMode; // -1: no file there yet
        mode_t umask;
        int expected;
        std::optional<std::pair<uid_t, gid_t>> owner; // given to the old file (needs root)
        bool throughLink = false; // qorsmail.cfg is a link to real.cfg
    };
    const Case cases[] = {
        {"new file", -1, 022, 0600, {}},
        {"new file, umask 0", -1, 0, 0600, {}},
        {"replaced 0600", 0600, 022, 0600, {}},
        {"replaced 0640, umask 077", 0640, 077, 0640, {}},
        {"replaced 0644, umask 0", 0644, 0, 0644, {}},
        {"replaced 0640 of 12345:12346", 0640, 022, 0640, std::pair<uid_t, gid_t>{12345, 12346}},
        {"through a link", 0640, 022, 0640, {}, true},
    };
    const QByteArray oldBytes("old task file");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.owner && ::geteuid() != 0) {
            continue; // only root gives a file another owner
        }
        const QString link = path(QStringLiteral("qorsmail.cfg"));
        const QString target = c.throughLink ? path(QStringLiteral("real.cfg")) : link;
        for (const QString& f : {link, target}) {
            QFile::remove(f);
            QFile::remove(f + QStringLiteral(".bak"));
        }
        if (c.oldMode >= 0) {
            write(QFileInfo(target).fileName(), oldBytes);
            ASSERT_EQ(::chmod(QFile::encodeName(target).constData(), static_cast<mode_t>(c.oldMode)), 0);
            if (c.owner) {
                ASSERT_EQ(::chown(QFile::encodeName(target).constData(), c.owner->first, c.owner->second), 0);
            }
        }
        if (c.throughLink) {
            ASSERT_TRUE(QFile::link(QStringLiteral("real.cfg"), link));
        }
        const mode_t previous = ::umask(c.umask); // the tool inherits it
        const TRun r = build(R"({"smtp": {"smtpPort": 587}})");
        ::umask(previous);
        ASSERT_EQ(r.code, 0) << r.err.toStdString();
        EXPECT_EQ(QFileInfo(link).isSymLink(), c.throughLink) << "a link stays a link";
        const uid_t uid = c.owner ? c.owner->first : ::geteuid();
        const gid_t gid = c.owner ? c.owner->second : ::getegid();
        // The lock too, so the owner can still save after root wrote the file.
        const QStringList owned = c.owner
            ? QStringList{target, target + QStringLiteral(".bak"), target + QStringLiteral(".lock")}
            : QStringList{target, target + QStringLiteral(".bak")};
        for (const QString& f : owned) {
            if (c.oldMode < 0 && f != target) {
                EXPECT_FALSE(QFile::exists(f));
                continue;
            }
            SCOPED_TRACE(f.toStdString());
            struct stat st
            {
            };
            ASSERT_EQ(::stat(QFile::encodeName(f).constData(), &st), 0);
            if (!f.endsWith(QStringLiteral(".lock"))) {
                EXPECT_EQ(st.st_mode & 07777, static_cast<mode_t>(c.expected));
            }
            EXPECT_EQ(st.st_uid, uid);
            EXPECT_EQ(st.st_gid, gid);
        }
        TMailTables t;
        SetTaskDefaults(t);
        EXPECT_TRUE(LoadTaskFileFrom(t, link));
        if (c.oldMode >= 0) {
            EXPECT_EQ(read(QFileInfo(target).fileName() + QStringLiteral(".bak")), oldBytes);
        }
    }
}

} // namespace
