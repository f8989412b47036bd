// What a statement turns into: level text, timestamp, message items, the
// prefixes switched off, the threshold, and how lines reach destinations.
#include "LogerTestSupport.h"
#include "QuilmLog.h"

#include <QDateTime>
#include <QTest>

using namespace QuilmLogging;

namespace {

const QString kTimestampFormat = QStringLiteral("yyyy-MM-ddThh:mm:ss.zzz");
const int kTimestampLength = 23;

int evaluations = 0;

int countEvaluation()
{
    return ++evaluations;
}

// Every line any instance sees, tagged, so the order across destinations shows.
class RecordingDestination : public Destination
{
public:
    RecordingDestination(const QString& tag, QStringList* record) : tag(tag), record(record) {}
    void write(const QString& message, Level) override { record->append(tag + QLatin1Char(':') + message); }
    bool isValid() override { return true; }

private:
    QString tag;
    QStringList* record;
};

// Logs through a fresh logger and returns the lines once all are written.
QSharedPointer<CollectingDestination> freshLoggerWithCollector()
{
    Logger::destroyInstance();
    QSharedPointer<CollectingDestination> collector(new CollectingDestination);
    Logger::instance().addDestination(collector);
    return collector;
}

QStringList linesAfterDestroy(const QSharedPointer<CollectingDestination>& collector)
{
    Logger::destroyInstance();
    return collector->takenLines();
}

} // namespace

Q_DECLARE_METATYPE(QuilmLogging::Level)

class LogerLine : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void levelTextAndTimestamp_data();
    void levelTextAndTimestamp();
    void messageItems();
    void prefixesSwitchedOff_data();
    void prefixesSwitchedOff();
    void thresholdSkipsWithoutEvaluating_data();
    void thresholdSkipsWithoutEvaluating();
    void levelFromLogMessage_data();
    void levelFromLogMessage();
    void levelFromLogMessageAcceptsNullFlag();
    void twoDestinationsInOrder();
    void throwingDestinationCostsOnlyItsLine();
    void nullDestinationIsIgnored();
};

void LogerLine::cleanup()
{
    Logger::destroyInstance();
}

void LogerLine::levelTextAndTimestamp_data()
{
    QTest::addColumn<Level>("level");
    QTest::addColumn<QString>("prefix");

    QTest::newRow("trace") << Trace << "TRACE ";
    QTest::newRow("debug") << Debug << "DEBUG ";
    QTest::newRow("info, two blanks") << Info << "INFO  ";
    QTest::newRow("warn, two blanks") << Warn << "WARN  ";
    QTest::newRow("error, one blank") << Error << "ERROR ";
    QTest::newRow("fatal") << Fatal << "FATAL ";
    QTest::newRow("off, starts with a blank") << Off << " ";
    QTest::newRow("outside the range reads as info") << static_cast<Level>(7) << "INFO  ";
    QTest::newRow("far outside the range reads as info") << static_cast<Level>(42) << "INFO  ";
}

void LogerLine::levelTextAndTimestamp()
{
    QFETCH(Level, level);
    QFETCH(QString, prefix);

    auto collector = freshLoggerWithCollector();
    Logger::instance().setLoggingLevel(Trace);
    const QDateTime before = QDateTime::currentDateTime().addMSecs(-1);
    QLOG_AT_LEVEL(level) << "[ Nimbrel ] OssInitialize called......";
    const QDateTime after = QDateTime::currentDateTime().addMSecs(1);

    const QStringList lines = linesAfterDestroy(collector);
    QCOMPARE(lines.size(), 1);
    const QString& line = lines.first();
    QVERIFY2(line.startsWith(prefix), qPrintable(line));

    const QString stamp = line.mid(prefix.size(), kTimestampLength);
    const QDateTime when = QDateTime::fromString(stamp, kTimestampFormat);
    QVERIFY2(when.isValid(), qPrintable(line));
    QVERIFY(when >= before && when <= after);

    QCOMPARE(line.mid(prefix.size() + kTimestampLength), QStringLiteral(" [ Nimbrel ] OssInitialize called...... "));
}

