// Salvix Setup: prepares the run, refuses to run twice or beside a running Salvix, and
// shows the progress window whose worker installs and starts Salvix.

#include "ApplicationVersion.h"
#include "GlobalConfig.h"
#include "Locations.h"
#include "MainWindow.h"
#include "PlatformProbes.h"
#include "QuilmLog.h"
#include "QuilmLogDest.h"
#include "RunningProgram.h"
#include "Settings.h"
#include "StartUp.h"
#include "UpgradeFlags.h"
#include "UpgradeToolThread.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QFontDatabase>
#include <QScreen>
#include <QStyle>
#include <QStyleFactory>

static QuilmLogging::Logger& logger = QuilmLogging::Logger::instance();

namespace {

void destroyLoggerAfterWorkers(QApplication& app)
{
    QObject::connect(
        &app, &QCoreApplication::aboutToQuit, &app,
        [] {
            // The close button can end the loop while the worker still runs and logs; the
            // logger may only go once no other thread uses it.
            UpgradeToolThread::waitForRunningWorkers();
            QLOG_INFO() << "[main] run finished";
            QuilmLogging::Logger::destroyInstance();
        },
        Qt::DirectConnection);
}

// Records the previous launch source (from the launch log that is still there) and resets
// the upgrade question. Returns the settings file.
QString prepareSettings()
{
    const QString settingsFile = getSettingsFilePath();
    recordLaunchSource(settingsFile);

    gConfig.upgrade_reminder_declined = false;
    setIni(settingsFile, QStringLiteral("Tool/AlreadyUpgradeReminder"), QStringLiteral("0"));
    return settingsFile;
}

void openLaunchLog()
{
    QFile::remove(getLaunchLogPath());
    logger.addDestination(QuilmLogging::DestinationFactory::MakeFileDestination(
        getLaunchLogPath(), QuilmLogging::SizeBasedRotation,
        QuilmLogging::MaxSizeBytes(QuilmLogging::kDeliverableLogMaxSizeBytes),
        QuilmLogging::MaxOldLogCount(QuilmLogging::kDeliverableLogOldLogCount)));
    QLOG_INFO() << "[main] run from path:" << QCoreApplication::applicationFilePath();
}

// Brings the window of the program that runs already to the front and ends this run.
int giveWayTo(const QString& windowTitle, const char* logText, const QString& runningPath)
{
    activateWindowToFront(windowTitle, QStringLiteral("Qt5QWindowIcon"));
    QLOG_INFO() << logText << runningPath;
    // No event loop ran, so nothing else writes the queued lines to the launch log.
    QuilmLogging::Logger::destroyInstance();
    return 1;
}

void useApplicationFont()
{
    const int fontId =
        QFontDatabase::addApplicationFont(QStringLiteral(":/resources/fonts/HarmonyOS_Sans_SC_Regular.ttf"));
    const QStringList fontFamilies = QFontDatabase::applicationFontFamilies(fontId);
    if (!fontFamilies.isEmpty()) {
        QFont font = QApplication::font();
        font.setFamily(fontFamilies.first());
        QApplication::setFont(font);
    }
}

void applyThemeAndLanguage(const QString& settingsFile)
{
    ReadConfig();
    detectLanguage(settingsFile);
    gConfig.is_4k_screen = Check4KResolutionScreen() ? 1 : 0;
    applyStyleSheet();

    // "macos" exists only on macOS; elsewhere the toolkit's default style stays.
    if (QStyle* style = QStyleFactory::create(QStringLiteral("macos")))
        QApplication::setStyle(style);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    // Before anything can move the program's folders.
    RunningProgram::instance();
    // Qt takes the version from the bundle's property list on macOS only.
    applyBundleApplicationVersion(QStringLiteral(SALVIX_SETUP_VERSION));
    destroyLoggerAfterWorkers(app);

    const QString mainToolPath = getMainToolPath();
    QString toUpgradePath = QDir::toNativeSeparators(getToUpgradeFilePath()).trimmed();
    const QFileInfo fileInfo1(QCoreApplication::applicationFilePath());

    gConfig = GlobalConfig();
    const QString settingsFile = prepareSettings();
    openLaunchLog();

    if (checkQuilmTolvaneRepeatRunning(QCoreApplication::applicationFilePath()))
        return giveWayTo(QStringLiteral("Salvix Engine"), "[main] checkQuilmTolvaneRepeatRunning true from path:",
                         QCoreApplication::applicationFilePath());

    const bool isToUpgradeTool = decideUpgradeFlags(toUpgradePath, fileInfo1, mainToolPath, argc, argv);

    if (!gConfig.force_upgrade_tool && checkQuilmTolvaneRunning(getMainToolPath()))
        return giveWayTo(QStringLiteral("Salvix"),
                         "[main] checkQuilmTolvaneRepeatRunning main tool true from path:", getMainToolPath());

    QLOG_INFO() << "[main] init window, to_upgrade_reminder" << gConfig.to_upgrade_reminder
                << ", force_upgrade_tool:" << gConfig.force_upgrade_tool
                << ", is_upgrade_tool:" << gConfig.is_upgrade_tool
                << ", possible_patch_tool_to_upgrade:" << gConfig.possible_patch_tool_to_upgrade
                << ", isToUpgradeTool:" << isToUpgradeTool;

    useApplicationFont();
    applyThemeAndLanguage(settingsFile);

    QLOG_INFO() << "[main] show window, to_upgrade_reminder:" << gConfig.to_upgrade_reminder;

    if (gConfig.to_upgrade_reminder)
        askUpgradeQuestion(settingsFile);

    MainWindow window(nullptr);
    window.show();
    window.move(centredPosition(QGuiApplication::primaryScreen()->geometry().size(), window.size()));
    window.update();
    Check4KResolutionScreen();

    return app.exec() != 0 ? 1 : 0;
}
