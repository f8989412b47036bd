// Size rotation of the file destination: the ring of names, the search for
// the file to continue, the limit and how lines are counted against it, and
// paths whose folders hold the characters the names are cut at.
#include "LoggerFixture.h"
#include "QuilmLogDestFile.h"
#include "SandboxFiles.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <memory>

using namespace QuilmLogging;

namespace {

QString lineNumbered(int n)
{
    return QStringLiteral("line %1").arg(n);
}

QStringList numbered(const QString& pattern, int from, int to)
{
    QStringList names;
    for (int i = from; i <= to; ++i)
        names << pattern.arg(i);
    return names;
}

} // namespace

class TestRotation : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void rotationSequence_data();
    void rotationSequence();
    void openingSearch_data();
    void openingSearch();
    void oversizedBaseIsContinuedThenRotatedAway_data();
    void oversizedBaseIsContinuedThenRotatedAway();
    void sizeLimit_data();
    void sizeLimit();
    void negativeSettingsAreClamped();

private:
    std::unique_ptr<WorkingFolderSandbox> sandbox;
    QDir root;
};

void TestRotation::init()
{
    sandbox.reset(new WorkingFolderSandbox);
    QVERIFY(sandbox->isValid());
    root.setPath(sandbox->path());
}

void TestRotation::cleanup()
{
    sandbox.reset();
}

void TestRotation::rotationSequence_data()
{
    QTest::addColumn<QString>("base");
    QTest::addColumn<int>("ring");
    QTest::addColumn<QStringList>("names"); // in the log's folder, one per line
    QTest::addColumn<QStringList>("decoys"); // files that rules over the whole path would reach

    QStringList launch = numbered("quilm_lanuch_%1.txt", 1, 9) << "quilm_lanuch.txt";
    for (int cycle = 0; cycle < 3; ++cycle)
        launch << numbered("quilm_%1.txt", 1, 9) << "quilm.txt";
    QTest::newRow("launch log") << "quilm_lanuch_log.txt" << 10 << launch << QStringList();

    QStringList server;
    for (int cycle = 0; cycle < 3; ++cycle)
        server << numbered("server2024-01-31_%1.txt", 1, 9) << "server2024-01-31.txt";
    server << "server2024-01-31_1.txt";
    QTest::newRow("server log") << "server2024-01-31.txt" << 10 << server << QStringList();
    QTest::newRow("ring 15 acts as 10") << "server2024-01-31.txt" << 15 << server << QStringList();
    QTest::newRow("ring 25 acts as 10") << "server2024-01-31.txt" << 25 << server << QStringList();

    QTest::newRow("ring 1, server log never repeats")
        << "server2024-01-31.txt" << 1 << numbered("server2024-01-31_%1.txt", 1, 14) << QStringList();
    QTest::newRow("ring 1, launch log never repeats")
        << "quilm_lanuch_log.txt" << 1
        << QStringList({"quilm_lanuch.txt", "quilm.txt", "quilm_1.txt", "quilm_2.txt", "quilm_3.txt", "quilm_4.txt"})
        << QStringList();
    QTest::newRow("non-decimal number counts as 0")
        << "app_log.txt" << 3 << QStringList({"app_1.txt", "app_2.txt", "app.txt", "app_1.txt", "app_2.txt", "app.txt"})
        << QStringList();
    QTest::newRow("word after the underscore")
        << "x_log.txt" << 10 << QStringList({"x_1.txt", "x_2.txt"}) << QStringList();
    QTest::newRow("number beyond the ring keeps growing")
        << "app_15.txt" << 10 << QStringList({"app_16.txt", "app_17.txt", "app_18.txt", "app_19.txt"}) << QStringList();
    QTest::newRow("no extension") << "serverlog" << 3
                                  << QStringList({"serverlog_1", "serverlog_2", "serverlog", "serverlog_1"})
                                  << QStringList();

    QTest::newRow("folder with underscore")
        << "user_name/quilm.txt" << 3 << QStringList({"quilm_1.txt", "quilm_2.txt", "quilm.txt", "quilm_1.txt"})
        << QStringList();
    QTest::newRow("folder with underscore, launch log")
        << "my_home/quilm_lanuch_log.txt" << 10 << QStringList({"quilm_lanuch_1.txt", "quilm_lanuch_2.txt"})
        << QStringList();
    QTest::newRow("folder with dot, name without")
        << "logs.d/serverlog" << 3 << QStringList({"serverlog_1", "serverlog_2", "serverlog", "serverlog_1"})
        << QStringList();
    QTest::newRow("folder with both, name with neither")
        << "a_b.c/server" << 2 << QStringList({"server_1", "server", "server_1"}) << QStringList();
    QTest::newRow("underscore folders, name without underscore")
        << "a_b/c_d/quilm.txt" << 3 << QStringList({"quilm_1.txt", "quilm_2.txt"})
        << QStringList({"a_b/c_1.txt", "a_b/c_3.txt", "a_b/c_10.txt"});
    QTest::newRow("dotted folder beside decoys, name without dot")
        << "x.y/serverlog" << 3 << QStringList({"serverlog_1", "serverlog_2"})
        << QStringList({"x_1.y/serverlog", "x_1"});
    QTest::newRow("launch log drifting under an underscore folder")
        << "home_user.d/quilm_lanuch_log.txt" << 3
        << QStringList({"quilm_lanuch_1.txt", "quilm_lanuch_2.txt", "quilm_lanuch.txt", "quilm_1.txt", "quilm_2.txt",
                        "quilm.txt", "quilm_1.txt"})
        << QStringList({"home_1.txt", "home_user_1.txt"});
}