void LogerLine::messageItems()
{
    auto collector = freshLoggerWithCollector();
    Logger::instance().setIncludeLogLevel(false);
    Logger::instance().setIncludeTimestamp(false);

    QLOG_INFO() << QStringLiteral("a b");
    QLOG_INFO() << "plain text" << 42 << -7 << true << 2.5;
    QLOG_INFO() << QStringLiteral("say \"hi\"") << "then" << QStringLiteral("x");
    QLOG_INFO();

    const QStringList expected {
        QStringLiteral("\"a b\" "),
        QStringLiteral("plain text 42 -7 true 2.5 "),
        QStringLiteral("\"say \\\"hi\\\"\" then \"x\" "),
        QString(),
    };
    QCOMPARE(linesAfterDestroy(collector), expected);
}

void LogerLine::prefixesSwitchedOff_data()
{
    QTest::addColumn<bool>("withLevel");
    QTest::addColumn<bool>("withTimestamp");
    QTest::addColumn<QString>("expectedStart");
    QTest::addColumn<bool>("timestampFollows");

    QTest::newRow("both") << true << true << "WARN  " << true;
    QTest::newRow("no level text") << false << true << "" << true;
    QTest::newRow("no timestamp") << true << false << "WARN  " << false;
    QTest::newRow("neither") << false << false << "" << false;
}

void LogerLine::prefixesSwitchedOff()
{
    QFETCH(bool, withLevel);
    QFETCH(bool, withTimestamp);
    QFETCH(QString, expectedStart);
    QFETCH(bool, timestampFollows);

    auto collector = freshLoggerWithCollector();
    Logger::instance().setIncludeLogLevel(withLevel);
    Logger::instance().setIncludeTimestamp(withTimestamp);
    QCOMPARE(Logger::instance().includeLogLevel(), withLevel);
    QCOMPARE(Logger::instance().includeTimestamp(), withTimestamp);
    QLOG_WARN() << "message";

    const QStringList lines = linesAfterDestroy(collector);
    QCOMPARE(lines.size(), 1);
    QString rest = lines.first();
    QVERIFY2(rest.startsWith(expectedStart), qPrintable(rest));
    rest.remove(0, expectedStart.size());
    if (timestampFollows) {
        QVERIFY2(QDateTime::fromString(rest.left(kTimestampLength), kTimestampFormat).isValid(), qPrintable(rest));
        QCOMPARE(rest.at(kTimestampLength), QLatin1Char(' '));
        rest.remove(0, kTimestampLength + 1);
    }
    QCOMPARE(rest, QStringLiteral("message "));
}

void LogerLine::thresholdSkipsWithoutEvaluating_data()
{
    QTest::addColumn<bool>("setThreshold");
    QTest::addColumn<Level>("threshold");
    QTest::addColumn<Level>("statementLevel");
    QTest::addColumn<bool>("written");

    QTest::newRow("default threshold, trace") << false << Info << Trace << false;
    QTest::newRow("default threshold, debug") << false << Info << Debug << false;
    QTest::newRow("default threshold, info") << false << Info << Info << true;
    QTest::newRow("default threshold, fatal") << false << Info << Fatal << true;
    QTest::newRow("error threshold, warn") << true << Error << Warn << false;
    QTest::newRow("error threshold, error") << true << Error << Error << true;
    QTest::newRow("off threshold, fatal") << true << Off << Fatal << false;
    QTest::newRow("trace threshold, trace") << true << Trace << Trace << true;
}

void LogerLine::thresholdSkipsWithoutEvaluating()
{
    QFETCH(bool, setThreshold);
    QFETCH(Level, threshold);
    QFETCH(Level, statementLevel);
    QFETCH(bool, written);

    auto collector = freshLoggerWithCollector();
    if (setThreshold)
        Logger::instance().setLoggingLevel(threshold);
    QCOMPARE(Logger::instance().loggingLevel(), threshold);

    evaluations = 0;
    QLOG_AT_LEVEL(statementLevel) << "item" << countEvaluation();

    QCOMPARE(evaluations, written ? 1 : 0);
    QCOMPARE(linesAfterDestroy(collector).size(), written ? 1 : 0);
}

