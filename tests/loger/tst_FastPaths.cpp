// The statement and writer paths that avoid work per line must give the lines
// a fresh QDebug, a fresh clock reading and a per-line write would give: the
// timestamp against the clock and the time zone, stream settings and nested
// statements, lines longer than the queue's blocks, threads that end, line
// memory used again while the writer lags behind, and the file destination's
// bytes, flushing and rotation.
#include "LoggerFixture.h"
#include "QuilmLog.h"
#include "QuilmLogDestFile.h"
#include "RecordingDestination.h"
#include "SandboxFiles.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QScopeGuard>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <time.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

using namespace QuilmLogging;

namespace {

// The instant a line's timestamp names, read in the current time zone.
qint64 stampedMSecs(const QString& line)
{
    const QDateTime stamp = QDateTime::fromString(line.left(kTimestampLength), kTimestampFormat);
    return stamp.isValid() ? stamp.toMSecsSinceEpoch() : -1;
}

void setTimeZone(const QByteArray& zone)
{
    if (zone.isNull())
        qunsetenv("TZ");
    else
        qputenv("TZ", zone);
    tzset();
}

int innerStatement()
{
    QLOG_INFO() << "inner" << 1;
    return 7;
}

// Writes each line only once the test lets it through, so that the test
// decides how far the writer lags behind the statements.
class MeteredDestination : public RecordingDestination
{
public:
    explicit MeteredDestination(bool keepLines = true)
        : keepLines(keepLines)
    {
    }
    void write(const QString& message, Level level) override
    {
        permits.acquire();
        if (keepLines)
            RecordingDestination::write(message, level);
        written.fetch_add(1);
    }

    QSemaphore permits;
    std::atomic<int> written{0};

private:
    const bool keepLines;
};

// Lines of a few kilobytes with their own text and length, so that a line
// written over by another shows.
QString numberedText(int round, int i)
{
    return QStringLiteral("%1.%2 ").arg(round).arg(i)
           + QString(300 + (round * 131 + i * 977) % 2700, QChar(u'a' + (round + i) % 26));
}

// Logs from its destructor, which runs as its thread ends.
struct LogsAtThreadEnd
{
    int id = 0;
    ~LogsAtThreadEnd() { QLOG_INFO() << "thread end" << id; }
};

thread_local LogsAtThreadEnd logsAtThreadEnd;

} // namespace

class TestFastPaths : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void timestampsFollowTheClock();
    void timeZoneChangeShowsFromTheNextSecond();
    void streamSettingsEndWithTheStatement_data();
    void streamSettingsEndWithTheStatement();
    void statementAmongAnotherStatementsItems();
    void linesLongerThanABlock();
    void threadsThatEnd();
    void memoryUsedAgainWhileLinesWait();
    void memoryAfterABurst();
    void sleepingWriterIsWoken();
    void fileBytesAndCountAsBefore_data();
    void fileBytesAndCountAsBefore();
    void eachLineReachesTheFileAtOnce();
    void rotationThroughTheLogger();

private:
    QByteArray savedZone;
};

void TestFastPaths::init()
{
    savedZone = qgetenv("TZ");
    if (!qEnvironmentVariableIsSet("TZ"))
        savedZone = QByteArray();
}

void TestFastPaths::cleanup()
{
    Logger::destroyInstance();
    setTimeZone(savedZone);
}

// Lines over more than a second: each timestamp lies between the clock
// readings taken around its statement.
void TestFastPaths::timestampsFollowTheClock()
{
    auto recorder = freshLoggerWithRecorder();
    Logger::instance().setIncludeLogLevel(false);
    std::vector<std::pair<qint64, qint64>> windows;
    QElapsedTimer elapsed;
    elapsed.start();
    while (elapsed.elapsed() < 1200) {
        const qint64 before = QDateTime::currentMSecsSinceEpoch();
        QLOG_INFO() << "tick";
        windows.emplace_back(before, QDateTime::currentMSecsSinceEpoch());
        QThread::usleep(200);
    }
    Logger::destroyInstance();

    const QStringList lines = recorder->entries();
    QCOMPARE(lines.size(), qsizetype(windows.size()));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const qint64 stamped = stampedMSecs(lines.at(i));
        QVERIFY2(stamped >= windows[i].first && stamped <= windows[i].second, qPrintable(lines.at(i)));
    }
}

