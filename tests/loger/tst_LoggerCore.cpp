#include "QuilmLog.h"
#include "QuilmLogDest.h"
#include "RecordingDestination.h"

#include <QRegularExpression>
#include <QSemaphore>
#include <QThread>
#include <QtTest>

#include <memory>
#include <stdexcept>
#include <vector>

using namespace QuilmLogging;

static Logger& logger = Logger::instance();

namespace {

const QString Timestamp = QStringLiteral("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}");

int evaluations = 0;

int countEvaluation()
{
    return ++evaluations;
}

// One statement per level through the macros, so each macro is exercised.
void logAt(Level level)
{
    switch (level) {
    case Trace: QLOG_TRACE() << "[Tag] text" << countEvaluation(); break;
    case Debug: QLOG_DEBUG() << "[Tag] text" << countEvaluation(); break;
    case Info: QLOG_INFO() << "[Tag] text" << countEvaluation(); break;
    case Warn: QLOG_WARN() << "[Tag] text" << countEvaluation(); break;
    case Error: QLOG_ERROR() << "[Tag] text" << countEvaluation(); break;
    case Fatal: QLOG_FATAL() << "[Tag] text" << countEvaluation(); break;
    case Off: break;
    }
}

class ThrowingDestination : public Destination
{
public:
    void write(const QString& message, Level) override
    {
        if (message.contains(QLatin1String("boom")))
            throw std::runtime_error("destination failed");
    }
    bool isValid() override { return true; }
};

QSharedPointer<RecordingDestination> addRecorder()
{
    QSharedPointer<RecordingDestination> recorder(new RecordingDestination);
    Logger::instance().addDestination(recorder);
    return recorder;
}

} // namespace

class LoggerCoreTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void lineLayout_data();
    void lineLayout();
    void emptyStatementEndsWithPrefixBlank();
    void levelReachesDestination();
    void skippedStatementEvaluatesNothing_data();
    void skippedStatementEvaluatesNothing();
    void statementInsideUnbracedIfElse();
    void defaults();
    void levelFromLogMessage_data();
    void levelFromLogMessage();
    void threadsLogEveryLineOnceInOrder();
    void destroyInstanceWritesQueuedLinesAndResets();
    void recreationRaceGivesOneLogger();
    void throwingDestinationCostsOneLine();
    void destinationsCalledInOrderOfAdding();
    void nullDestinationIsRefused();
};

void LoggerCoreTest::cleanup()
{
    Logger::destroyInstance();
}

void LoggerCoreTest::lineLayout_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<bool>("withLevel");
    QTest::addColumn<bool>("withTimestamp");
    QTest::addColumn<QString>("pattern");

    const QString message = QStringLiteral(R"(\[Tag\] text "a \\"b\\"" 7 )");
    const QString ts = Timestamp;
    QTest::newRow("trace") << int(Trace) << true << true << "TRACE " + ts + ' ' + message;
    QTest::newRow("debug") << int(Debug) << true << true << "DEBUG " + ts + ' ' + message;
    QTest::newRow("info, two blanks") << int(Info) << true << true << "INFO  " + ts + ' ' + message;
    QTest::newRow("warn, two blanks") << int(Warn) << true << true << "WARN  " + ts + ' ' + message;
    QTest::newRow("error, one blank") << int(Error) << true << true << "ERROR " + ts + ' ' + message;
    QTest::newRow("fatal") << int(Fatal) << true << true << "FATAL " + ts + ' ' + message;
    QTest::newRow("off starts with a blank") << int(Off) << true << true << ' ' + ts + ' ' + message;
    QTest::newRow("no level text") << int(Warn) << false << true << ts + ' ' + message;
    QTest::newRow("no timestamp") << int(Error) << true << false << "ERROR " + message;
    QTest::newRow("message alone") << int(Info) << false << false << message;
}

void LoggerCoreTest::lineLayout()
{
    QFETCH(int, level);
    QFETCH(bool, withLevel);
    QFETCH(bool, withTimestamp);
    QFETCH(QString, pattern);

    Logger& log = Logger::instance();
    log.setLoggingLevel(Trace);
    log.setIncludeLogLevel(withLevel);
    log.setIncludeTimestamp(withTimestamp);
    auto recorder = addRecorder();

    {
        Logger::Helper helper(static_cast<Level>(level));
        helper.stream() << "[Tag] text" << QStringLiteral("a \"b\"") << 7;
    }
    Logger::destroyInstance();

    const QStringList lines = recorder->entries();
    QCOMPARE(lines.size(), 1);
    const QRegularExpression expected(QRegularExpression::anchoredPattern(pattern));
    QVERIFY2(expected.match(lines.first()).hasMatch(), qPrintable(lines.first()));
}

