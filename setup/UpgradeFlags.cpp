#include "UpgradeFlags.h"

#include "ArchiveExtraction.h"
#include "GlobalConfig.h"
#include "Locations.h"
#include "PlatformProbes.h"
#include "QuilmLog.h"
#include "RegularFile.h"
#include "UpgradeStaging.h"
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

// The archive and its check file, the two entries of the upgrade folder that Salvix
// leaves there; the rest of the folder is what start-up unpacked.
QStringList downloadedFiles(const QString& toUpgradePath)
{
    return {QFileInfo(toUpgradePath).fileName(), QFileInfo(checkFilePathFor(toUpgradePath)).fileName()};
}

// Case (b): the archive holds a Salvix Setup bundle newer than both programs. It is
// unpacked into a private folder of its own and judged there, so that neither what
// stood in the upgrade folder before nor a rejected archive's content is ever taken
// for it; only an accepted archive's content replaces the folder's.
bool acceptDownloadedArchive(const QString& toUpgradePath)
{
    UpgradeStaging staging;
    if (!staging.isValid()) {
        QLOG_ERROR() << "[main] cannot make a private folder to unpack the upgrade file in:" << staging.path();
    }
    // A pipe or a device at the archive's name is no archive, and would block the reader.
    const bool unpacked =
        staging.isValid() && isRegularFile(toUpgradePath) && extractZipToPath(toUpgradePath, staging.path());
    QString upgradeFileVersion;
    if (unpacked)
        getOtherFileVersion(staging.path() + QStringLiteral("/Salvix Setup.app/Contents/Info.plist"),
                            upgradeFileVersion);
    QString mainToolVersion;
    getOtherFileVersion(getMainInfoPList(), mainToolVersion);
    QString patchToolVersion = QCoreApplication::applicationVersion();
    QLOG_INFO() << "[main] run if (!toUpgradePath.isEmpty() && QFile::exists(toUpgradePath)) check file versions, "
                   "upgradeFileVersion:"
                << upgradeFileVersion << "patchToolVersion:" << patchToolVersion
                << "mainToolVersion:" << mainToolVersion;
    const bool accepted = !upgradeFileVersion.isEmpty() && checkFileSHASumLegacy(toUpgradePath)
                          && checkCompareFileNewVersion(mainToolVersion, upgradeFileVersion)
                          && checkCompareFileNewVersion(patchToolVersion, upgradeFileVersion);

    const QStringList downloaded = downloadedFiles(toUpgradePath);
    if (!removeEntriesExcept(getUpgradeFolder(), downloaded)) {
        QLOG_ERROR() << "[main] cannot clear the upgrade folder of earlier content:" << getUpgradeFolder();
    }
    if (!accepted) {
        QLOG_INFO() << "[main] invalid upgrade file, its unpacked content is removed:" << staging.path();
    } else if (!staging.moveContentInto(getUpgradeFolder(), downloaded)) {
        QLOG_ERROR() << "[main] cannot move the upgrade file's content into" << getUpgradeFolder();
    }
    return accepted;
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
