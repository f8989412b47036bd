#include "Locations.h"

#include "SystemRoot.h"

#include <QDir>
#include <QFileInfo>

namespace {

// The folder below base, when each part of relative is a folder of its own, not a link:
// what lies in the per-user folder may have been planted there.
bool isOwnFolderBelow(const QString& base, const QString& relative)
{
    QString path = base;
    for (const QString& part : relative.split(QLatin1Char('/'))) {
        path += QLatin1Char('/') + part;
        const QFileInfo info(path);
        if (info.isSymLink() || !info.isDir())
            return false;
    }
    return true;
}

} // namespace

QString getSystemFolder()
{
    return systemRootPath(QStringLiteral("/Applications"));
}

QString getAppSupportFolder()
{
    const QString folder = QDir::homePath() + QStringLiteral("/Library/Application Support/com.quilm.salvix");
    QDir dir(folder);
    if (!dir.exists())
        dir.mkpath(QStringLiteral("."));
    return folder;
}

QString getMainFolder()
{
    return QStringLiteral("%1/Salvix.app").arg(getSystemFolder());
}

QString getImageFolder()
{
    return QStringLiteral("%1/image").arg(getAppSupportFolder());
}

QString getMp4SourceFolder()
{
    const QString bundleImages = QStringLiteral("Salvix.app/Contents/Resources/image");
    if (isOwnFolderBelow(getUpgradeFolder(), bundleImages))
        return getUpgradeFolder() + QLatin1Char('/') + bundleImages;
    if (isOwnFolderBelow(getSystemFolder(), bundleImages))
        return getSystemFolder() + QLatin1Char('/') + bundleImages;
    return getImageFolder();
}

QString getUpgradeFolder()
{
    return QStringLiteral("%1/Upgrade").arg(getAppSupportFolder());
}

QString getMainInfoPList()
{
    return QStringLiteral("%1/Salvix.app/Contents/Info.plist").arg(getSystemFolder());
}

QString getMainToolPath()
{
    return QStringLiteral("%1/Salvix.app/Contents/MacOS/Salvix").arg(getSystemFolder());
}

QString getToUpgradeFilePath()
{
    return QStringLiteral("%1/Upgrade/Salvix Setup.zip").arg(getAppSupportFolder());
}

QString getConfigFilePath()
{
    return QStringLiteral("%1/release_version.ini").arg(getAppSupportFolder());
}

QString getSettingsFilePath()
{
    return QStringLiteral("%1/smart.ini").arg(getAppSupportFolder());
}

QString getLaunchLogPath()
{
    // Spelt so: the next start reads the previous run's log, and its rotated files, by this name.
    return QStringLiteral("%1/quilm_lanuch_log.txt").arg(getAppSupportFolder());
}

QString getMacInstallAppPath()
{
    return getSystemFolder() + QStringLiteral("/quilm.app");
}

QString getMacInstallExePath()
{
    return getSystemFolder() + QStringLiteral("/quilm.app/Contents/MacOS/Salvix");
}

QString getFallbackInstallAppPath()
{
    return getSystemFolder() + QStringLiteral("/Salvix.app");
}

QString getFallbackInstallExePath()
{
    return getSystemFolder() + QStringLiteral("/Salvix.app/Contents/MacOS/Salvix");
}

QString getLauncherAppPath()
{
    return getSystemFolder() + QStringLiteral("/Salvix Setup.app");
}

QString getLauncherExePath()
{
    return getSystemFolder() + QStringLiteral("/Salvix Setup.app/Contents/MacOS/Salvix Setup");
}
