#include "Sandbox.h"
#include "Versions.h"

#include "PropertyList.h"

#include "ApplicationVersion.h"

#include <QCoreApplication>
#include <QProcess>
#include <QSettings>
#include <QTest>

#include <cstdio>
#include <cstring>

namespace {

// An Info.plist whose version key is followed by arrays nested depth levels deep.
QByteArray nestedArraysPlist(int depth)
{
    QByteArray xml = "<?xml version=\"1.0\"?>\n<plist version=\"1.0\"><dict>"
                     "<key>CFBundleShortVersionString</key><string>3.2.0</string><key>Deep</key>";
    xml += QByteArray("<array>").repeated(depth);
    xml += QByteArray("</array>").repeated(depth);
    return xml + "</dict></plist>\n";
}

} // namespace

class TestVersions : public QObject
{
    Q_OBJECT

private slots:
    void compareStrings_data();
    void compareStrings();
    void compareLists_data();
    void compareLists();
    void otherFileVersion_data();
    void otherFileVersion();
    void otherFileVersionEmptyPath();
    void propertyListFormatReadsNestedDictionaries();
    void runningBundleVersion_data();
    void runningBundleVersion();
};

void TestVersions::compareStrings_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<bool>("newer");

    QTest::newRow("last part greater") << "1.2.3"
                                       << "1.2.4" << true;
    QTest::newRow("last part smaller") << "1.2.4"
                                       << "1.2.3" << false;
    QTest::newRow("equal") << "1.2"
                           << "1.2" << false;
    QTest::newRow("more parts") << "1.2"
                                << "1.2.1" << false;
    QTest::newRow("fewer parts") << "1.2.1"
                                 << "1.2" << false;
    QTest::newRow("numeric not textual") << "1.10"
                                         << "1.9" << false;
    QTest::newRow("numeric not textual, reverse") << "1.9"
                                                  << "1.10" << true;
    QTest::newRow("letter counts as 0") << "1.a"
                                        << "1.1" << true;
    QTest::newRow("empty against 5") << ""
                                     << "5" << true;
    QTest::newRow("empty against empty") << ""
                                         << "" << false;
    QTest::newRow("empty part counts as 0") << "1..2"
                                            << "1.0.3" << true;
    QTest::newRow("first part decides") << "2.0.0"
                                        << "1.9.9" << false;
    QTest::newRow("negative parts are signed") << "1.-1"
                                               << "1.0" << true;
    QTest::newRow("too large counts as 0") << "1.99999999999"
                                           << "1.1" << true;
    QTest::newRow("empty against two parts") << ""
                                             << "3.2" << false;
}

void TestVersions::compareStrings()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(bool, newer);
    QCOMPARE(checkCompareFileNewVersion(first, second), newer);
}

void TestVersions::compareLists_data()
{
    QTest::addColumn<QStringList>("first");
    QTest::addColumn<QStringList>("second");
    QTest::addColumn<bool>("newer");

    QTest::newRow("empty against one part") << QStringList() << QStringList{"1"} << true;
    QTest::newRow("one part against empty") << QStringList{"1"} << QStringList() << false;
    QTest::newRow("both empty") << QStringList() << QStringList() << false;
    QTest::newRow("same count, newer") << QStringList{"3", "1", "0"} << QStringList{"3", "2", "0"} << true;
    QTest::newRow("different counts") << QStringList{"3", "1"} << QStringList{"3", "2", "0"} << false;
}

void TestVersions::compareLists()
{
    QFETCH(QStringList, first);
    QFETCH(QStringList, second);
    QFETCH(bool, newer);
    QCOMPARE(checkCompareFileNewVersion(first, second), newer);
}

void TestVersions::otherFileVersion_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("version");

    QTest::newRow("short version") << Sandbox::infoPlist("3.2.0", "310") << "3.2.0";
    QTest::newRow("empty short version, bundle version") << Sandbox::infoPlist("", "7") << "7";
    QTest::newRow("only bundle version") << Sandbox::infoPlist(QString(), "8") << "8";
    QTest::newRow("neither key") << Sandbox::infoPlist(QString(), QString()) << "";
    QTest::newRow("not a property list") << QByteArray("[General]\nCFBundleShortVersionString=1.0\n") << "";
    QTest::newRow("missing file") << QByteArray() << "";
    QTest::newRow("arrays nested 60 deep") << nestedArraysPlist(60) << "3.2.0";
    // Unreadable, as any list that is not a property list, rather than a stack overflow.
    QTest::newRow("arrays nested 60000 deep") << nestedArraysPlist(60000) << "";
}

