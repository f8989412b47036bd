#include "OssServerStatus.h"
#include "TestConfig.h"

#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <memory>

using Nimbrel::OssServerStatus;

// The monitor runs "ping" from the search path; a stub first on PATH stands in
// for it, records its arguments and answers as its control files say.
static const char pingStub[] = R"SH(#!/bin/sh
dir="$(dirname "$0")"
printf '%s\n' "$*" >> "$dir/ping.log"
if [ -f "$dir/delay" ]; then sleep "$(cat "$dir/delay")"; fi
if [ -f "$dir/answer" ]; then cat "$dir/answer"; exit 0; fi
exit 1
)SH";

static const QByteArray linuxReply = "64 bytes from 127.0.0.1: icmp_seq=1 ttl=64 time=0.040 ms\n";

class TestOssServerStatus : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir sandbox;
    QString binDir;
    QString config;
    int configCount = 0;

    QString configFor(const QString& host)
    {
        return TestConfig::writeConfig(sandbox.filePath(QString("host%1.cfg").arg(++configCount)), host,
                                       QStringLiteral("bucket"), QStringLiteral("id"), QStringLiteral("secret"));
    }
    void answer(const QByteArray& reply) { QVERIFY(TestConfig::writeFile(binDir + "/answer", reply)); }
    void silence() { QFile::remove(binDir + "/answer"); }
    QStringList pingCalls() const
    {
        QFile log(binDir + "/ping.log");
        if (!log.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(log.readAll()).split('\n', Qt::SkipEmptyParts);
    }
    void waitUntilEnded(OssServerStatus& monitor) { QVERIFY(monitor.wait(10000)); }

private slots:
    void initTestCase()
    {
        QVERIFY(sandbox.isValid());
        binDir = sandbox.filePath("bin");
        QVERIFY(QDir().mkpath(binDir));
        QFile stub(binDir + "/ping");
        QVERIFY(stub.open(QIODevice::WriteOnly));
        stub.write(pingStub);
        stub.close();
        stub.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        qputenv("PATH", (binDir + ":" + qEnvironmentVariable("PATH")).toLocal8Bit());
        // Never a real ping from this test.
        QCOMPARE(QStandardPaths::findExecutable("ping"), binDir + "/ping");
        config = configFor(QStringLiteral("http://oss.example.invalid/"));
        QVERIFY(!config.isEmpty());
    }

    void init()
    {
        QFile::remove(binDir + "/ping.log");
        QFile::remove(binDir + "/delay");
        answer(linuxReply);
    }

    void startRefusedWithoutConfig()
    {
        OssServerStatus monitor;
        monitor.setConfigFileName(std::string(), 1000);
        QVERIFY(!monitor.startDetect());
        QVERIFY(!monitor.isRunning());
    }

    void configFailureEndsWithoutSignal_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("missing file") << "missing";
        QTest::newRow("not decipherable") << "undecodable";
        QTest::newRow("no account lines") << "unparsable";
        QTest::newRow("named pipe") << "fifo";
    }
    void configFailureEndsWithoutSignal()
    {
        QFETCH(QString, kind);
        QString path = sandbox.filePath(kind + ".cfg");
        QVERIFY(TestConfig::writeFaulty(path, kind));
        OssServerStatus monitor;
        QSignalSpy status(&monitor, &OssServerStatus::sigNetworkStatus);
        monitor.setConfigFileName(path.toStdString(), 100);
        QVERIFY(monitor.startDetect());
        waitUntilEnded(monitor);
        QTest::qWait(50);
        QCOMPARE(status.count(), 0);
        QVERIFY(pingCalls().isEmpty());
    }

    void answeringHostIsWatchedQuietly()
    {
        OssServerStatus monitor;
        QSignalSpy status(&monitor, &OssServerStatus::sigNetworkStatus);
        monitor.setConfigFileName(config.toStdString(), 300);
        QVERIFY(monitor.startDetect());
        QTest::qWait(1000);
        QVERIFY(monitor.isRunning());
        QCOMPARE(status.count(), 0);
        const QStringList calls = pingCalls();
        // One echo request at a time, each waiting half a second at most.
        QVERIFY(calls.size() >= 2);
        QCOMPARE(calls.first(), QStringLiteral("-c 1 -W 0.5 oss.example.invalid"));
        QVERIFY(monitor.stopDetect());
        QVERIFY(!monitor.isRunning());
        QCOMPARE(status.count(), 0);
    }

    void hostText_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("pinged");
        QTest::newRow("plain name") << "oss-cn-hangzhou.example.invalid"
                                    << "oss-cn-hangzhou.example.invalid";
        QTest::newRow("scheme and slash") << "http://oss.example.invalid/"
                                          << "oss.example.invalid";
        QTest::newRow("several trailing slashes") << "https://oss.example.invalid///"
                                                  << "oss.example.invalid";
        QTest::newRow("backslashes") << "https:\\\\oss.example.invalid\\"
                                     << "oss.example.invalid";
        QTest::newRow("path kept") << "http://oss.example.invalid/a/"
                                   << "oss.example.invalid/a";
        QTest::newRow("scheme and port") << "http://127.0.0.1:9000/"
                                         << "127.0.0.1:9000";
        QTest::newRow("port without scheme") << "localhost:8080"
                                             << "80";
        QTest::newRow("utf-8 name") << "http://b\u00fccher.example.invalid"
                                    << "b\u00fccher.example.invalid";
        // Never handed to ping: empty, or read as an option.
        QTest::newRow("nothing after scheme") << "http://"
                                              << "";
        QTest::newRow("leading dash") << "-c9"
                                      << "";
        QTest::newRow("dash after scheme") << "http://--help/"
                                           << "";
    }
    void hostText()
    {
        QFETCH(QString, host);
        QFETCH(QString, pinged);
        const QString path = configFor(host);
        QVERIFY(!path.isEmpty());
        OssServerStatus monitor;
        QSignalSpy status(&monitor, &OssServerStatus::sigNetworkStatus);
        monitor.setConfigFileName(path.toStdString(), 200);
        QVERIFY(monitor.startDetect());
        if (pinged.isEmpty()) {
            // Counts as not answered: the time-out ends the job.
            QTRY_COMPARE_WITH_TIMEOUT(status.count(), 1, 5000);
            QVERIFY(pingCalls().isEmpty());
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(!pingCalls().isEmpty(), 5000);
            monitor.stopDetect();
            QCOMPARE(pingCalls().first(), "-c 1 -W 0.5 " + pinged);
        }
    }

    void replyText_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("answered");
        QTest::newRow("linux reply") << linuxReply << true;
        QTest::newRow("capital TTL") << QByteArray("Reply from 10.0.0.1: bytes=32 time<1ms TTL=64\n") << true;
        QTest::newRow("no reply line") << QByteArray("1 packets transmitted, 0 received\n") << false;
        QTest::newRow("empty output") << QByteArray() << false;
    }
    void replyText()
    {
        QFETCH(QByteArray, reply);
        QFETCH(bool, answered);
        answer(reply);
        OssServerStatus monitor;
        QSignalSpy status(&monitor, &OssServerStatus::sigNetworkStatus);
        monitor.setConfigFileName(config.toStdString(), 300);
        QVERIFY(monitor.startDetect());
        QTest::qWait(1200);
        QCOMPARE(status.count(), answered ? 0 : 1);
        QCOMPARE(monitor.isRunning(), answered);
    }

    void silentHostFailsOnceAfterTimeout()
    {
        silence();
        OssServerStatus monitor;
        QSignalSpy status(&monitor, &OssServerStatus::sigNetworkStatus);
        monitor.setConfigFileName(config.toStdString(), 400);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(monitor.startDetect());
        QTRY_COMPARE_WITH_TIMEOUT(status.count(), 1, 5000);
        QVERIFY(clock.elapsed() >= 400);
        QCOMPARE(status.first().first().toString(), QStringLiteral("fail"));
        waitUntilEnded(monitor);
        QTest::qWait(200);
        QCOMPARE(status.count(), 1);
    }

    void nonPositiveTimeoutMeansThreeSeconds()
    {
        silence();
        OssServerStatus monitor;
        QSignalSpy status(&monitor, &OssServerStatus::sigNetworkStatus);
        monitor.setConfigFileName(config.toStdString(), 100);
        // An empty path keeps the previous one; the time-out is set in any case.
        monitor.setConfigFileName(std::string(), 0);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(monitor.startDetect());
        QTRY_COMPARE_WITH_TIMEOUT(status.count(), 1, 8000);
        QVERIFY2(clock.elapsed() >= 3000, qPrintable(QString::number(clock.elapsed())));
    }

    void hostThatStopsAnswering()
    {
        OssServerStatus monitor;
        QSignalSpy status(&monitor, &OssServerStatus::sigNetworkStatus);
        monitor.setConfigFileName(config.toStdString(), 300);
        QVERIFY(monitor.startDetect());
        QTest::qWait(700);
        QCOMPARE(status.count(), 0);
        silence();
        QElapsedTimer clock;
        clock.start();
        QTRY_COMPARE_WITH_TIMEOUT(status.count(), 1, 5000);
        QVERIFY(clock.elapsed() >= 150);
    }

    void stopAndRestart()
    {
        OssServerStatus monitor;
        QSignalSpy status(&monitor, &OssServerStatus::sigNetworkStatus);
        monitor.setConfigFileName(config.toStdString(), 300);
        QVERIFY(monitor.startDetect());
        QVERIFY(!monitor.startDetect());
        QTRY_VERIFY_WITH_TIMEOUT(!pingCalls().isEmpty(), 5000);
        QVERIFY(monitor.stopDetect());
        QVERIFY(!monitor.isRunning());

        // A fresh job: the start clears the stop request and the time-out starts anew.
        silence();
        QVERIFY(monitor.startDetect());
        QTRY_COMPARE_WITH_TIMEOUT(status.count(), 1, 5000);
        waitUntilEnded(monitor);
        QVERIFY(monitor.startDetect());
        QTRY_COMPARE_WITH_TIMEOUT(status.count(), 2, 5000);
    }

    void refusedStartKeepsAWaitingStop()
    {
        // Each pass takes long enough for the refused start to come while the
        // stop waits for it.
        QVERIFY(TestConfig::writeFile(binDir + "/delay", "0.3"));
        OssServerStatus monitor;
        monitor.setConfigFileName(config.toStdString(), 300);
        QVERIFY(monitor.startDetect());
        QTRY_VERIFY_WITH_TIMEOUT(!pingCalls().isEmpty(), 5000);
        std::atomic<bool> stopped{false};
        std::unique_ptr<QThread> stopper(QThread::create([&] {
            monitor.stopDetect();
            stopped = true;
        }));
        stopper->start();
        // Should the refused start take the request back, a stop of its own ends the job.
        const auto end = qScopeGuard([&] {
            monitor.stopDetect();
            stopper->wait();
        });
        QTest::qWait(50);
        QVERIFY(!stopped);
        QVERIFY(!monitor.startDetect());
        QTRY_VERIFY_WITH_TIMEOUT(stopped, 3000);
        QVERIFY(!monitor.isRunning());
    }

    void stopIdleReturnsAtOnce()
    {
        OssServerStatus monitor;
        QElapsedTimer clock;
        clock.start();
        QVERIFY(monitor.stopDetect());
        QVERIFY(clock.elapsed() < 500);
    }

    void stopDuringSlowPingWaitsForThePass()
    {
        QVERIFY(TestConfig::writeFile(binDir + "/delay", "0.5"));
        OssServerStatus monitor;
        QSignalSpy status(&monitor, &OssServerStatus::sigNetworkStatus);
        monitor.setConfigFileName(config.toStdString(), 100);
        QVERIFY(monitor.startDetect());
        QTRY_VERIFY_WITH_TIMEOUT(!pingCalls().isEmpty(), 5000);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(monitor.stopDetect());
        QVERIFY(clock.elapsed() < 2000);
        QVERIFY(!monitor.isRunning());
        QTest::qWait(200);
        QCOMPARE(status.count(), 0);
    }

    void destroyWhileWatching()
    {
        auto monitor = std::make_unique<OssServerStatus>();
        QSignalSpy status(monitor.get(), &OssServerStatus::sigNetworkStatus);
        monitor->setConfigFileName(config.toStdString(), 300);
        QVERIFY(monitor->startDetect());
        QTRY_VERIFY_WITH_TIMEOUT(!pingCalls().isEmpty(), 5000);
        QElapsedTimer clock;
        clock.start();
        monitor.reset();
        QVERIFY(clock.elapsed() < 2000);
        QCOMPARE(status.count(), 0);
    }
};

QTEST_GUILESS_MAIN(TestOssServerStatus)
#include "tst_OssServerStatus.moc"