void LoggerCoreTest::emptyStatementEndsWithPrefixBlank()
{
    auto recorder = addRecorder();
    QLOG_INFO();
    Logger::destroyInstance();

    QCOMPARE(recorder->entries().size(), 1);
    const QRegularExpression expected(QRegularExpression::anchoredPattern("INFO  " + Timestamp + ' '));
    QVERIFY2(expected.match(recorder->entries().first()).hasMatch(), qPrintable(recorder->entries().first()));
}

void LoggerCoreTest::levelReachesDestination()
{
    Logger::instance().setLoggingLevel(Trace);
    auto recorder = addRecorder();
    for (int level = Trace; level <= Fatal; ++level)
        logAt(static_cast<Level>(level));
    Logger::destroyInstance();

    const QList<Level> expected { Trace, Debug, Info, Warn, Error, Fatal };
    QCOMPARE(recorder->levels(), expected);
}

void LoggerCoreTest::skippedStatementEvaluatesNothing_data()
{
    QTest::addColumn<int>("threshold");
    QTest::addColumn<int>("level");
    QTest::addColumn<bool>("written");

    QTest::newRow("default, trace") << int(Info) << int(Trace) << false;
    QTest::newRow("default, debug") << int(Info) << int(Debug) << false;
    QTest::newRow("default, info") << int(Info) << int(Info) << true;
    QTest::newRow("default, warn") << int(Info) << int(Warn) << true;
    QTest::newRow("default, error") << int(Info) << int(Error) << true;
    QTest::newRow("default, fatal") << int(Info) << int(Fatal) << true;
    QTest::newRow("trace, trace") << int(Trace) << int(Trace) << true;
    QTest::newRow("error, warn") << int(Error) << int(Warn) << false;
    QTest::newRow("off, fatal") << int(Off) << int(Fatal) << false;
}

void LoggerCoreTest::skippedStatementEvaluatesNothing()
{
    QFETCH(int, threshold);
    QFETCH(int, level);
    QFETCH(bool, written);

    Logger::instance().setLoggingLevel(static_cast<Level>(threshold));
    auto recorder = addRecorder();
    evaluations = 0;
    logAt(static_cast<Level>(level));
    Logger::destroyInstance();

    QCOMPARE(evaluations, written ? 1 : 0);
    QCOMPARE(recorder->entries().size(), written ? 1 : 0);
}

void LoggerCoreTest::statementInsideUnbracedIfElse()
{
    Logger::instance().setIncludeTimestamp(false);
    auto recorder = addRecorder();
    for (bool flag : { true, false }) {
        if (flag)
            QLOG_INFO() << "then";
        else
            QLOG_ERROR() << "else";
    }
    Logger::destroyInstance();

    QCOMPARE(recorder->entries(), QStringList({ "INFO  then ", "ERROR else " }));
}

void LoggerCoreTest::defaults()
{
    const Logger& log = Logger::instance();
    QCOMPARE(log.loggingLevel(), Info);
    QVERIFY(log.includeTimestamp());
    QVERIFY(log.includeLogLevel());
}

void LoggerCoreTest::levelFromLogMessage_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("level");
    QTest::addColumn<bool>("ok");

    QTest::newRow("trace") << "TRACE 2024-01-31T09:05:07.123 x" << int(Trace) << true;
    QTest::newRow("debug") << "DEBUG x" << int(Debug) << true;
    QTest::newRow("info") << "INFO  2024-01-31T09:05:07.123 x" << int(Info) << true;
    QTest::newRow("warn") << "WARN  x" << int(Warn) << true;
    QTest::newRow("error") << "ERROR2024" << int(Error) << true;
    QTest::newRow("fatal") << "FATAL" << int(Fatal) << true;
    QTest::newRow("lower case") << "info  x" << int(Off) << false;
    QTest::newRow("INFO without blank") << "INFOx" << int(Off) << false;
    QTest::newRow("INFO alone") << "INFO" << int(Off) << false;
    QTest::newRow("WARNING") << "WARNING x" << int(Off) << false;
    QTest::newRow("timestamp first") << "2024-01-31T09:05:07.123 INFO  x" << int(Off) << false;
    QTest::newRow("leading blank") << " INFO  x" << int(Off) << false;
    QTest::newRow("empty") << "" << int(Off) << false;
}

void LoggerCoreTest::levelFromLogMessage()
{
    QFETCH(QString, line);
    QFETCH(int, level);
    QFETCH(bool, ok);

    bool converted = !ok;
    QCOMPARE(int(Logger::levelFromLogMessage(line, &converted)), level);
    QCOMPARE(converted, ok);
    QCOMPARE(int(Logger::levelFromLogMessage(line, nullptr)), level);
}

