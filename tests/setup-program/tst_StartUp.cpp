// Start-up steps of Salvix Setup in process: the launch source, the language, the style
// sheet, the upgrade question and the window's place.

#include "GlobalConfig.h"
#include "Locations.h"
#include "Sandbox.h"
#include "StartUp.h"
#include "TitleSingleDialog.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>
#include <QTimer>

namespace {

QVariant iniValue(const QString& file, const QString& key)
{
    return QSettings(file, QSettings::IniFormat).value(key);
}

void setSystemLanguage(const QByteArray& lang)
{
    qputenv("LANG", lang);
    qunsetenv("LANGUAGE");
    qunsetenv("LC_ALL");
    qunsetenv("LC_MESSAGES");
}

} // namespace

class TestStartUp : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void launchSource_data();
    void launchSource();
    void language_data();
    void language();
    void styleSheet_data();
    void styleSheet();
    void upgradeQuestion_data();
    void upgradeQuestion();
    void centredPosition_data();
    void centredPosition();
};

void TestStartUp::init()
{
    gConfig = GlobalConfig();
}

void TestStartUp::launchSource_data()
{
    // The path as the previous start logged it; an empty one means no launch log at all.
    QTest::addColumn<QString>("logged");
    QTest::addColumn<bool>("stored");

    QTest::newRow("another place") << QStringLiteral("/Users/x/Downloads/Salvix Setup.app/Contents/MacOS/Salvix Setup")
                                   << true;
    QTest::newRow("the installed Salvix") << QStringLiteral("@MAIN@") << false;
    QTest::newRow("the upgrade archive") << QStringLiteral("@UPGRADE@") << false;
    QTest::newRow("the installed Salvix in other letter case") << QStringLiteral("@MAIN_UPPER@") << true;
    QTest::newRow("no launch log") << QString() << false;
}

void TestStartUp::launchSource()
{
    QFETCH(QString, logged);
    QFETCH(bool, stored);
    Sandbox box;
    const QString settings = getAppSupportFolder() + "/smart.ini";
    QSettings(settings, QSettings::IniFormat).setValue("Tool/LaunchSourceName", "earlier");

    logged.replace("@MAIN@", getMainToolPath())
        .replace("@UPGRADE@", getToUpgradeFilePath())
        .replace("@MAIN_UPPER@", getMainToolPath().toUpper());
    if (!logged.isEmpty()) {
        // The first line as the logger writes it, then a later line.
        QVERIFY(Sandbox::write(getLaunchLogPath(), "INFO  2024-01-31T09:05:07.123 [main] run from path: \""
                                                       + logged.toUtf8()
                                                       + "\" \nINFO  2024-01-31T09:05:07.200 [main] other \n"));
    }

    recordLaunchSource(settings);
    QCOMPARE(iniValue(settings, "Tool/LaunchSourceName").toString(), stored ? logged : QStringLiteral("earlier"));
}

void TestStartUp::language_data()
{
    QTest::addColumn<QByteArray>("lang");
    QTest::addColumn<QVariant>("authorize"); // null: the key is absent
    QTest::addColumn<int>("expected");
    QTest::addColumn<QVariant>("written"); // null: "Tool/LanguageType" stays as it was

    const QVariant absent;
    QTest::newRow("English") << QByteArray("en_US.UTF-8") << absent << 2 << QVariant("2");
    QTest::newRow("no language") << QByteArray("C") << absent << 2 << QVariant("2");
    QTest::newRow("Simplified Chinese") << QByteArray("zh_CN.UTF-8") << absent << 0 << QVariant("0");
    QTest::newRow("Singapore, Simplified") << QByteArray("zh_SG.UTF-8") << absent << 0 << QVariant("0");
    QTest::newRow("Traditional Chinese") << QByteArray("zh_TW.UTF-8") << absent << 1 << QVariant("1");
    QTest::newRow("Hong Kong, Traditional") << QByteArray("zh_HK.UTF-8") << absent << 1 << QVariant("1");
    QTest::newRow("authorized: no detection") << QByteArray("en_US.UTF-8") << QVariant("1") << 1 << absent;
    QTest::newRow("authorize with a blank") << QByteArray("en_US.UTF-8") << QVariant(" 1") << 2 << QVariant("2");
    QTest::newRow("authorize as a word") << QByteArray("zh_CN.UTF-8") << QVariant("yes") << 0 << QVariant("0");
    QTest::newRow("authorize 0") << QByteArray("zh_TW.UTF-8") << QVariant("0") << 1 << QVariant("1");
}

void TestStartUp::language()
{
    QFETCH(QByteArray, lang);
    QFETCH(QVariant, authorize);
    QFETCH(int, expected);
    QFETCH(QVariant, written);
    Sandbox box;
    const QString settings = getAppSupportFolder() + "/smart.ini";
    {
        QSettings ini(settings, QSettings::IniFormat);
        ini.setValue("Tool/LanguageType", "1");
        if (!authorize.isNull())
            ini.setValue("Tool/Authorize", authorize);
    }
    const QByteArray savedLang = qgetenv("LANG");
    setSystemLanguage(lang);
    gConfig.language_type = 1; // as read from the settings

    detectLanguage(settings);
    qputenv("LANG", savedLang);

    QCOMPARE(gConfig.language_type, expected);
    QCOMPARE(iniValue(settings, "Tool/LanguageType").toString(),
             written.isNull() ? QStringLiteral("1") : written.toString());
}

