#include "UpgradeFlags.h"

#include "ArchiveExtraction.h"
#include "GlobalConfig.h"
#include "Locations.h"
#include "PlatformProbes.h"
#include "QuilmLog.h"
#include "Versions.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

static QuilmLogging::Logger& logger = QuilmLogging::Logger::instance();

namespace {

// Case (a): the running program is the archive itself.
bool acceptRunningArchive(QString& toUpgradePath)
{
    QString mainToolVersion;
    getOtherFileVersion(getMainInfoPList(), mainToolVersion);
    QString patchToolVersion = QCoreApplication::applicationVersion();
    QLOG_INFO() << "[main] run if (!toUpgradePath.isEmpty() && QFile::exists(toUpgradePath)) patchToolVersion:"
                << patchToolVersion << "mainToolVersion:" << mainToolVersion;
    return !patchToolVersion.isEmpty() && checkFileSHASumLegacy(toUpgradePath)
           && checkCompareFileNewVersion(mainToolVersion, patchToolVersion);
}

// Case (b): the archive holds a Salvix Setup bundle newer than both programs.
bool acceptDownloadedArchive(QString& toUpgradePath)
{
    extractZipToPath(toUpgradePath, getUpgradeFolder());
    QString upgradeFileVersion;
    getOtherFileVersion(getUpgradeFolder() + QStringLiteral("/Salvix Setup.app/Contents/Info.plist"),
                        upgradeFileVersion);
    QString mainToolVersion;
    getOtherFileVersion(getMainInfoPList(), mainToolVersion);
    QString patchToolVersion = QCoreApplication::applicationVersion();
    QLOG_INFO() << "[main] run if (!toUpgradePath.isEmpty() && QFile::exists(toUpgradePath)) check file versions, "
                   "upgradeFileVersion:"
                << upgradeFileVersion << "patchToolVersion:" << patchToolVersion
                << "mainToolVersion:" << mainToolVersion;
    return !upgradeFileVersion.isEmpty() && checkFileSHASumLegacy(toUpgradePath)
           && checkCompareFileNewVersion(mainToolVersion, upgradeFileVersion)
           && checkCompareFileNewVersion(patchToolVersion, upgradeFileVersion);
}

bool samePathIgnoringCase(const QString& a, const QString& b)
{
    return QString::compare(QDir::toNativeSeparators(a), QDir::toNativeSeparators(b), Qt::CaseInsensitive) == 0;
}

} // namespace

bool decideUpgradeFlags(QString& toUpgradePath, const QFileInfo& fileInfo1, const QString& mainToolPath, int argc,
                        char** argv)
{
    bool isToUpgradeTool = false;
    QLOG_INFO() << "[main] toUpgradePath:" << toUpgradePath
                << ", and isExist(toUpgradePath):" << QFile::exists(toUpgradePath);

    if (!toUpgradePath.isEmpty() && QFile::exists(toUpgradePath)) {
        const bool runningArchive = samePathIgnoringCase(fileInfo1.filePath(), toUpgradePath);
        const bool accepted =
            runningArchive ? acceptRunningArchive(toUpgradePath) : acceptDownloadedArchive(toUpgradePath);
        if (!accepted) {
            QFile::remove(toUpgradePath);
            toUpgradePath.clear();
            if (runningArchive)
                QLOG_INFO() << "[main] if (!toUpgradePath.isEmpty() && QFile::exists(toUpgradePath)) find invalid "
                               "upgrade file, and remove it";
            else
                QLOG_INFO() << "[main] if (!toUpgradePath.isEmpty() && QFile::exists(toUpgradePath)) invalid upgrade "
                               "file, and remove it";
        } else {
            gConfig.possible_patch_tool_to_upgrade = true;
            const QFileInfo fileInfo2(toUpgradePath);
            isToUpgradeTool = fileInfo1.absoluteFilePath() == fileInfo2.absoluteFilePath();
            const char* text =
                runningArchive
                    ? "[main] if (!toUpgradePath.isEmpty() && QFile::exists(toUpgradePath)) isToUpgradeTool regard as:"
                    : "[main] if (!toUpgradePath.isEmpty() && QFile::exists(toUpgradePath)) isToUpgradeTool set as:";
            QLOG_INFO() << text << isToUpgradeTool
                        << ", and fileInfo1.absoluteFilePath() = " << fileInfo1.absoluteFilePath()
                        << ", and fileInfo2.absoluteFilePath() = " << fileInfo2.absoluteFilePath();
        }
        QLOG_INFO() << "[main] if (!toUpgradePath.isEmpty() && QFile::exists(toUpgradePath)) end, and isToUpgradeTool:"
                    << isToUpgradeTool;
    }

    QLOG_INFO() << "[main] main function called, and gConfig.is_upgrade_tool:" << gConfig.is_upgrade_tool;

    if (toUpgradePath.isEmpty() || !QFile::exists(toUpgradePath) || isToUpgradeTool) {
        QString mainToolVersion;
        getOtherFileVersion(getMainInfoPList(), mainToolVersion);
        QList<QString> installedParts = mainToolVersion.split(QLatin1Char('.'), Qt::KeepEmptyParts);
        QList<QString> runningParts =
            QCoreApplication::applicationVersion().split(QLatin1Char('.'), Qt::KeepEmptyParts);

        if (!QFile::exists(QDir::toNativeSeparators(mainToolPath))) {
            QLOG_INFO() << "[main] gConfig.is_upgrade_tool set as false, and isToUpgradeTool:" << isToUpgradeTool;
        } else if (isToUpgradeTool && installedParts.size() == runningParts.size()
                   && checkCompareFileNewVersion(installedParts, runningParts)) {
            const bool differ = !samePathIgnoringCase(fileInfo1.absoluteFilePath(), mainToolPath);
            const bool forced =
                differ && argc >= 3 && QString::fromUtf8(argv[2]) == QLatin1String("force_upgrade_tool");
            if (!differ || forced) {
                gConfig.force_upgrade_tool = forced;
                QLOG_INFO() << "[main] gConfig.is_upgrade_tool set as true, and isToUpgradeTool:" << true;
                gConfig.is_upgrade_tool = true;
            } else {
                gConfig.to_upgrade_reminder = true;
            }
        }
    }
    return isToUpgradeTool;
}
