#include "GlobalConfig.h"
#include "Sandbox.h"
#include "Settings.h"

#include <QTest>

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void readConfig_data();
    void readConfig();
    void getIniMissingFileLeavesNoFile();
    void setIniCreatesFileAndGetIniReadsBack();
    void emptyValueIsNotTheDefault();
};

void TestSettings::readConfig_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<int>("theme");
    QTest::addColumn<int>("language");

    QTest::newRow("no smart.ini") << QByteArray() << 1 << 0;
    QTest::newRow("keys absent") << QByteArray("[Tool]\nOther=1\n") << 1 << 0;
    QTest::newRow("light, English") << QByteArray("[Tool]\nThemeType=0\nLanguageType=2\n") << 0 << 2;
    QTest::newRow("golden, Traditional") << QByteArray("[Tool]\nThemeType=1\nLanguageType=1\n") << 1 << 1;
    QTest::newRow("dark is not accepted") << QByteArray("[Tool]\nThemeType=2\n") << 0 << 0;
    QTest::newRow("negative theme") << QByteArray("[Tool]\nThemeType=-1\n") << 0 << 0;
    QTest::newRow("empty theme") << QByteArray("[Tool]\nThemeType=\n") << 0 << 0;
    QTest::newRow("language out of range") << QByteArray("[Tool]\nLanguageType=3\n") << 1 << 0;
    QTest::newRow("language not a number") << QByteArray("[Tool]\nLanguageType=x\n") << 1 << 0;
    QTest::newRow("theme too large") << QByteArray("[Tool]\nThemeType=4294967297\n") << 0 << 0;
}

void TestSettings::readConfig()
{
    QFETCH(QByteArray, ini);
    QFETCH(int, theme);
    QFETCH(int, language);

    Sandbox sandbox;
    if (!ini.isNull())
        QVERIFY(Sandbox::write(sandbox.userFolder() + "/smart.ini", ini));
    gConfig.theme_type = 7;
    gConfig.language_type = 7;
    gConfig.is_4k_screen = 5;
    ReadConfig();
    QCOMPARE(gConfig.theme_type, theme);
    QCOMPARE(gConfig.language_type, language);
    QCOMPARE(gConfig.is_4k_screen, 5); // nothing else is touched
}

void TestSettings::getIniMissingFileLeavesNoFile()
{
    Sandbox sandbox;
    const QString path = sandbox.path() + "/missing.ini";
    QCOMPARE(getIni(path, "Tool/ThemeType", "dflt"), QString("dflt"));
    QVERIFY(!QFile::exists(path));
}

void TestSettings::setIniCreatesFileAndGetIniReadsBack()
{
    Sandbox sandbox;
    const QString path = sandbox.path() + "/sub/release_version.ini";
    QDir().mkpath(sandbox.path() + "/sub");
    const QString key = "0f8fad5b-d9cb-469f-a165-70867728950e/to_upgrade_file";
    setIni(path, key, "/Applications/Salvix Setup.app/Contents/MacOS/Salvix Setup");
    QVERIFY(QFile::exists(path));
    QCOMPARE(getIni(path, key, ""), QString("/Applications/Salvix Setup.app/Contents/MacOS/Salvix Setup"));
    QCOMPARE(getIni(path, "Tool/Absent", "d"), QString("d"));
}

void TestSettings::emptyValueIsNotTheDefault()
{
    Sandbox sandbox;
    const QString path = sandbox.path() + "/smart.ini";
    QVERIFY(Sandbox::write(path, "[Tool]\nLaunchSourceName=\n"));
    QCOMPARE(getIni(path, "Tool/LaunchSourceName", "default"), QString());
}

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_Settings.moc"
