// The file destination and its size rotation: the ring of names, the search
// for the file to continue, counting, the limit, and paths whose folders hold
// the characters the names are cut at.
#include "QuilmLogDestFile.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace QuilmLogging;

namespace {

// "name:size" entries become files of that many bytes under the sandbox.
void createFiles(const QDir& root, const QStringList& entries)
{
    for (const QString& entry : entries) {
        const QString name = entry.section(QLatin1Char(':'), 0, 0);
        const int size = entry.section(QLatin1Char(':'), 1, 1).toInt();
        QVERIFY(root.mkpath(QFileInfo(root.filePath(name)).path()));
        QFile file(root.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(size, 'o'));
    }
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return file.readAll();
}

// Every file under the sandbox, relative to it, sorted.
QStringList allFiles(const QDir& root)
{
    QStringList files;
    QDirIterator it(root.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(root.relativeFilePath(it.next()));
    files.sort();
    return files;
}

DestinationPtr makeRotating(const QString& path, qint64 limit, int ring)
{
    return DestinationFactory::MakeFileDestination(path, SizeBasedRotation, MaxSizeBytes(limit), MaxOldLogCount(ring));
}

} // namespace

class LogerRotation : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void rotationSequence_data();
    void rotationSequence();
    void everyLineRotatingLeavesEachNameItsLastLine();
    void openingSearch_data();
    void openingSearch();
    void oversizedBaseIsContinuedThenRotatedAway();
    void limitBoundary_data();
    void limitBoundary();
    void triggeringLineStartsTheNewCount();
    void noRotationTruncatesAndGrows_data();
    void noRotationTruncatesAndGrows();
    void negativeSettingsAreClamped();

private:
    std::unique_ptr<QTemporaryDir> sandbox;
    QDir root;
};

void LogerRotation::init()
{
    sandbox.reset(new QTemporaryDir);
    QVERIFY(sandbox->isValid());
    root.setPath(sandbox->path());
}

void LogerRotation::rotationSequence_data()
{
    QTest::addColumn<QString>("logPath");
    QTest::addColumn<int>("ring");
    QTest::addColumn<QStringList>("expected");

    QStringList launch;
    for (int i = 1; i <= 9; ++i)
        launch << QStringLiteral("quilm_lanuch_%1.txt").arg(i);
    launch << "quilm_lanuch.txt";
    for (int loop = 0; loop < 3; ++loop) {
        for (int i = 1; i <= 9; ++i)
            launch << QStringLiteral("quilm_%1.txt").arg(i);
        launch << "quilm.txt";
    }
    QTest::newRow("launch log, ring 10") << "quilm_lanuch_log.txt" << 10 << launch;

    QStringList server;
    for (int loop = 0; loop < 3; ++loop) {
        for (int i = 1; i <= 9; ++i)
            server << QStringLiteral("server2024-01-31_%1.txt").arg(i);
        server << "server2024-01-31.txt";
    }
    QTest::newRow("server log, ring 10") << "server2024-01-31.txt" << 10 << server;
    QTest::newRow("server log, ring above 10 acts as 10") << "server2024-01-31.txt" << 25 << server;

    QStringList growing;
    for (int i = 1; i <= 14; ++i)
        growing << QStringLiteral("server2024-01-31_%1.txt").arg(i);
    QTest::newRow("server log, ring 1 never repeats") << "server2024-01-31.txt" << 1 << growing;
    QTest::newRow("launch log, ring 1 never repeats") << "quilm_lanuch_log.txt" << 1
        << QStringList({ "quilm_lanuch.txt", "quilm.txt", "quilm_1.txt", "quilm_2.txt", "quilm_3.txt", "quilm_4.txt" });

    QTest::newRow("non-decimal number counts as 0") << "app_log.txt" << 3
        << QStringList({ "app_1.txt", "app_2.txt", "app.txt", "app_1.txt", "app_2.txt", "app.txt" });
    QTest::newRow("number beyond the ring keeps growing") << "app_15.txt" << 10
        << QStringList({ "app_16.txt", "app_17.txt", "app_18.txt", "app_19.txt" });

    QTest::newRow("folder with underscore") << "user_name/quilm.txt" << 3
        << QStringList({ "user_name/quilm_1.txt", "user_name/quilm_2.txt", "user_name/quilm.txt", "user_name/quilm_1.txt" });
    QTest::newRow("folder with underscore, launch log") << "my_home/quilm_lanuch_log.txt" << 10
        << (QStringList() << "my_home/quilm_lanuch_1.txt" << "my_home/quilm_lanuch_2.txt");
    QTest::newRow("folder with dot, name without") << "logs.d/serverlog" << 3
        << QStringList({ "logs.d/serverlog_1", "logs.d/serverlog_2", "logs.d/serverlog", "logs.d/serverlog_1" });
    QTest::newRow("folder with both, name with neither") << "a_b.c/server" << 2
        << QStringList({ "a_b.c/server_1", "a_b.c/server", "a_b.c/server_1" });
}

