// The singleton across threads: many threads logging at once, destruction
// draining the queue, and re-creation when threads race for the first call.
#include "LogerTestSupport.h"
#include "QuilmLog.h"

#include <QSemaphore>
#include <QTest>
#include <QThread>

#include <atomic>
#include <memory>
#include <vector>

using namespace QuilmLogging;

namespace {

// Holds the writer thread at its first line until released, so lines pile up
// in the queue.
class GatedDestination : public CollectingDestination
{
public:
    void write(const QString& message, Level level) override
    {
        if (!opened) {
            gate.acquire();
            opened = true;
        }
        CollectingDestination::write(message, level);
    }

    QSemaphore gate;

private:
    bool opened = false;
};

void withoutPrefixes()
{
    Logger::instance().setIncludeLogLevel(false);
    Logger::instance().setIncludeTimestamp(false);
}

} // namespace

class LogerLifecycle : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void threadsLoggingAtOnce();
    void destroyWritesEveryQueuedLine();
    void destroyTwiceIsHarmless();
    void statementAfterDestroyGoesNowhere();
    void recreationRaceYieldsOneLogger();
    void settingsChangedWhileOthersLog();
};

void LogerLifecycle::cleanup()
{
    Logger::destroyInstance();
}

void LogerLifecycle::threadsLoggingAtOnce()
{
    const int threadCount = 8;
    const int linesPerThread = 2000;

    Logger::destroyInstance();
    QSharedPointer<CollectingDestination> collector(new CollectingDestination);
    Logger::instance().addDestination(collector);
    withoutPrefixes();

    std::atomic<bool> go { false };
    std::vector<std::unique_ptr<QThread>> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back(QThread::create([t, &go] {
            while (!go.load())
                QThread::yieldCurrentThread();
            for (int i = 0; i < linesPerThread; ++i)
                QLOG_INFO() << t << i;
        }));
        threads.back()->start();
    }
    go.store(true);
    for (auto& thread : threads)
        QVERIFY(thread->wait(60000));
    Logger::destroyInstance();

    QCOMPARE(collector->lines.size(), threadCount * linesPerThread);
    std::vector<int> nextOfThread(threadCount, 0);
    for (const QString& line : qAsConst(collector->lines)) {
        const QStringList parts = line.split(QLatin1Char(' '));
        QCOMPARE(parts.size(), 3);
        const int t = parts.at(0).toInt();
        const int i = parts.at(1).toInt();
        QVERIFY(t >= 0 && t < threadCount);
        // In order and without gaps or repeats, so every line came exactly once.
        QCOMPARE(i, nextOfThread[t]);
        ++nextOfThread[t];
    }
}

void LogerLifecycle::destroyWritesEveryQueuedLine()
{
    const int lineCount = 300;

    Logger::destroyInstance();
    QSharedPointer<GatedDestination> gated(new GatedDestination);
    Logger::instance().addDestination(gated);
    withoutPrefixes();
    for (int i = 0; i < lineCount; ++i)
        QLOG_INFO() << i;
    QCOMPARE(gated->takenLines().size(), 0);

    std::unique_ptr<QThread> opener(QThread::create([&gated] {
        QThread::msleep(100);
        gated->gate.release();
    }));
    opener->start();
    Logger::destroyInstance();

    const QStringList lines = gated->takenLines();
    QCOMPARE(lines.size(), lineCount);
    QCOMPARE(lines.last(), QStringLiteral("%1 ").arg(lineCount - 1));
    QVERIFY(opener->wait(10000));
}

void LogerLifecycle::destroyTwiceIsHarmless()
{
    Logger::destroyInstance();
    QSharedPointer<CollectingDestination> collector(new CollectingDestination);
    Logger::instance().addDestination(collector);
    QLOG_INFO() << "once";
    Logger::destroyInstance();
    Logger::destroyInstance();

    QCOMPARE(collector->lines.size(), 1);
    QCOMPARE(Logger::instance().loggingLevel(), Info);
}

void LogerLifecycle::statementAfterDestroyGoesNowhere()
{
    Logger::destroyInstance();
    QSharedPointer<CollectingDestination> collector(new CollectingDestination);
    Logger::instance().addDestination(collector);
    Logger::instance().setLoggingLevel(Trace);
    Logger::instance().setIncludeTimestamp(false);
    Logger::instance().setIncludeLogLevel(false);
    QLOG_INFO() << "before";
    Logger::destroyInstance();

    QLOG_INFO() << "after";
    // The new logger starts from the defaults again.
    QCOMPARE(Logger::instance().loggingLevel(), Info);
    QVERIFY(Logger::instance().includeTimestamp());
    QVERIFY(Logger::instance().includeLogLevel());
    Logger::destroyInstance();

    QCOMPARE(collector->lines, QStringList({ "before " }));
}

void LogerLifecycle::recreationRaceYieldsOneLogger()
{
    const int threadCount = 4;

    for (int round = 0; round < 200; ++round) {
        Logger::destroyInstance();

        std::atomic<int> ready { 0 };
        std::vector<Logger*> seen(threadCount, nullptr);
        std::vector<std::unique_ptr<QThread>> threads;
        for (int t = 0; t < threadCount; ++t) {
            threads.emplace_back(QThread::create([t, &ready, &seen] {
                ready.fetch_add(1);
                while (ready.load() < threadCount)
                    QThread::yieldCurrentThread();
                seen[t] = &Logger::instance();
            }));
            threads.back()->start();
        }
        for (auto& thread : threads)
            QVERIFY(thread->wait(10000));

        for (Logger* logger : seen)
            QCOMPARE(logger, &Logger::instance());
    }
}

void LogerLifecycle::settingsChangedWhileOthersLog()
{
    Logger::destroyInstance();
    QSharedPointer<CollectingDestination> collector(new CollectingDestination);
    Logger::instance().addDestination(collector);
    Logger::instance().setIncludeTimestamp(false);

    std::atomic<bool> done { false };
    std::unique_ptr<QThread> writer(QThread::create([&done] {
        for (int i = 0; i < 20000; ++i)
            QLOG_WARN() << "w";
        done.store(true);
    }));
    writer->start();
    for (int i = 0; !done.load(); ++i) {
        Logger::instance().setIncludeLogLevel(i % 2 == 0);
        Logger::instance().setLoggingLevel(i % 2 == 0 ? Info : Error);
    }
    QVERIFY(writer->wait(10000));
    Logger::destroyInstance();

    // Every line is whole: with or without its level text, never torn.
    for (const QString& line : qAsConst(collector->lines))
        QVERIFY2(line == QLatin1String("WARN  w ") || line == QLatin1String("w "), qPrintable(line));
}

QTEST_GUILESS_MAIN(LogerLifecycle)
#include "loger_lifecycle.moc"
