// SPDX-License-Identifier: MIT
#include "NormalFunction.h"

#include <QFile>
#include <QTemporaryDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

class FileHelpersTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    QString path(const char* name = "f.dat") const { return m_dir.filePath(QString::fromLatin1(name)); }
    void create(const QByteArray& bytes, const char* name = "f.dat")
    {
        QFile f(path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(f.write(bytes), bytes.size());
    }
    QByteArray contents(const char* name = "f.dat") const
    {
        QFile f(path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

    // Closes every handle a test opened, also when it fails half-way.
    struct Handle
    {
        int32_t h;
        ~Handle()
        {
            if (h > 0) {
                LCloseFile(h);
            }
        }
    };

    QTemporaryDir m_dir;
};

TEST_F(FileHelpersTest, AccessModeIsTheFirstBitSet)
{
    create("abc");
    EXPECT_EQ(OpenFileEx(path(), 0, 0, 0), -1);
    EXPECT_EQ(OpenFileEx(path(), faOpenAlways | faCreate | faNoEffect, 0, 0), -1);
    EXPECT_EQ(contents(), QByteArray("abc"));

    // Read wins over read-write: writing fails, reading works.
    Handle r{OpenFileEx(path(), faRead | faReadWrite, 0, 0)};
    ASSERT_GT(r.h, 0);
    EXPECT_EQ(LWriteFile(r.h, "x", 1), -1);
    char buf[8] = {};
    EXPECT_EQ(LReadFile(r.h, buf, sizeof(buf)), 3);
    EXPECT_STREQ(buf, "abc");

    // Write wins over read-write: reading fails.
    Handle w{OpenFileEx(path(), faWrite | faReadWrite, 0, 0)};
    ASSERT_GT(w.h, 0);
    EXPECT_EQ(LReadFile(w.h, buf, 1), -1);
    EXPECT_EQ(LWriteFile(w.h, "X", 1), 1);
    EXPECT_EQ(contents(), QByteArray("Xbc"));
}

TEST_F(FileHelpersTest, OpenAlwaysCreatesAndCreateEmpties)
{
    EXPECT_EQ(OpenFileEx(path(), faRead, 0, 0), -1);
    EXPECT_FALSE(QFile::exists(path()));

    // A file created by open-always gets read-write access unless creation bit 0 keeps the requested one.
    {
        Handle h{OpenFileEx(path(), faRead | faOpenAlways, 0, 0)};
        ASSERT_GT(h.h, 0);
        EXPECT_EQ(LWriteFile(h.h, "new", 3), 3);
    }
    EXPECT_EQ(contents(), QByteArray("new"));
    {
        Handle h{OpenFileEx(path("kept.dat"), faRead | faOpenAlways, coKeepAccess, 0)};
        ASSERT_GT(h.h, 0);
        EXPECT_TRUE(QFile::exists(path("kept.dat")));
        EXPECT_EQ(LWriteFile(h.h, "x", 1), -1);
    }
    // An existing file opened with open-always keeps its contents and the requested access.
    {
        Handle h{OpenFileEx(path(), faRead | faOpenAlways, 0, 0)};
        ASSERT_GT(h.h, 0);
        EXPECT_EQ(LWriteFile(h.h, "x", 1), -1);
    }
    EXPECT_EQ(contents(), QByteArray("new"));
    {
        Handle h{OpenFileEx(path(), faReadWrite | faCreate, 0, 0)};
        ASSERT_GT(h.h, 0);
    }
    EXPECT_EQ(contents(), QByteArray());
    create("again");
    {
        Handle h{OpenFileEx(path(), faRead | faCreate, 0, 0)};
        ASSERT_GT(h.h, 0);
    }
    EXPECT_EQ(contents(), QByteArray());
}

TEST_F(FileHelpersTest, ShareModesBecomeLocksThatRefuseWithoutWaiting)
{
    create("task file");
    Handle reader{OpenFileEx(path(), faRead | faNoEffect, 0, smDenyWrite)};
    ASSERT_GT(reader.h, 0);
    // Other readers that deny writing share the file; a writer wanting it alone is refused.
    Handle reader2{OpenFileEx(path(), faRead, 0, smDenyWrite)};
    EXPECT_GT(reader2.h, 0);
    EXPECT_EQ(OpenFileEx(path(), faReadWrite, 0, smExclusive), -1);
    // A refused "create" must leave the file as it was.
    EXPECT_EQ(OpenFileEx(path(), faWrite | faCreate, 0, smExclusive), -1);
    EXPECT_EQ(contents(), QByteArray("task file"));
    // Deny-none and compatibility mode take no lock.
    Handle open{OpenFileEx(path(), faReadWrite, 0, smDenyNone2)};
    EXPECT_GT(open.h, 0);
    Handle compat{OpenFileEx(path(), faRead, 0, smCompat | smExclusive)};
    EXPECT_GT(compat.h, 0);

    LCloseFile(reader.h);
    LCloseFile(reader2.h);
    Handle alone{OpenFileEx(path(), faReadWrite, 0, smExclusive)};
    EXPECT_GT(alone.h, 0);
    EXPECT_EQ(OpenFileEx(path(), faRead, 0, smDenyWrite), -1);
    EXPECT_EQ(OpenFileEx(path(), faRead, 0, smDenyRead), -1);
}

TEST_F(FileHelpersTest, NoHandleForAFolderOrAnEmptyPath)
{
    EXPECT_EQ(OpenFileEx(m_dir.path(), faRead, 0, 0), -1);
    EXPECT_EQ(OpenFileEx(m_dir.path(), faReadWrite | faOpenAlways, 0, 0), -1);
    EXPECT_EQ(OpenFileEx(QString(), faReadWrite | faOpenAlways, 0, 0), -1);
    EXPECT_EQ(OpenFileEx(m_dir.filePath(QStringLiteral("no/such/f")), faReadWrite | faOpenAlways, 0, 0), -1);
}

TEST_F(FileHelpersTest, HandleZeroIsNeverHandedOut)
{
    create("x");
    const int saved = ::dup(0);
    ASSERT_GE(saved, 0);
    ::close(0);
    Handle h{OpenFileEx(path(), faRead, 0, 0)};
    ::dup2(saved, 0);
    ::close(saved);
    EXPECT_GT(h.h, 0);
    char c = 0;
    EXPECT_EQ(LReadFile(h.h, &c, 1), 1);
    EXPECT_EQ(c, 'x');
}

TEST_F(FileHelpersTest, SeekReadWriteCloseReportMinusOneAndNeverRaise)
{
    char buf[4];
    for (int32_t bad : {0, -1}) {
        EXPECT_EQ(LSeekFile(bad, 0, 0), -1);
        EXPECT_EQ(LReadFile(bad, buf, 1), -1);
        EXPECT_EQ(LWriteFile(bad, "x", 1), -1);
    }
    int32_t zero = 0;
    EXPECT_EQ(LCloseFile(zero), -1);
    EXPECT_EQ(zero, -1);

    create("0123456789");
    int32_t h = OpenFileEx(path(), faReadWrite, 0, 0);
    ASSERT_GT(h, 0);
    EXPECT_EQ(LSeekFile(h, 0, 2), 10);
    EXPECT_EQ(LSeekFile(h, -3, 2), 7);
    EXPECT_EQ(LReadFile(h, buf, 4), 3); // only three bytes left: a short read means the end
    EXPECT_EQ(LReadFile(h, buf, 4), 0);
    EXPECT_EQ(LSeekFile(h, 2, 0), 2);
    EXPECT_EQ(LSeekFile(h, 1, 1), 3);
    EXPECT_EQ(LSeekFile(h, 0, 3), -1);
    EXPECT_EQ(LSeekFile(h, -20, 0), -1);
    EXPECT_EQ(LReadFile(h, nullptr, 1), -1);
    EXPECT_EQ(LReadFile(h, buf, -1), -1);
    EXPECT_EQ(LWriteFile(h, "ab", 2), 2);
    EXPECT_EQ(contents(), QByteArray("012ab56789"));

    EXPECT_EQ(LCloseFile(h), 0);
    EXPECT_EQ(h, -1);
    EXPECT_EQ(LCloseFile(h), -1);
    EXPECT_EQ(h, -1);
}

TEST(TextHelpers, TextBeforeChar)
{
    EXPECT_EQ(TextBeforeChar("  name = addr", '='), QByteArray("name"));
    EXPECT_EQ(TextBeforeChar("  = addr", '='), QByteArray());
    EXPECT_EQ(TextBeforeChar("no separator", '='), QByteArray());
    EXPECT_EQ(TextBeforeChar("a=b=c", '='), QByteArray("a"));
    EXPECT_EQ(TextBeforeChar(QByteArray("\0\t x\x01=", 6), '='), QByteArray("x"));
    // Bytes of GBK characters are above 0x20 and never trimmed.
    EXPECT_EQ(TextBeforeChar("\xD6\xB5\xB0\xE0 <a@b>", '<'), QByteArray("\xD6\xB5\xB0\xE0"));
}

// A trail byte equal to the separator is part of a character: 園 is 0x88 0x40, 乚 is 0x81 0x5D.
TEST(TextHelpers, SeparatorsAreFoundByCharacter)
{
    struct Case
    {
        QByteArray text;
        char separator;
        QByteArray before;
        QByteArray after;
    };
    const Case cases[] = {
        {"\x88\x40\xCF\xE0@b.cn", '@', "\x88\x40\xCF\xE0", "b.cn"},
        {"a@\x88\x40 // x", '@', "a", "\x88\x40"},
        {"\x88\x40\x88\x40", '@', "", ""},
        {"\x81\x5D] x", ']', "\x81\x5D", "x"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TextBeforeChar(c.text, c.separator), c.before) << c.text.toHex().constData();
        EXPECT_EQ(TextAfterChar(c.text, c.separator), c.after) << c.text.toHex().constData();
    }
}

TEST(TextHelpers, EscapeControlsKeepsALogEntryOnOneLine)
{
    const struct
    {
        QString text;
        QString escaped;
    } cases[] = {
        {QStringLiteral("日报\r\nBcc: x"), QStringLiteral("日报\\x0d\\x0aBcc: x")},
        {QStringLiteral("a\tb\x7f"), QStringLiteral("a\\x09b\\x7f")},
        {QString(QChar(0)) + QChar(0x85), QStringLiteral("\\x00\\x85")},
        {QStringLiteral("x") + QChar(0x2028) + QChar(0x2029), QStringLiteral("x\\u2028\\u2029")},
        {QStringLiteral("平常的 text \\x0d"), QStringLiteral("平常的 text \\x0d")},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EscapeControls(c.text), c.escaped) << c.text.toStdString();
    }
}

TEST(TextHelpers, TextAfterChar)
{
    EXPECT_EQ(TextAfterChar("name = addr@x.cn  // comment", '='), QByteArray("addr@x.cn"));
    EXPECT_EQ(TextAfterChar("name =   ", '='), QByteArray());
    EXPECT_EQ(TextAfterChar("name =//x", '='), QByteArray());
    EXPECT_EQ(TextAfterChar("name = //x", '='), QByteArray());
    EXPECT_EQ(TextAfterChar("a//b=c", '='), QByteArray());
    EXPECT_EQ(TextAfterChar("no separator", '='), QByteArray());
    EXPECT_EQ(TextAfterChar("a=b=c", '='), QByteArray("b=c"));
    EXPECT_EQ(TextAfterChar("a=", '='), QByteArray());
    EXPECT_EQ(TrimBlanks(QByteArray(" \0 ", 3)), QByteArray());
}

} // namespace
