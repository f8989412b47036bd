#include "ApplicationVersion.h"

#include <CoreFoundation/CoreFoundation.h>

#include <QCoreApplication>

namespace {

QString infoString(CFStringRef key)
{
    CFTypeRef value = CFBundleGetValueForInfoDictionaryKey(CFBundleGetMainBundle(), key);
    if (!value || CFGetTypeID(value) != CFStringGetTypeID())
        return QString();
    char buffer[256] = {};
    if (!CFStringGetCString(static_cast<CFStringRef>(value), buffer, sizeof(buffer), kCFStringEncodingUTF8))
        return QString();
    return QString::fromUtf8(buffer);
}

} // namespace

void applyBundleApplicationVersion(const QString& compiledVersion)
{
    QString version = infoString(CFSTR("CFBundleShortVersionString"));
    if (version.isEmpty())
        version = infoString(CFSTR("CFBundleVersion"));
    if (version.isEmpty())
        version = compiledVersion;
    QCoreApplication::setApplicationVersion(version);
}