// With a limit of 0 every line rotates, so line n shows the n-th name.
void TestRotation::rotationSequence()
{
    QFETCH(QString, base);
    QFETCH(int, ring);
    QFETCH(QStringList, names);
    QFETCH(QStringList, decoys);

    const QString folder = QFileInfo(base).path();
    QVERIFY(root.mkpath(folder));
    for (const QString& decoy : decoys) {
        QVERIFY(root.mkpath(QFileInfo(decoy).path()));
        writeFile(root.filePath(decoy), "decoy\n");
    }
    QMap<QString, QByteArray> expected = snapshot(root.path());

    DestinationPtr dest = makeRotating(root.filePath(base), 0, ring);
    QVERIFY(dest->isValid());
    expected.insert(base, QByteArray());
    QCOMPARE(snapshot(root.path()), expected);
    for (int n = 0; n < names.size(); ++n) {
        dest->write(lineNumbered(n), Info);
        // A reused name is removed first, so it holds the new line alone;
        // nothing is made outside the log's own folder.
        expected[QDir::cleanPath(folder + '/' + names.at(n))] = lineNumbered(n).toUtf8() + '\n';
        QCOMPARE(snapshot(root.path()), expected);
    }
    QVERIFY(dest->isValid());
}

void TestRotation::openingSearch_data()
{
    QTest::addColumn<QString>("base");
    QTest::addColumn<int>("ring");
    QTest::addColumn<QStringList>("existing"); // "name:size", size -1 for a folder
    QTest::addColumn<QString>("chosen");

    const QString launch = QStringLiteral("quilm_lanuch_log.txt");
    const QString server = QStringLiteral("server2024-01-31.txt");
    QTest::newRow("nothing there") << launch << 10 << QStringList() << launch;
    QTest::newRow("highest small number wins")
        << launch << 10 << QStringList({"quilm_lanuch_3.txt:10", "quilm_lanuch_7.txt:10"}) << "quilm_lanuch_7.txt";
    QTest::newRow("highest small number wins over a higher full one")
        << launch << 10 << QStringList({"quilm_lanuch_3.txt:10", "quilm_lanuch_7.txt:10", "quilm_lanuch_9.txt:100"})
        << "quilm_lanuch_7.txt";
    QTest::newRow("file at the limit is skipped")
        << launch << 10 << QStringList({"quilm_lanuch_3.txt:10", "quilm_lanuch_7.txt:100"}) << "quilm_lanuch_3.txt";
    QTest::newRow("file at the limit alone is full")
        << launch << 10 << QStringList({"quilm_lanuch_4.txt:100"}) << launch;
    QTest::newRow("file just below the limit")
        << launch << 10 << QStringList({"quilm_lanuch_7.txt:99"}) << "quilm_lanuch_7.txt";
    QTest::newRow("file just below the limit, number 4")
        << launch << 10 << QStringList({"quilm_lanuch_4.txt:99"}) << "quilm_lanuch_4.txt";
    QTest::newRow("number 10 is looked at")
        << launch << 10 << QStringList({"quilm_lanuch_9.txt:5", "quilm_lanuch_10.txt:5"}) << "quilm_lanuch_10.txt";
    QTest::newRow("none small enough") << launch << 10 << QStringList({"quilm_lanuch_2.txt:150"}) << launch;
    QTest::newRow("folder of a numbered name")
        << launch << 10 << QStringList({"quilm_lanuch_5.txt:-1", "quilm_lanuch_2.txt:3"}) << "quilm_lanuch_2.txt";
    QTest::newRow("server log") << server << 10 << QStringList({"server2024-01-31_4.txt:1"})
                                << "server2024-01-31_4.txt";
    QTest::newRow("server log beside its base")
        << server << 10 << QStringList({"server2024-01-31_4.txt:1", "server2024-01-31.txt:1"})
        << "server2024-01-31_4.txt";
    QTest::newRow("ring 1 looks at 1 only") << server << 1 << QStringList({"server2024-01-31_2.txt:1"}) << server;
    QTest::newRow("ring 1 takes 1") << server << 1 << QStringList({"server2024-01-31_1.txt:1"})
                                    << "server2024-01-31_1.txt";
    QTest::newRow("ring 1 takes 1 beside 2")
        << server << 1 << QStringList({"server2024-01-31_1.txt:1", "server2024-01-31_2.txt:1"})
        << "server2024-01-31_1.txt";
    QTest::newRow("ring 0 opens the path") << server << 0 << QStringList({"server2024-01-31_1.txt:1"}) << server;
    QTest::newRow("folder with underscore, sibling file ignored")
        << "user_x/quilm.txt" << 10 << QStringList({"user_3.txt:1", "user_x/quilm_2.txt:1"}) << "user_x/quilm_2.txt";
    QTest::newRow("folder with dot, sibling file ignored")
        << "logs.d/serverlog" << 10 << QStringList({"logs_3.d:1", "logs.d/serverlog_5:1"}) << "logs.d/serverlog_5";
    QTest::newRow("folder with a percent sign and digit")
        << "x%2y/quilm_lanuch_log.txt" << 10 << QStringList({"x10y/quilm_lanuch_10.txt:1"})
        << "x%2y/quilm_lanuch_log.txt";
}