void TestFastPaths::timeZoneChangeShowsFromTheNextSecond()
{
    auto recorder = freshLoggerWithRecorder();
    Logger::instance().setIncludeLogLevel(false);
    setTimeZone("UTC0");
    QLOG_INFO() << "in UTC";

    // Five hours east of UTC, from the next second on.
    setTimeZone("<+05>-5");
    const qint64 second = QDateTime::currentMSecsSinceEpoch() / 1000;
    while (QDateTime::currentMSecsSinceEpoch() / 1000 == second)
        QThread::msleep(5);
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    QLOG_INFO() << "in UTC+5";
    const qint64 after = QDateTime::currentMSecsSinceEpoch();
    Logger::destroyInstance();

    const QStringList lines = recorder->entries();
    QCOMPARE(lines.size(), qsizetype(2));
    // Read as UTC+5, the stamp names the instant of the statement; a stamp
    // still in UTC would lie five hours off.
    const qint64 stamped = stampedMSecs(lines.at(1));
    QVERIFY2(stamped >= before && stamped <= after, qPrintable(lines.at(1)));
}

void TestFastPaths::streamSettingsEndWithTheStatement_data()
{
    QTest::addColumn<int>("setting");
    QTest::newRow("nospace") << 0;
    QTest::newRow("noquote") << 1;
    QTest::newRow("hex and showbase") << 2;
    QTest::newRow("field width and pad") << 3;
    QTest::newRow("fixed precision") << 4;
    QTest::newRow("verbosity") << 5;
}

// Whatever one statement sets on its stream, the next one on the same thread
// starts from QDebug's defaults.
void TestFastPaths::streamSettingsEndWithTheStatement()
{
    QFETCH(int, setting);
    auto recorder = freshLoggerWithRecorder();
    withoutPrefixes();
    switch (setting) {
    case 0:
        QLOG_INFO().nospace() << "a"
                              << "b";
        break;
    case 1: QLOG_INFO().noquote() << QStringLiteral("q"); break;
    case 2: QLOG_INFO() << Qt::hex << Qt::showbase << 255; break;
    case 3: QLOG_INFO() << qSetPadChar(QLatin1Char('*')) << qSetFieldWidth(8) << 5; break;
    case 4: QLOG_INFO() << Qt::fixed << qSetRealNumberPrecision(2) << 1.5; break;
    case 5: QLOG_INFO().verbosity(0) << QStringLiteral("v"); break;
    }
    QLOG_INFO() << 255 << QStringLiteral("q") << 1.5 << "a"
                << "b";
    Logger::destroyInstance();

    const QStringList lines = recorder->entries();
    QCOMPARE(lines.size(), qsizetype(2));
    QCOMPARE(lines.at(1), QStringLiteral("255 \"q\" 1.5 a b "));
}

void TestFastPaths::statementAmongAnotherStatementsItems()
{
    auto recorder = freshLoggerWithRecorder();
    withoutPrefixes();
    QLOG_INFO() << "outer" << innerStatement() << QStringLiteral("end");
    QLOG_INFO() << "after";
    Logger::destroyInstance();

    // The inner statement ends first.
    QCOMPARE(recorder->entries(), QStringList({"inner 1 ", "outer 7 \"end\" ", "after "}));
}

void TestFastPaths::linesLongerThanABlock()
{
    auto recorder = freshLoggerWithRecorder();
    withoutPrefixes();
    const QString huge(200000, QLatin1Char('x'));
    QLOG_INFO() << "short";
    QLOG_INFO().noquote() << huge;
    QLOG_INFO() << "short again";
    QLOG_INFO().noquote() << huge.left(70000);
    Logger::destroyInstance();

    const QStringList lines = recorder->entries();
    QCOMPARE(lines.size(), qsizetype(4));
    QCOMPARE(lines.at(0), QStringLiteral("short "));
    QVERIFY(lines.at(1) == huge + QLatin1Char(' '));
    QCOMPARE(lines.at(2), QStringLiteral("short again "));
    QVERIFY(lines.at(3) == huge.left(70000) + QLatin1Char(' '));
}

// Threads come and go, some logging from a destructor as they end.
void TestFastPaths::threadsThatEnd()
{
    auto recorder = freshLoggerWithRecorder();
    withoutPrefixes();
    const int threadCount = 40;
    for (int t = 0; t < threadCount; ++t) {
        // join() returns after the thread's own destructors ran.
        std::thread thread([t] {
            logsAtThreadEnd.id = t;
            for (int i = 0; i < 3; ++i)
                QLOG_INFO() << t << i;
        });
        thread.join();
    }
    Logger::destroyInstance();

    QStringList expected;
    for (int t = 0; t < threadCount; ++t) {
        for (int i = 0; i < 3; ++i)
            expected.append(QStringLiteral("%1 %2 ").arg(t).arg(i));
        expected.append(QStringLiteral("thread end %1 ").arg(t));
    }
    QCOMPARE(recorder->entries(), expected);
}

