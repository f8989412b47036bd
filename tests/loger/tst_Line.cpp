// What a statement turns into: level text, timestamp, message items, the
// prefixes switched off, the threshold, the level read back from a line, and
// how lines reach the destinations.
#include "LoggerFixture.h"
#include "QuilmLog.h"
#include "RecordingDestination.h"
#include "ThrowingDestination.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QTest>

using namespace QuilmLogging;

Q_DECLARE_METATYPE(QuilmLogging::Level)

namespace {

const QString kTimestampRegex = QStringLiteral("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}");
const QRegularExpression kTimestampPattern(QRegularExpression::anchoredPattern(kTimestampRegex));

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

} // namespace

class TestLine : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void defaults();
    void lineLayout_data();
    void lineLayout();
    void emptyStatementEndsWithPrefixBlank();
    void messageItems();
    void levelReachesDestination();
    void skippedStatementEvaluatesNothing_data();
    void skippedStatementEvaluatesNothing();
    void statementInsideUnbracedIfElse();
    void levelFromLogMessage_data();
    void levelFromLogMessage();
    void destinationsCalledInOrderOfAdding();
    void throwingDestinationCostsOnlyItsLine();
    void nullDestinationIsRefused();
};

void TestLine::cleanup()
{
    Logger::destroyInstance();
}

void TestLine::defaults()
{
    const Logger& log = Logger::instance();
    QCOMPARE(log.loggingLevel(), Info);
    QVERIFY(log.includeTimestamp());
    QVERIFY(log.includeLogLevel());
}

void TestLine::lineLayout_data()
{
    QTest::addColumn<Level>("level");
    QTest::addColumn<bool>("withLevel");
    QTest::addColumn<bool>("withTimestamp");
    QTest::addColumn<QString>("prefix");

    QTest::newRow("trace") << Trace << true << true << "TRACE ";
    QTest::newRow("debug") << Debug << true << true << "DEBUG ";
    QTest::newRow("info, two blanks") << Info << true << true << "INFO  ";
    QTest::newRow("warn, two blanks") << Warn << true << true << "WARN  ";
    QTest::newRow("error, one blank") << Error << true << true << "ERROR ";
    QTest::newRow("fatal") << Fatal << true << true << "FATAL ";
    QTest::newRow("off starts with a blank") << Off << true << true << " ";
    QTest::newRow("outside the range reads as info") << static_cast<Level>(7) << true << true << "INFO  ";
    QTest::newRow("far outside the range reads as info") << static_cast<Level>(42) << true << true << "INFO  ";
    QTest::newRow("no level text") << Warn << false << true << "";
    QTest::newRow("no timestamp") << Error << true << false << "ERROR ";
    QTest::newRow("no timestamp, warn") << Warn << true << false << "WARN  ";
    QTest::newRow("message alone") << Info << false << false << "";
    QTest::newRow("message alone, warn") << Warn << false << false << "";
}