void LogerRotation::rotationSequence()
{
    QFETCH(QString, logPath);
    QFETCH(int, ring);
    QFETCH(QStringList, expected);

    SizeRotationStrategy strategy;
    strategy.setMaximumSizeInBytes(0);
    strategy.setBackupCount(ring);
    createFiles(root, { logPath + QStringLiteral(":0") });
    QFile current(root.filePath(logPath));
    strategy.setInitialInfo(current);

    QStringList seen;
    for (int step = 0; step < expected.size(); ++step) {
        const QString next = strategy.rotate();
        // A name in use again is removed before it is continued.
        QVERIFY2(!QFile::exists(next), qPrintable(next));
        seen << root.relativeFilePath(next);

        QFile file(next);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Append));
        file.write("x");
        file.close();
        strategy.setInitialInfo(file);
    }
    QCOMPARE(seen, expected);

    // Nothing was made outside the log's own folder.
    const QString folder = QFileInfo(logPath).path();
    for (const QString& file : allFiles(root))
        QCOMPARE(QFileInfo(file).path(), folder);
}

void LogerRotation::everyLineRotatingLeavesEachNameItsLastLine()
{
    DestinationPtr destination = makeRotating(root.filePath(QStringLiteral("quilm_lanuch_log.txt")), 0, 10);
    QVERIFY(destination->isValid());
    for (int i = 0; i < 25; ++i)
        destination->write(QStringLiteral("line %1").arg(i), Info);
    QVERIFY(destination->isValid());
    destination.reset();

    // Lines 0-8 in quilm_lanuch_1..9, 9 in quilm_lanuch, 10-18 in quilm_1..9,
    // 19 in quilm, then 20-24 overwrite quilm_1..5.
    QCOMPARE(contents(root.filePath("quilm_lanuch_log.txt")), QByteArray());
    QCOMPARE(contents(root.filePath("quilm_lanuch_1.txt")), QByteArray("line 0\n"));
    QCOMPARE(contents(root.filePath("quilm_lanuch_9.txt")), QByteArray("line 8\n"));
    QCOMPARE(contents(root.filePath("quilm_lanuch.txt")), QByteArray("line 9\n"));
    QCOMPARE(contents(root.filePath("quilm_1.txt")), QByteArray("line 20\n"));
    QCOMPARE(contents(root.filePath("quilm_5.txt")), QByteArray("line 24\n"));
    QCOMPARE(contents(root.filePath("quilm_6.txt")), QByteArray("line 15\n"));
    QCOMPARE(contents(root.filePath("quilm.txt")), QByteArray("line 19\n"));
    QCOMPARE(allFiles(root).size(), 1 + 9 + 1 + 9 + 1);
}