// Threads log and end while the writer lags behind: the memory of lines
// written goes to the next threads while other lines still wait in theirs.
void TestFastPaths::memoryUsedAgainWhileLinesWait()
{
    Logger::destroyInstance();
    QSharedPointer<MeteredDestination> metered(new MeteredDestination);
    Logger::instance().addDestination(metered);
    const auto openGate = qScopeGuard([&metered] { metered->permits.release(1 << 20); });
    withoutPrefixes();
    const int linesPerThread = 120;
    QStringList expected;
    int released = 0;
    for (int round = 0; round < 8; ++round) {
        std::thread thread([round] {
            for (int i = 0; i < linesPerThread; ++i)
                QLOG_INFO().noquote() << numberedText(round, i);
        });
        thread.join();
        for (int i = 0; i < linesPerThread; ++i)
            expected.append(numberedText(round, i) + QLatin1Char(' '));
        QLOG_INFO().noquote() << numberedText(-1, round);
        expected.append(numberedText(-1, round) + QLatin1Char(' '));

        // Two thirds of a round's lines: the writer falls further behind.
        released += 80;
        metered->permits.release(80);
        QTRY_COMPARE(metered->written.load(), released);
    }
    metered->permits.release(int(expected.size()) - released);
    Logger::destroyInstance();

    const QStringList lines = metered->entries();
    QCOMPARE(lines.size(), expected.size());
    for (qsizetype n = 0; n < lines.size(); ++n)
        QVERIFY2(lines.at(n) == expected.at(n),
                 qPrintable(QStringLiteral("line %1: %2").arg(n).arg(lines.at(n).left(40))));
}

