// SPDX-License-Identifier: MIT
#pragma once

// The engine on a temporary working directory, with the scripted event-log library, a manual clock and the
// station's own address; the lines it writes for the log panel are kept without their time stamp.

#include "CoreTestApp.h"
#include "FakeLogLibrary.h"
#include "GbkCodec.h"
#include "QorsmailMain.h"

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

class EngineFixture : public ::testing::Test
{
protected:
    // First in SetUp; the log and the tables can then be prepared before createEngine().
    void prepare(const SYSTEMTIME& start)
    {
        coreTestApp();
        ASSERT_TRUE(m_dir.isValid());
        m_log.WorkDir = QFile::encodeName(m_dir.path() + QLatin1Char('/'));
        m_clock.set(start);
        Gbk::storeFieldBytes(m_tables.SmtpSettings.LocalEmailAddr, "station@example.cn");
    }

    void createEngine()
    {
        m_main = std::make_unique<TQorsmailMain>(m_tables, m_log, m_clock);
        QObject::connect(m_main.get(), &TQorsmailMain::logLineAdded, [this](const QString& line) {
            m_panel.append(line.mid(DateTimeText(m_clock.now()).size() + 2));
        });
    }

    QTemporaryDir m_dir;
    TMailTables m_tables;
    TFakeLogLibrary m_log;
    TManualClock m_clock;
    std::unique_ptr<TQorsmailMain> m_main;
    QStringList m_panel;
};