void TestLine::lineLayout()
{
    QFETCH(Level, level);
    QFETCH(bool, withLevel);
    QFETCH(bool, withTimestamp);
    QFETCH(QString, prefix);

    auto recorder = freshLoggerWithRecorder();
    Logger& log = Logger::instance();
    log.setLoggingLevel(Trace);
    log.setIncludeLogLevel(withLevel);
    log.setIncludeTimestamp(withTimestamp);
    QCOMPARE(log.includeLogLevel(), withLevel);
    QCOMPARE(log.includeTimestamp(), withTimestamp);

    const QDateTime before = QDateTime::currentDateTime().addMSecs(-1);
    QLOG_AT_LEVEL(level) << "[Tag] text" << QStringLiteral("a \"b\"") << 7;
    const QDateTime after = QDateTime::currentDateTime().addMSecs(1);
    Logger::destroyInstance();

    const QStringList lines = recorder->entries();
    QCOMPARE(lines.size(), 1);
    const QString& line = lines.first();
    QVERIFY2(line.startsWith(prefix), qPrintable(line));
    QString rest = line.mid(prefix.size());
    if (withTimestamp) {
        const QString stamp = rest.left(kTimestampLength);
        QVERIFY2(kTimestampPattern.match(stamp).hasMatch(), qPrintable(line));
        const QDateTime when = QDateTime::fromString(stamp, kTimestampFormat);
        QVERIFY2(when.isValid(), qPrintable(line));
        QVERIFY(when >= before && when <= after);
        QCOMPARE(rest.mid(kTimestampLength, 1), QStringLiteral(" "));
        rest.remove(0, kTimestampLength + 1);
    }
    QCOMPARE(rest, QStringLiteral(R"([Tag] text "a \"b\"" 7 )"));
}

void TestLine::emptyStatementEndsWithPrefixBlank()
{
    auto recorder = freshLoggerWithRecorder();
    QLOG_INFO();
    Logger::destroyInstance();

    QCOMPARE(recorder->entries().size(), 1);
    const QRegularExpression expected(QRegularExpression::anchoredPattern("INFO  " + kTimestampRegex + ' '));
    QVERIFY2(expected.match(recorder->entries().first()).hasMatch(), qPrintable(recorder->entries().first()));
}

void TestLine::messageItems()
{
    auto recorder = freshLoggerWithRecorder();
    withoutPrefixes();

    QLOG_INFO() << QStringLiteral("a b");
    QLOG_INFO() << "plain text" << 42 << -7 << true << 2.5;
    QLOG_INFO() << QStringLiteral("say \"hi\"") << "then" << QStringLiteral("x");
    QLOG_INFO();
    Logger::destroyInstance();

    const QStringList expected{
        QStringLiteral("\"a b\" "),
        QStringLiteral("plain text 42 -7 true 2.5 "),
        QStringLiteral("\"say \\\"hi\\\"\" then \"x\" "),
        QString(),
    };
    QCOMPARE(recorder->entries(), expected);
}

void TestLine::levelReachesDestination()
{
    auto recorder = freshLoggerWithRecorder();
    Logger::instance().setLoggingLevel(Trace);
    for (int level = Trace; level <= Fatal; ++level)
        logAt(static_cast<Level>(level));
    Logger::destroyInstance();

    const QList<Level> expected{Trace, Debug, Info, Warn, Error, Fatal};
    QCOMPARE(recorder->levels(), expected);
}

void TestLine::skippedStatementEvaluatesNothing_data()
{
    QTest::addColumn<bool>("setThreshold");
    QTest::addColumn<Level>("threshold");
    QTest::addColumn<Level>("level");
    QTest::addColumn<bool>("written");

    QTest::newRow("default, trace") << false << Info << Trace << false;
    QTest::newRow("default, debug") << false << Info << Debug << false;
    QTest::newRow("default, info") << false << Info << Info << true;
    QTest::newRow("default, warn") << false << Info << Warn << true;
    QTest::newRow("default, error") << false << Info << Error << true;
    QTest::newRow("default, fatal") << false << Info << Fatal << true;
    QTest::newRow("info, trace") << true << Info << Trace << false;
    QTest::newRow("info, debug") << true << Info << Debug << false;
    QTest::newRow("info, info") << true << Info << Info << true;
    QTest::newRow("info, warn") << true << Info << Warn << true;
    QTest::newRow("info, error") << true << Info << Error << true;
    QTest::newRow("info, fatal") << true << Info << Fatal << true;
    QTest::newRow("trace, trace") << true << Trace << Trace << true;
    QTest::newRow("error, warn") << true << Error << Warn << false;
    QTest::newRow("error, error") << true << Error << Error << true;
    QTest::newRow("off, fatal") << true << Off << Fatal << false;
}

void TestLine::skippedStatementEvaluatesNothing()
{
    QFETCH(bool, setThreshold);
    QFETCH(Level, threshold);
    QFETCH(Level, level);
    QFETCH(bool, written);

    auto recorder = freshLoggerWithRecorder();
    if (setThreshold)
        Logger::instance().setLoggingLevel(threshold);
    QCOMPARE(Logger::instance().loggingLevel(), threshold);
    evaluations = 0;
    logAt(level);
    QCOMPARE(evaluations, written ? 1 : 0);
    Logger::destroyInstance();

    QCOMPARE(recorder->entries().size(), written ? 1 : 0);
}

void TestLine::statementInsideUnbracedIfElse()
{
    auto recorder = freshLoggerWithRecorder();
    Logger::instance().setIncludeTimestamp(false);
    for (bool flag : {true, false}) {
        if (flag)
            QLOG_INFO() << "then";
        else
            QLOG_ERROR() << "else";
    }
    Logger::destroyInstance();

    QCOMPARE(recorder->entries(), QStringList({"INFO  then ", "ERROR else "}));
}

void TestLine::levelFromLogMessage_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<Level>("level");
    QTest::addColumn<bool>("ok");

    QTest::newRow("trace") << "TRACE 2024-01-31T09:05:07.123 x" << Trace << true;
    QTest::newRow("trace, line as written") << "TRACE 2024-01-31T09:05:07.123 x " << Trace << true;
    QTest::newRow("debug") << "DEBUG x" << Debug << true;
    QTest::newRow("debug, digits follow") << "DEBUG 2024" << Debug << true;
    QTest::newRow("info") << "INFO  2024-01-31T09:05:07.123 x" << Info << true;
    QTest::newRow("info, line as written") << "INFO  2024-01-31T09:05:07.123 x " << Info << true;
    QTest::newRow("warn") << "WARN  x" << Warn << true;
    QTest::newRow("error") << "ERROR2024" << Error << true;
    QTest::newRow("error, blank follows") << "ERROR 2024" << Error << true;
    QTest::newRow("error, word follows") << "ERROR x" << Error << true;
    QTest::newRow("fatal") << "FATAL" << Fatal << true;
    QTest::newRow("lower case") << "info  x" << Off << false;
    QTest::newRow("lower case, digits follow") << "info  2024" << Off << false;
    QTest::newRow("INFO without blank") << "INFOx" << Off << false;
    QTest::newRow("INFO with another letter") << "INFOS 2024" << Off << false;
    QTest::newRow("INFO alone") << "INFO" << Off << false;
    QTest::newRow("WARNING") << "WARNING x" << Off << false;
    QTest::newRow("WARNING alone") << "WARNING" << Off << false;
    QTest::newRow("timestamp first") << "2024-01-31T09:05:07.123 INFO  x" << Off << false;
    QTest::newRow("leading blank") << " INFO  x" << Off << false;
    QTest::newRow("leading blank before ERROR") << " ERROR" << Off << false;
    QTest::newRow("no level at all") << "nothing" << Off << false;
    QTest::newRow("empty") << "" << Off << false;
}