// The chosen file is continued, everything else is left as it was.
void TestRotation::openingSearch()
{
    QFETCH(QString, base);
    QFETCH(int, ring);
    QFETCH(QStringList, existing);
    QFETCH(QString, chosen);

    createFiles(root, existing);
    QVERIFY(root.mkpath(QFileInfo(base).path()));
    QMap<QString, QByteArray> expected = snapshot(root.path());

    DestinationPtr dest = makeRotating(root.filePath(base), 100, ring);
    QVERIFY(dest->isValid());
    dest->write(QStringLiteral("x"), Info);

    expected[chosen] += "x\n";
    QCOMPARE(snapshot(root.path()), expected);
}

void TestRotation::oversizedBaseIsContinuedThenRotatedAway_data()
{
    QTest::addColumn<QStringList>("existing");

    QTest::newRow("base alone") << QStringList({"quilm_lanuch_log.txt:150"});
    QTest::newRow("beside a full numbered file") << QStringList({"quilm_lanuch_log.txt:150", "quilm_lanuch_2.txt:120"});
}

void TestRotation::oversizedBaseIsContinuedThenRotatedAway()
{
    QFETCH(QStringList, existing);

    createFiles(root, existing);
    QMap<QString, QByteArray> expected = snapshot(root.path());
    DestinationPtr dest = makeRotating(root.filePath("quilm_lanuch_log.txt"), 100, 10);
    QVERIFY(dest->isValid());

    dest->write(QStringLiteral("first"), Info);
    expected.insert("quilm_lanuch_1.txt", "first\n");
    QCOMPARE(snapshot(root.path()), expected);
    dest->write(QStringLiteral("second"), Info);
    expected["quilm_lanuch_1.txt"] += "second\n";
    QCOMPARE(snapshot(root.path()), expected);
}