void LogerLine::levelFromLogMessage_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<Level>("level");
    QTest::addColumn<bool>("succeeded");

    QTest::newRow("trace") << "TRACE 2024-01-31T09:05:07.123 x " << Trace << true;
    QTest::newRow("debug") << "DEBUG 2024" << Debug << true;
    QTest::newRow("info") << "INFO  2024-01-31T09:05:07.123 x " << Info << true;
    QTest::newRow("warn") << "WARN  x" << Warn << true;
    QTest::newRow("error") << "ERROR 2024" << Error << true;
    QTest::newRow("fatal") << "FATAL" << Fatal << true;
    QTest::newRow("lower case") << "info  2024" << Off << false;
    QTest::newRow("INFO without blank") << "INFOS 2024" << Off << false;
    QTest::newRow("WARN without blank") << "WARNING" << Off << false;
    QTest::newRow("timestamp first") << "2024-01-31T09:05:07.123 INFO  x" << Off << false;
    QTest::newRow("leading blank") << " ERROR" << Off << false;
    QTest::newRow("empty") << "" << Off << false;
}

void LogerLine::levelFromLogMessage()
{
    QFETCH(QString, text);
    QFETCH(Level, level);
    QFETCH(bool, succeeded);

    bool ok = !succeeded;
    QCOMPARE(Logger::levelFromLogMessage(text, &ok), level);
    QCOMPARE(ok, succeeded);
}

void LogerLine::levelFromLogMessageAcceptsNullFlag()
{
    QCOMPARE(Logger::levelFromLogMessage(QStringLiteral("ERROR x")), Error);
    QCOMPARE(Logger::levelFromLogMessage(QStringLiteral("nothing"), nullptr), Off);
}

void LogerLine::twoDestinationsInOrder()
{
    QStringList record;
    Logger::destroyInstance();
    Logger::instance().setIncludeLogLevel(false);
    Logger::instance().setIncludeTimestamp(false);
    Logger::instance().addDestination(DestinationPtr(new RecordingDestination(QStringLiteral("first"), &record)));
    Logger::instance().addDestination(DestinationPtr(new RecordingDestination(QStringLiteral("second"), &record)));

    QLOG_INFO() << "one";
    QLOG_ERROR() << "two";
    Logger::destroyInstance();

    const QStringList expected {
        QStringLiteral("first:one "), QStringLiteral("second:one "),
        QStringLiteral("first:two "), QStringLiteral("second:two "),
    };
    QCOMPARE(record, expected);
}

void LogerLine::throwingDestinationCostsOnlyItsLine()
{
    Logger::destroyInstance();
    QSharedPointer<CollectingDestination> before(new CollectingDestination);
    QSharedPointer<CollectingDestination> after(new CollectingDestination);
    Logger::instance().setIncludeLogLevel(false);
    Logger::instance().setIncludeTimestamp(false);
    Logger::instance().addDestination(before);
    Logger::instance().addDestination(DestinationPtr(new ThrowingDestination(QStringLiteral("boom"))));
    Logger::instance().addDestination(after);

    QLOG_INFO() << "one";
    QLOG_INFO() << "boom";
    QLOG_INFO() << "three";
    QLOG_INFO() << "boom";
    QLOG_INFO() << "five";
    Logger::destroyInstance();

    QCOMPARE(before->lines, QStringList({ "one ", "boom ", "three ", "boom ", "five " }));
    QCOMPARE(after->lines, QStringList({ "one ", "three ", "five " }));
}

void LogerLine::nullDestinationIsIgnored()
{
    auto collector = freshLoggerWithCollector();
    Logger::instance().addDestination(DestinationPtr());
    Logger::instance().setIncludeTimestamp(false);
    QLOG_INFO() << "still written";

    QCOMPARE(linesAfterDestroy(collector), QStringList({ "INFO  still written " }));
}

QTEST_GUILESS_MAIN(LogerLine)
#include "loger_line.moc"