// Once the writer has caught up with a burst of lines, what stays allocated
// is a few spare chunks, not the burst.
void TestFastPaths::memoryAfterABurst()
{
#ifndef __GLIBC__
    QSKIP("reads the figures of the GNU C library's allocator");
#else
    Logger::destroyInstance();
    QSharedPointer<MeteredDestination> metered(new MeteredDestination(false));
    Logger::instance().addDestination(metered);
    const auto openGate = qScopeGuard([&metered] { metered->permits.release(1 << 20); });
    withoutPrefixes();
    const auto allocated = [] {
        const struct mallinfo2 figures = mallinfo2();
        return qint64(figures.uordblks + figures.hblkhd);
    };
    const qint64 mebibyte = 1024 * 1024;
    {
        const qint64 unused = allocated();
        const QByteArray probe(4 * mebibyte, 'x');
        if (allocated() - unused < 2 * mebibyte)
            QSKIP("another allocator than the C library's serves this process");
    }
    const int threadCount = 4;
    const int linesPerThread = 1000;
    const qint64 before = allocated();

    // About 16 MiB of lines, all waiting for the writer.
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back([t] {
            const QString text(2000, QChar(u'a' + t));
            for (int i = 0; i < linesPerThread; ++i)
                QLOG_INFO().noquote() << text;
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    QVERIFY(allocated() - before > 12 * mebibyte);

    metered->permits.release(threadCount * linesPerThread);
    Logger::destroyInstance();
    QCOMPARE(metered->written.load(), threadCount * linesPerThread);
    const qint64 kept = allocated() - before;
    QVERIFY2(kept < 2 * mebibyte, qPrintable(QStringLiteral("%1 bytes still allocated").arg(kept)));
#endif
}

// Lines with pauses between them, so that the writer goes to sleep again and
// again: each line must wake it, or it would wait for the logger's end.
void TestFastPaths::sleepingWriterIsWoken()
{
    auto recorder = freshLoggerWithRecorder();
    withoutPrefixes();
    const int linesPerThread = 300;
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < linesPerThread; ++i) {
                QLOG_INFO() << t << i;
                std::this_thread::sleep_for(std::chrono::microseconds((i * 37 + t * 11) % 300));
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    QTRY_COMPARE(recorder->entries().size(), qsizetype(2 * linesPerThread));

    // One line at a time, each written before the next.
    for (int i = 0; i < 10; ++i) {
        QLOG_INFO() << "single" << i;
        QTRY_COMPARE(recorder->entries().size(), qsizetype(2 * linesPerThread + i + 1));
    }
}

void TestFastPaths::fileBytesAndCountAsBefore_data()
{
    QTest::addColumn<QString>("line");
    QTest::newRow("empty") << QString();
    QTest::newRow("ASCII") << QStringLiteral("INFO  2024-01-31T09:05:07.123 [main] run ");
    QTest::newRow("Latin-1") << QString::fromUtf8("caf\xc3\xa9 na\xc3\xafve");
    QTest::newRow("CJK") << QString::fromUtf8("\xe6\x97\xa5\xe5\xbf\x97 \xe8\xa1\x8c");
    QTest::newRow("pair") << QString::fromUtf8("smile \xf0\x9f\x98\x80 end");
    QTest::newRow("lone high at the end") << QStringLiteral("a") + QChar(0xd83d);
    QTest::newRow("lone high inside") << QStringLiteral("a") + QChar(0xd83d) + QStringLiteral("b");
    QTest::newRow("lone low") << QStringLiteral("a") + QChar(0xde00) + QStringLiteral("b");
    QTest::newRow("high before a pair") << QString(QChar(0xd83d)) + QChar(0xd83d) + QChar(0xde00);
    QTest::newRow("two lows") << QString(QChar(0xde00)) + QChar(0xde00);
}

// The file gets line.toLocal8Bit() and a line feed; the size count goes by
// line.toUtf8(), which writes a lone surrogate differently.
void TestFastPaths::fileBytesAndCountAsBefore()
{
    QFETCH(QString, line);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("app.txt"));
    {
        FileDestination destination(path, RotationStrategyPtr(new NullRotationStrategy));
        destination.write(line, Info);
        destination.write(line, Info);
    }
    const QByteArray once = line.toLocal8Bit() + '\n';
    QCOMPARE(readFile(path).toHex(), (once + once).toHex());

    const qint64 counted = line.toUtf8().size();
    SizeRotationStrategy atLimit;
    atLimit.setMaximumSizeInBytes(counted);
    atLimit.includeMessageInCalculation(line);
    QVERIFY(!atLimit.shouldRotate());
    if (counted > 0) {
        SizeRotationStrategy overLimit;
        overLimit.setMaximumSizeInBytes(counted - 1);
        overLimit.includeMessageInCalculation(line);
        QVERIFY(overLimit.shouldRotate());
    }
}

// With the logger alive, every line is in the file as soon as it was written.
void TestFastPaths::eachLineReachesTheFileAtOnce()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("app.txt"));
    Logger::destroyInstance();
    Logger::instance().addDestination(DestinationFactory::MakeFileDestination(path));
    withoutPrefixes();
    QByteArray expected;
    for (int i = 0; i < 3; ++i) {
        QLOG_INFO() << "line" << i;
        expected += "line " + QByteArray::number(i) + " \n";
        QTRY_COMPARE(readFile(path), expected);
    }
}

// Lines from one thread through the writer into a rotating file: the files,
// in their order, hold every line once, each split where its count passed
// the limit.
void TestFastPaths::rotationThroughTheLogger()
{
    QTemporaryDir dir;
    const qint64 limit = 1500;
    Logger::destroyInstance();
    Logger::instance().addDestination(DestinationFactory::MakeFileDestination(
        dir.filePath(QStringLiteral("app.txt")), SizeBasedRotation, MaxSizeBytes(limit), MaxOldLogCount(10)));
    withoutPrefixes();
    QList<QByteArray> expectedFiles{QByteArray()};
    qint64 count = 0;
    for (int i = 0; i < 200; ++i) {
        const QString text = QStringLiteral("%1 ").arg(QString(i % 40 + 1, QChar(0xe9)));
        QLOG_INFO().noquote() << QString(i % 40 + 1, QChar(0xe9));
        count += text.toUtf8().size();
        // The line that passes the limit opens the next file, uncounted there.
        if (count > limit) {
            expectedFiles.append(QByteArray());
            count = 0;
        }
        expectedFiles.last() += text.toLocal8Bit() + '\n';
    }
    Logger::destroyInstance();

    QVERIFY(expectedFiles.size() > 3 && expectedFiles.size() < 10);
    QCOMPARE(readFile(dir.filePath(QStringLiteral("app.txt"))), expectedFiles.at(0));
    for (qsizetype n = 1; n < expectedFiles.size(); ++n)
        QCOMPARE(readFile(dir.filePath(QStringLiteral("app_%1.txt").arg(n))), expectedFiles.at(n));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), expectedFiles.size());
}

QTEST_GUILESS_MAIN(TestFastPaths)
#include "tst_FastPaths.moc"