void LogerRotation::openingSearch_data()
{
    QTest::addColumn<QString>("logPath");
    QTest::addColumn<int>("ring");
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<QString>("opened");

    QTest::newRow("nothing there") << "quilm_lanuch_log.txt" << 10 << QStringList() << "quilm_lanuch_log.txt";
    QTest::newRow("highest small numbered file wins") << "quilm_lanuch_log.txt" << 10
        << QStringList({ "quilm_lanuch_3.txt:10", "quilm_lanuch_7.txt:10", "quilm_lanuch_9.txt:100" })
        << "quilm_lanuch_7.txt";
    QTest::newRow("number 10 is looked at") << "quilm_lanuch_log.txt" << 10
        << QStringList({ "quilm_lanuch_10.txt:5", "quilm_lanuch_9.txt:5" }) << "quilm_lanuch_10.txt";
    QTest::newRow("a file of exactly the limit is full") << "quilm_lanuch_log.txt" << 10
        << QStringList({ "quilm_lanuch_4.txt:100" }) << "quilm_lanuch_log.txt";
    QTest::newRow("one byte below the limit qualifies") << "quilm_lanuch_log.txt" << 10
        << QStringList({ "quilm_lanuch_4.txt:99" }) << "quilm_lanuch_4.txt";
    QTest::newRow("server log") << "server2024-01-31.txt" << 10
        << QStringList({ "server2024-01-31_4.txt:1", "server2024-01-31.txt:1" }) << "server2024-01-31_4.txt";
    QTest::newRow("ring 1 looks only at number 1") << "server2024-01-31.txt" << 1
        << QStringList({ "server2024-01-31_2.txt:1" }) << "server2024-01-31.txt";
    QTest::newRow("ring 1 takes number 1") << "server2024-01-31.txt" << 1
        << QStringList({ "server2024-01-31_1.txt:1" }) << "server2024-01-31_1.txt";
    QTest::newRow("ring 0 uses the path") << "server2024-01-31.txt" << 0
        << QStringList({ "server2024-01-31_1.txt:1" }) << "server2024-01-31.txt";
    QTest::newRow("folder with underscore, sibling file ignored") << "user_x/quilm.txt" << 10
        << QStringList({ "user_3.txt:1", "user_x/quilm_2.txt:1" }) << "user_x/quilm_2.txt";
    QTest::newRow("folder with dot, sibling file ignored") << "logs.d/serverlog" << 10
        << QStringList({ "logs_3.d:1", "logs.d/serverlog_5:1" }) << "logs.d/serverlog_5";
    QTest::newRow("folder with a percent sign and digit") << "x%2y/quilm_lanuch_log.txt" << 10
        << QStringList({ "x10y/quilm_lanuch_10.txt:1" }) << "x%2y/quilm_lanuch_log.txt";
}

void LogerRotation::openingSearch()
{
    QFETCH(QString, logPath);
    QFETCH(int, ring);
    QFETCH(QStringList, existing);
    QFETCH(QString, opened);

    createFiles(root, existing);
    QVERIFY(root.mkpath(QFileInfo(root.filePath(logPath)).path()));
    const QStringList before = allFiles(root);
    const QByteArray openedBefore = QFile::exists(root.filePath(opened)) ? contents(root.filePath(opened)) : QByteArray();

    DestinationPtr destination = makeRotating(root.filePath(logPath), 100, ring);
    QVERIFY(destination->isValid());
    destination->write(QStringLiteral("x"), Info);
    destination.reset();

    // The chosen file is continued, everything else is left as it was.
    QCOMPARE(contents(root.filePath(opened)), openedBefore + "x\n");
    QStringList after = before;
    if (!after.contains(opened)) {
        after << opened;
        after.sort();
    }
    QCOMPARE(allFiles(root), after);
    for (const QString& entry : existing) {
        const QString name = entry.section(QLatin1Char(':'), 0, 0);
        if (name != opened)
            QCOMPARE(contents(root.filePath(name)).size(), entry.section(QLatin1Char(':'), 1, 1).toInt());
    }
}

void LogerRotation::oversizedBaseIsContinuedThenRotatedAway()
{
    createFiles(root, { "quilm_lanuch_log.txt:150", "quilm_lanuch_2.txt:120" });
    DestinationPtr destination = makeRotating(root.filePath("quilm_lanuch_log.txt"), 100, 10);
    destination->write(QStringLiteral("first"), Info);
    destination->write(QStringLiteral("second"), Info);
    destination.reset();

    QCOMPARE(contents(root.filePath("quilm_lanuch_log.txt")).size(), 150);
    QCOMPARE(contents(root.filePath("quilm_lanuch_1.txt")), QByteArray("first\nsecond\n"));
    QCOMPARE(contents(root.filePath("quilm_lanuch_2.txt")).size(), 120);
}