void TestLine::levelFromLogMessage()
{
    QFETCH(QString, line);
    QFETCH(Level, level);
    QFETCH(bool, ok);

    bool converted = !ok;
    QCOMPARE(Logger::levelFromLogMessage(line, &converted), level);
    QCOMPARE(converted, ok);
    QCOMPARE(Logger::levelFromLogMessage(line, nullptr), level);
    QCOMPARE(Logger::levelFromLogMessage(line), level);
}

void TestLine::destinationsCalledInOrderOfAdding()
{
    Logger::destroyInstance();
    Logger::instance().setIncludeTimestamp(false);
    auto journal = QSharedPointer<RecordingDestination::Journal>::create();
    Logger::instance().addDestination(DestinationPtr(new RecordingDestination("first", journal)));
    Logger::instance().addDestination(DestinationPtr(new RecordingDestination("second", journal)));

    QLOG_WARN() << "a";
    QLOG_ERROR() << "b";
    Logger::destroyInstance();

    QCOMPARE(journal->entries(),
             QStringList({"first:WARN  a ", "second:WARN  a ", "first:ERROR b ", "second:ERROR b "}));
}

void TestLine::throwingDestinationCostsOnlyItsLine()
{
    Logger::destroyInstance();
    withoutPrefixes();
    auto journal = QSharedPointer<RecordingDestination::Journal>::create();
    Logger::instance().addDestination(DestinationPtr(new RecordingDestination("A", journal)));
    Logger::instance().addDestination(DestinationPtr(new ThrowingDestination("boom")));
    Logger::instance().addDestination(DestinationPtr(new RecordingDestination("B", journal)));

    QLOG_INFO() << "one";
    QLOG_INFO() << "boom";
    QLOG_INFO() << "three";
    QLOG_INFO() << "boom";
    QLOG_INFO() << "five";
    Logger::destroyInstance();

    QCOMPARE(journal->entries(),
             QStringList({"A:one ", "B:one ", "A:boom ", "A:three ", "B:three ", "A:boom ", "A:five ", "B:five "}));
}

void TestLine::nullDestinationIsRefused()
{
    Logger::destroyInstance();
    Logger::instance().addDestination(DestinationPtr());
    QSharedPointer<RecordingDestination> recorder(new RecordingDestination);
    Logger::instance().addDestination(recorder);
    Logger::instance().addDestination(DestinationPtr());
    Logger::instance().setIncludeTimestamp(false);
    QLOG_INFO() << "still written";
    Logger::destroyInstance();

    QCOMPARE(recorder->entries(), QStringList({"INFO  still written "}));
}

QTEST_GUILESS_MAIN(TestLine)
#include "tst_Line.moc"
