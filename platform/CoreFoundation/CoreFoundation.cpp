#include "CoreFoundation.h"

#include "PropertyList.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QVariantMap>

#include <cstring>
#include <memory>

namespace {

enum TypeId : CFTypeID { StringType = 7, OtherType = 1 };

} // namespace

// Every object starts with its type id, so CFGetTypeID can read it from any of them.
struct StandInCFObject
{
    CFTypeID typeId;
};

struct StandInCFString
{
    StandInCFObject header{StringType};
    QByteArray utf8;
};

struct StandInCFBundle
{
    QVariantMap info;
    QHash<QString, std::shared_ptr<void>> values;
    QMutex mutex;
};

CFStringRef CFStringMakeConstant(const char* text)
{
    static QMutex mutex;
    // Never destroyed, like the strings it holds: a constant may still be
    // asked for while the process's static objects are torn down.
    static auto* constants = new QHash<QByteArray, StandInCFString*>;
    const QMutexLocker lock(&mutex);
    const QByteArray key(text);
    StandInCFString*& string = (*constants)[key];
    if (!string)
        string = new StandInCFString{StandInCFObject{StringType}, key};
    return string;
}

CFBundleRef CFBundleGetMainBundle(void)
{
    static StandInCFBundle* bundle = [] {
        auto* made = new StandInCFBundle;
        const QString executable = QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
        const QString plist = QDir::cleanPath(QFileInfo(executable).absolutePath() + QStringLiteral("/../Info.plist"));
        PropertyList::readFile(plist, made->info);
        return made;
    }();
    return bundle;
}

CFTypeRef CFBundleGetValueForInfoDictionaryKey(CFBundleRef bundle, CFStringRef key)
{
    if (!bundle || !key)
        return nullptr;
    const QString name = QString::fromUtf8(key->utf8);
    const QMutexLocker lock(&bundle->mutex);
    if (!bundle->info.contains(name))
        return nullptr;
    std::shared_ptr<void>& value = bundle->values[name];
    if (!value) {
        const QVariant item = bundle->info.value(name);
        if (item.typeId() == QMetaType::QString)
            value = std::make_shared<StandInCFString>(
                StandInCFString{StandInCFObject{StringType}, item.toString().toUtf8()});
        else
            value = std::make_shared<StandInCFObject>(StandInCFObject{OtherType});
    }
    return value.get();
}

CFTypeID CFGetTypeID(CFTypeRef value)
{
    return value ? static_cast<const StandInCFObject*>(value)->typeId : 0;
}

CFTypeID CFStringGetTypeID(void)
{
    return StringType;
}

Boolean CFStringGetCString(CFStringRef string, char* buffer, CFIndex bufferSize, CFStringEncoding encoding)
{
    if (!string || !buffer || encoding != kCFStringEncodingUTF8)
        return false;
    if (string->utf8.size() + 1 > bufferSize)
        return false;
    std::memcpy(buffer, string->utf8.constData(), static_cast<size_t>(string->utf8.size()) + 1);
    return true;
}
