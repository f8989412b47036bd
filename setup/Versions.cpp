#include "Versions.h"

#include "PropertyList.h"

#include <CoreFoundation/CoreFoundation.h>

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QSettings>

namespace {

void readPlistVersion(const QString& path, QString& version)
{
    QSettings plist(path, PropertyList::settingsFormat());
    const QString shortVersion = plist.value(QStringLiteral("CFBundleShortVersionString")).toString();
    if (!shortVersion.isEmpty()) {
        version = shortVersion;
        return;
    }
    const QString bundleVersion = plist.value(QStringLiteral("CFBundleVersion")).toString();
    if (!bundleVersion.isEmpty())
        version = bundleVersion;
}

bool mainBundleString(CFStringRef key, QString& version)
{
    CFBundleRef bundle = CFBundleGetMainBundle();
    if (!bundle)
        return false;
    CFTypeRef value = CFBundleGetValueForInfoDictionaryKey(bundle, key);
    if (!value || CFGetTypeID(value) != CFStringGetTypeID())
        return false;
    char buffer[64] = {};
    if (!CFStringGetCString(static_cast<CFStringRef>(value), buffer, sizeof(buffer), kCFStringEncodingUTF8))
        return false;
    version = QString::fromUtf8(buffer);
    return true;
}

} // namespace

void getOtherFileVersion(const QString& plistPath, QString& version)
{
    version.clear();
    if (plistPath.isEmpty())
        return;
    const QString path = QDir::cleanPath(plistPath);
    if (!QFile::exists(path))
        return;
    readPlistVersion(path, version);
}

void getCurFileVersion(QString& version)
{
    version.clear();
    if (mainBundleString(CFSTR("CFBundleShortVersionString"), version))
        return;
    if (mainBundleString(CFSTR("CFBundleVersion"), version))
        return;
    const QString path = QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../Info.plist"));
    if (QFile::exists(path))
        readPlistVersion(path, version);
    else
        qWarning() << "Info.plist not found at:" << path;
}

bool checkCompareFileNewVersion(QString& first, QString& second)
{
    QList<QString> firstParts = first.split(QLatin1Char('.'), Qt::KeepEmptyParts);
    QList<QString> secondParts = second.split(QLatin1Char('.'), Qt::KeepEmptyParts);
    return checkCompareFileNewVersion(firstParts, secondParts);
}

bool checkCompareFileNewVersion(QList<QString>& first, QList<QString>& second)
{
    if (first.size() != second.size())
        return first.isEmpty() && !second.isEmpty();
    for (int i = 0; i < first.size(); ++i) {
        const int a = first.at(i).toInt();
        const int b = second.at(i).toInt();
        if (b > a)
            return true;
        if (b < a)
            return false;
    }
    return false;
}