void TestVersions::otherFileVersion()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, version);

    Sandbox sandbox;
    const QString path = sandbox.path() + "/Test.app/Contents/Info.plist";
    if (!content.isNull())
        QVERIFY(Sandbox::write(path, content));

    QString result = "stale";
    // An unclean path is cleaned first.
    getOtherFileVersion(sandbox.path() + "/Test.app/Contents/MacOS/../Info.plist", result);
    QCOMPARE(result, version);
}

void TestVersions::otherFileVersionEmptyPath()
{
    QString result = "stale";
    getOtherFileVersion(QString(), result);
    QCOMPARE(result, QString());
}

void TestVersions::propertyListFormatReadsNestedDictionaries()
{
    Sandbox sandbox;
    const QString path = sandbox.path() + "/Info.plist";
    QVERIFY(Sandbox::write(path, "<?xml version=\"1.0\"?>\n<plist version=\"1.0\"><dict>"
                                 "<key>Name</key><string>A &amp; B</string>"
                                 "<key>Count</key><integer>42</integer>"
                                 "<key>Enabled</key><true/>"
                                 "<key>Inner</key><dict><key>Key</key><string>value</string></dict>"
                                 "<key>List</key><array><string>a</string><string>b</string></array>"
                                 "</dict></plist>\n"));
    QSettings plist(path, PropertyList::settingsFormat());
    QCOMPARE(plist.status(), QSettings::NoError);
    QCOMPARE(plist.value("Name").toString(), QString("A & B"));
    QCOMPARE(plist.value("Count").toInt(), 42);
    QCOMPARE(plist.value("Enabled").toBool(), true);
    QCOMPARE(plist.value("Inner/Key").toString(), QString("value"));
    QCOMPARE(plist.value("List").toStringList(), QStringList({"a", "b"}));

    // Written back, the same values read again.
    plist.setValue("Inner/Other", "x");
    plist.sync();
    QSettings again(path, PropertyList::settingsFormat());
    QCOMPARE(again.value("Inner/Key").toString(), QString("value"));
    QCOMPARE(again.value("Inner/Other").toString(), QString("x"));
    QCOMPARE(again.value("Name").toString(), QString("A & B"));
}

void TestVersions::runningBundleVersion_data()
{
    QTest::addColumn<QByteArray>("plist");
    QTest::addColumn<QString>("expected");

    // getCurFileVersion's result, then the application version.
    QTest::newRow("short version") << Sandbox::infoPlist("4.5.6", "456") << "4.5.6 4.5.6";
    QTest::newRow("bundle version only") << Sandbox::infoPlist(QString(), "77") << "77 77";
    QTest::newRow("63 characters fit") << Sandbox::infoPlist(QString(63, '1'))
                                       << QString(63, '1') + " " + QString(63, '1');
    QTest::newRow("64 characters do not, the file still has it")
        << Sandbox::infoPlist(QString(64, '2')) << QString(64, '2') + " " + QString(64, '2');
    QTest::newRow("no bundle") << QByteArray() << "<empty> 9.9.9";
}

// Runs a copy of this test program inside a sandbox "Salvix Setup.app".
void TestVersions::runningBundleVersion()
{
    QFETCH(QByteArray, plist);
    QFETCH(QString, expected);

    Sandbox sandbox;
    const QString macos = sandbox.applications() + "/Salvix Setup.app/Contents/MacOS";
    QVERIFY(QDir().mkpath(macos));
    QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), macos + "/Salvix Setup"));
    if (!plist.isNull())
        QVERIFY(Sandbox::write(macos + "/../Info.plist", plist));

    QProcess child;
    child.start(macos + "/Salvix Setup", {"--print-version"});
    QVERIFY(child.waitForFinished(10000));
    QCOMPARE(QString::fromUtf8(child.readAllStandardOutput()).trimmed(), expected);
    if (plist.isNull())
        QVERIFY(child.readAllStandardError().contains("Info.plist not found at:"));
}

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--print-version") == 0) {
        QCoreApplication app(argc, argv);
        QString version;
        getCurFileVersion(version);
        applyBundleApplicationVersion("9.9.9");
        std::printf("%s %s\n", version.isEmpty() ? "<empty>" : qPrintable(version),
                    qPrintable(QCoreApplication::applicationVersion()));
        return 0;
    }
    QCoreApplication app(argc, argv);
    TestVersions test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_Versions.moc"