void LogerRotation::limitBoundary_data()
{
    QTest::addColumn<int>("initialSize");
    QTest::addColumn<QString>("line");
    QTest::addColumn<qint64>("limit");
    QTest::addColumn<bool>("rotates");

    QTest::newRow("ten ASCII characters at a limit of 10") << 0 << "0123456789" << qint64(10) << false;
    QTest::newRow("ten ASCII characters at a limit of 9") << 0 << "0123456789" << qint64(9) << true;
    QTest::newRow("initial size counts") << 5 << "01234" << qint64(10) << false;
    QTest::newRow("initial size plus one byte over") << 5 << "012345" << qint64(10) << true;
    // Three characters, six bytes in UTF-8.
    QTest::newRow("UTF-8 at its byte length") << 0 << QString::fromUtf8("\xc3\xa9\xc3\xa9\xc3\xa9") << qint64(6) << false;
    QTest::newRow("UTF-8 one byte over") << 0 << QString::fromUtf8("\xc3\xa9\xc3\xa9\xc3\xa9") << qint64(5) << true;
    QTest::newRow("four-byte character") << 0 << QString::fromUtf8("\xf0\x9f\x98\x80") << qint64(3) << true;
    QTest::newRow("limit 0, empty line") << 0 << "" << qint64(0) << false;
}

void LogerRotation::limitBoundary()
{
    QFETCH(int, initialSize);
    QFETCH(QString, line);
    QFETCH(qint64, limit);
    QFETCH(bool, rotates);

    createFiles(root, { QStringLiteral("log.txt:%1").arg(initialSize) });
    SizeRotationStrategy strategy;
    strategy.setMaximumSizeInBytes(limit);
    strategy.setBackupCount(10);
    QFile file(root.filePath("log.txt"));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Append));
    strategy.setInitialInfo(file);
    QVERIFY(!strategy.shouldRotate() || initialSize > limit);

    strategy.includeMessageInCalculation(line);
    QCOMPARE(strategy.shouldRotate(), rotates);
}

void LogerRotation::triggeringLineStartsTheNewCount()
{
    DestinationPtr destination = makeRotating(root.filePath("log.txt"), 10, 10);
    destination->write(QStringLiteral("0123456789"), Info);
    QCOMPARE(QFileInfo(root.filePath("log.txt")).size(), 11);
    destination->write(QStringLiteral("a"), Info);
    destination->write(QStringLiteral("012345678"), Info);
    destination->write(QStringLiteral("9"), Info);
    destination->write(QStringLiteral("x"), Info);
    destination.reset();

    // "a" opened log_1 and is not counted there: 9 + 1 bytes fit, "x" does not.
    QCOMPARE(contents(root.filePath("log.txt")), QByteArray("0123456789\n"));
    QCOMPARE(contents(root.filePath("log_1.txt")), QByteArray("a\n012345678\n9\n"));
    QCOMPARE(contents(root.filePath("log_2.txt")), QByteArray("x\n"));
}

void LogerRotation::noRotationTruncatesAndGrows_data()
{
    QTest::addColumn<int>("option");
    QTest::newRow("no rotation") << int(NoRotation);
    QTest::newRow("any value but 1") << 7;
}

void LogerRotation::noRotationTruncatesAndGrows()
{
    QFETCH(int, option);

    createFiles(root, { "server.txt:500", "server_1.txt:1" });
    DestinationPtr destination = DestinationFactory::MakeFileDestination(
        root.filePath("server.txt"), static_cast<LogRotationOption>(option), MaxSizeBytes(10), MaxOldLogCount(10));
    QVERIFY(destination->isValid());
    QCOMPARE(QFileInfo(root.filePath("server.txt")).size(), 0);

    const QString line = QString::fromUtf8("0123456789\xc3\xa9");
    for (int i = 0; i < 100; ++i)
        destination->write(line, Info);
    destination.reset();

    QCOMPARE(QFileInfo(root.filePath("server.txt")).size(), 100 * (line.toLocal8Bit().size() + 1));
    QCOMPARE(allFiles(root), QStringList({ "server.txt", "server_1.txt" }));
    QCOMPARE(contents(root.filePath("server_1.txt")).size(), 1);
}

void LogerRotation::negativeSettingsAreClamped()
{
    createFiles(root, { "log.txt:0" });
    SizeRotationStrategy strategy;
    strategy.setMaximumSizeInBytes(-5);
    strategy.setBackupCount(-3);
    QFile file(root.filePath("log.txt"));
    strategy.setInitialInfo(file);

    // A limit of 0: the empty count does not rotate, one byte does.
    QVERIFY(!strategy.shouldRotate());
    strategy.includeMessageInCalculation(QStringLiteral("a"));
    QVERIFY(strategy.shouldRotate());
    // A ring of 0: no numbered names are looked for or formed.
    QCOMPARE(strategy.findLatestFile(root.filePath("log.txt")), root.filePath("log.txt"));
}

QTEST_GUILESS_MAIN(LogerRotation)
#include "loger_rotation.moc"