void LoggerCoreTest::threadsLogEveryLineOnceInOrder()
{
    Logger::instance().setIncludeTimestamp(false);
    Logger::instance().setIncludeLogLevel(false);
    auto recorder = addRecorder();

    const int threadCount = 8;
    const int linesPerThread = 2000;
    QSemaphore start;
    std::vector<std::unique_ptr<QThread>> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back(QThread::create([t, &start] {
            start.acquire();
            for (int n = 0; n < linesPerThread; ++n)
                QLOG_INFO() << t << n;
        }));
        threads.back()->start();
    }
    start.release(threadCount);
    for (auto& thread : threads)
        QVERIFY(thread->wait(60000));
    Logger::destroyInstance();

    const QStringList lines = recorder->entries();
    QCOMPARE(lines.size(), threadCount * linesPerThread);
    QList<int> next(threadCount, 0);
    for (const QString& line : lines) {
        const QStringList parts = line.split(QLatin1Char(' '));
        QCOMPARE(parts.size(), 3);
        const int t = parts.at(0).toInt();
        QCOMPARE(parts.at(1).toInt(), next[t]);
        ++next[t];
    }
    QCOMPARE(next, QList<int>(threadCount, linesPerThread));
}

void LoggerCoreTest::destroyInstanceWritesQueuedLinesAndResets()
{
    Logger& first = Logger::instance();
    first.setLoggingLevel(Trace);
    first.setIncludeTimestamp(false);
    first.setIncludeLogLevel(false);
    auto recorder = addRecorder();
    const int lineCount = 20000;
    for (int n = 0; n < lineCount; ++n)
        QLOG_DEBUG() << n;

    Logger::destroyInstance();
    QCOMPARE(recorder->entries().size(), lineCount);
    QCOMPARE(recorder->entries().last(), QString::number(lineCount - 1) + ' ');

    Logger::destroyInstance();

    QLOG_INFO() << "after";
    const Logger& fresh = Logger::instance();
    QCOMPARE(fresh.loggingLevel(), Info);
    QVERIFY(fresh.includeTimestamp());
    QVERIFY(fresh.includeLogLevel());
    Logger::destroyInstance();
    QCOMPARE(recorder->entries().size(), lineCount);
}

void LoggerCoreTest::recreationRaceGivesOneLogger()
{
    const int threadCount = 4;
    for (int round = 0; round < 50; ++round) {
        Logger::destroyInstance();
        QSemaphore start;
        QList<Logger*> seen(threadCount, nullptr);
        std::vector<std::unique_ptr<QThread>> threads;
        for (int t = 0; t < threadCount; ++t) {
            threads.emplace_back(QThread::create([t, &start, &seen] {
                start.acquire();
                seen[t] = &Logger::instance();
            }));
            threads.back()->start();
        }
        start.release(threadCount);
        for (auto& thread : threads)
            QVERIFY(thread->wait(10000));
        for (Logger* logger : seen)
            QCOMPARE(logger, &Logger::instance());
    }
}

void LoggerCoreTest::throwingDestinationCostsOneLine()
{
    Logger::instance().setIncludeTimestamp(false);
    Logger::instance().setIncludeLogLevel(false);
    auto journal = QSharedPointer<RecordingDestination::Journal>::create();
    Logger::instance().addDestination(DestinationPtr(new RecordingDestination("A", journal)));
    Logger::instance().addDestination(DestinationPtr(new ThrowingDestination));
    Logger::instance().addDestination(DestinationPtr(new RecordingDestination("B", journal)));

    QLOG_INFO() << "one";
    QLOG_INFO() << "boom";
    QLOG_INFO() << "two";
    Logger::destroyInstance();

    QCOMPARE(journal->entries(), QStringList({ "A:one ", "B:one ", "A:boom ", "A:two ", "B:two " }));
}

void LoggerCoreTest::destinationsCalledInOrderOfAdding()
{
    Logger::instance().setIncludeTimestamp(false);
    auto journal = QSharedPointer<RecordingDestination::Journal>::create();
    Logger::instance().addDestination(DestinationPtr(new RecordingDestination("first", journal)));
    Logger::instance().addDestination(DestinationPtr(new RecordingDestination("second", journal)));

    QLOG_WARN() << "a";
    QLOG_ERROR() << "b";
    Logger::destroyInstance();

    QCOMPARE(journal->entries(),
             QStringList({ "first:WARN  a ", "second:WARN  a ", "first:ERROR b ", "second:ERROR b " }));
}

void LoggerCoreTest::nullDestinationIsRefused()
{
    Logger::instance().addDestination(DestinationPtr());
    auto recorder = addRecorder();
    QLOG_INFO() << "still written";
    Logger::destroyInstance();

    QCOMPARE(recorder->entries().size(), 1);
}

QTEST_GUILESS_MAIN(LoggerCoreTest)
#include "tst_LoggerCore.moc"