void TestStartUp::styleSheet_data()
{
    QTest::addColumn<int>("theme");
    QTest::addColumn<int>("is4k");
    QTest::addColumn<QString>("resource");

    QTest::newRow("light") << 0 << 0 << ":/resources/qss/lightStyle.qss";
    QTest::newRow("golden") << 1 << 0 << ":/resources/qss/goldenStyle.qss";
    QTest::newRow("dark") << 2 << 0 << ":/resources/qss/darkStyle.qss";
    QTest::newRow("unknown theme") << 7 << 0 << ":/resources/qss/goldenStyle.qss";
    QTest::newRow("light 4K") << 0 << 1 << ":/resources/qss/lightStyle4K.qss";
    QTest::newRow("golden 4K") << 1 << 1 << ":/resources/qss/goldenStyle4K.qss";
    QTest::newRow("dark 4K") << 2 << 1 << ":/resources/qss/darkStyle4K.qss";
    QTest::newRow("golden, any other layout value") << 1 << 3 << ":/resources/qss/goldenStyle4K.qss";
}

void TestStartUp::styleSheet()
{
    QFETCH(int, theme);
    QFETCH(int, is4k);
    QFETCH(QString, resource);
    QCOMPARE(styleSheetResource(theme, is4k), resource);

    // The installed sheet: the resource with every run of white space made one line end.
    QFile file(resource);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QString expected = QString::fromUtf8(file.readAll());
    expected.remove(QRegularExpression(QStringLiteral("^\\s+")));
    expected.replace(QRegularExpression(QStringLiteral("\\s+")), QStringLiteral("\n"));
    QVERIFY(expected.count('\n') > 10);

    qApp->setStyleSheet(QString());
    gConfig.theme_type = theme;
    gConfig.is_4k_screen = is4k;
    applyStyleSheet();
    QCOMPARE(qApp->styleSheet(), expected);
    qApp->setStyleSheet(QString());
}

void TestStartUp::upgradeQuestion_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<QString>("question");
    QTest::addColumn<QString>("yes");
    QTest::addColumn<QString>("no");

    const QString simplified = QStringLiteral("新版本安装包已下载，是否立即升级工具？");
    const QString traditional = QStringLiteral("新版本安裝包已下載，是否立即更新軟體？");
    const QString english = QStringLiteral("The new version has been downloaded. Upgrade now?");
    QTest::newRow("Simplified Chinese, yes") << 0 << true << simplified << "是"
                                             << "否";
    QTest::newRow("Traditional Chinese, no") << 1 << false << traditional << "是"
                                             << "否";
    QTest::newRow("English, yes") << 2 << true << english << "Yes"
                                  << "No";
    QTest::newRow("English, no") << 2 << false << english << "Yes"
                                 << "No";
}

void TestStartUp::upgradeQuestion()
{
    QFETCH(int, language);
    QFETCH(bool, confirm);
    QFETCH(QString, question);
    QFETCH(QString, yes);
    QFETCH(QString, no);
    Sandbox box;
    const QString settings = getAppSupportFolder() + "/smart.ini";
    QSettings(settings, QSettings::IniFormat).setValue("Tool/AlreadyUpgradeReminder", "0");
    gConfig.language_type = language;

    // Answers once the dialog is on screen, as a user would, with a click.
    QString shownQuestion, shownYes, shownNo;
    QTimer answer;
    answer.setInterval(20);
    connect(&answer, &QTimer::timeout, this, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<TitleSingleDialog*>(widget);
            if (!dialog || !dialog->isVisible())
                continue;
            answer.stop();
            shownQuestion = dialog->findChild<QLabel*>("label_title")->text();
            auto* yesButton = dialog->findChild<QPushButton*>("btnMenu_confirm");
            auto* noButton = dialog->findChild<QPushButton*>("btnMenu_cancel");
            shownYes = yesButton->text();
            shownNo = noButton->text();
            QTest::mouseClick(confirm ? yesButton : noButton, Qt::LeftButton);
        }
    });
    answer.start();

    askUpgradeQuestion(settings);

    QCOMPARE(shownQuestion, question);
    QCOMPARE(shownYes, yes);
    QCOMPARE(shownNo, no);
    QCOMPARE(gConfig.upgrade_reminder_declined, !confirm);
    QCOMPARE(iniValue(settings, "Tool/AlreadyUpgradeReminder").toString(), QStringLiteral("1"));
}

void TestStartUp::centredPosition_data()
{
    QTest::addColumn<QSize>("screen");
    QTest::addColumn<QSize>("window");
    QTest::addColumn<QPoint>("expected");

    QTest::newRow("normal window") << QSize(1280, 1024) << QSize(600, 220) << QPoint(340, 402);
    QTest::newRow("odd difference") << QSize(1281, 1023) << QSize(600, 220) << QPoint(340, 401);
    QTest::newRow("wider than the screen") << QSize(1000, 800) << QSize(1201, 440) << QPoint(-100, 180);
}

void TestStartUp::centredPosition()
{
    QFETCH(QSize, screen);
    QFETCH(QSize, window);
    QFETCH(QPoint, expected);
    QCOMPARE(::centredPosition(screen, window), expected);
}

QTEST_MAIN(TestStartUp)
#include "tst_StartUp.moc"