void TestRotation::sizeLimit_data()
{
    QTest::addColumn<int>("initialSize"); // of app.log before it is opened
    QTest::addColumn<qint64>("limit");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("files"); // where each line lands

    const QString ten = QStringLiteral("0123456789");
    // Three characters, six bytes in UTF-8.
    const QString accents = QString::fromUtf8("\xc3\xa9\xc3\xa9\xc3\xa9");
    QTest::newRow("ten ASCII characters at a limit of 10")
        << 0 << qint64(10) << QStringList({ten}) << QStringList({"app.log"});
    QTest::newRow("ten ASCII characters at a limit of 9")
        << 0 << qint64(9) << QStringList({ten}) << QStringList({"app_1.log"});
    QTest::newRow("count equal to the limit stays")
        << 0 << qint64(20) << QStringList({ten, ten}) << QStringList({"app.log", "app.log"});
    QTest::newRow("one byte more rotates")
        << 0 << qint64(20) << QStringList({ten, ten + 'x'}) << QStringList({"app.log", "app_1.log"});
    QTest::newRow("initial size counts") << 5 << qint64(10) << QStringList({"01234"}) << QStringList({"app.log"});
    QTest::newRow("initial size plus one byte over")
        << 5 << qint64(10) << QStringList({"012345"}) << QStringList({"app_1.log"});
    QTest::newRow("rotating line not counted in the new file")
        << 0 << qint64(20) << QStringList({ten + "abcde", ten, ten, ten})
        << QStringList({"app.log", "app_1.log", "app_1.log", "app_1.log"});
    QTest::newRow("the new file's count starts after the rotating line")
        << 0 << qint64(10) << QStringList({ten, "a", "012345678", "9", "x"})
        << QStringList({"app.log", "app_1.log", "app_1.log", "app_1.log", "app_2.log"});
    QTest::newRow("utf-8 length counted") << 0 << qint64(10) << QStringList({QString::fromUtf8("ääääa"), "a", "a"})
                                          << QStringList({"app.log", "app.log", "app_1.log"});
    QTest::newRow("UTF-8 at its byte length") << 0 << qint64(6) << QStringList({accents}) << QStringList({"app.log"});
    QTest::newRow("UTF-8 one byte over") << 0 << qint64(5) << QStringList({accents}) << QStringList({"app_1.log"});
    QTest::newRow("four-byte character") << 0 << qint64(3) << QStringList({QString::fromUtf8("\xf0\x9f\x98\x80")})
                                         << QStringList({"app_1.log"});
    QTest::newRow("limit 0, empty line") << 0 << qint64(0) << QStringList({QString()}) << QStringList({"app.log"});
}

// Every line is in its file as soon as it was written.
void TestRotation::sizeLimit()
{
    QFETCH(int, initialSize);
    QFETCH(qint64, limit);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, files);

    if (initialSize > 0)
        createFiles(root, {QStringLiteral("app.log:%1").arg(initialSize)});
    DestinationPtr dest = makeRotating(root.filePath("app.log"), limit, 10);
    QVERIFY(dest->isValid());
    QMap<QString, QByteArray> expected;
    expected.insert("app.log", QByteArray(initialSize, 'o'));
    for (int n = 0; n < lines.size(); ++n) {
        dest->write(lines.at(n), Warn);
        expected[files.at(n)] += lines.at(n).toUtf8() + '\n';
        QCOMPARE(snapshot(root.path()), expected);
    }
}

void TestRotation::negativeSettingsAreClamped()
{
    createFiles(root, {"log.txt:0"});
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

QTEST_GUILESS_MAIN(TestRotation)
#include "tst_Rotation.moc"
