#include "PropertyList.h"

#include <QFile>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace {

// The reader recurses once per nested dictionary or array; deeper lists are refused
// before they can exhaust the stack. Real property lists nest a few levels.
constexpr int kMaxNesting = 64;

QVariant readValue(QXmlStreamReader& xml, int depth);

QVariantMap readDict(QXmlStreamReader& xml, int depth)
{
    QVariantMap dict;
    QString key;
    while (!xml.hasError() && xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("key"))
            key = xml.readElementText();
        else
            dict.insert(key, readValue(xml, depth + 1));
    }
    return dict;
}

QVariant readValue(QXmlStreamReader& xml, int depth)
{
    const auto name = xml.name();
    const bool container = name == QLatin1String("dict") || name == QLatin1String("array");
    if (container && depth > kMaxNesting) {
        xml.raiseError(QStringLiteral("property list nested too deeply"));
        return QVariant();
    }
    if (name == QLatin1String("dict"))
        return readDict(xml, depth);
    if (name == QLatin1String("array")) {
        QVariantList list;
        while (!xml.hasError() && xml.readNextStartElement())
            list.append(readValue(xml, depth + 1));
        return list;
    }
    if (name == QLatin1String("true") || name == QLatin1String("false")) {
        const bool value = name == QLatin1String("true");
        xml.skipCurrentElement();
        return value;
    }
    const QString text = xml.readElementText();
    if (name == QLatin1String("integer"))
        return text.toLongLong();
    if (name == QLatin1String("real"))
        return text.toDouble();
    if (name == QLatin1String("data"))
        return QByteArray::fromBase64(text.toLatin1());
    return text; // string, date
}

bool readDevice(QIODevice& device, QVariantMap& dictionary)
{
    QXmlStreamReader xml(&device);
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("plist"))
        return false;
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("dict"))
        return false;
    dictionary = readDict(xml, 1);
    return !xml.hasError();
}

void flatten(const QVariantMap& dict, const QString& prefix, QSettings::SettingsMap& map)
{
    for (auto it = dict.cbegin(); it != dict.cend(); ++it) {
        const QString key = prefix + it.key();
        if (it.value().typeId() == QMetaType::QVariantMap)
            flatten(it.value().toMap(), key + QLatin1Char('/'), map);
        else
            map.insert(key, it.value());
    }
}

void writeValue(QXmlStreamWriter& xml, const QVariant& value);

void writeDict(QXmlStreamWriter& xml, const QVariantMap& dict)
{
    xml.writeStartElement(QStringLiteral("dict"));
    for (auto it = dict.cbegin(); it != dict.cend(); ++it) {
        xml.writeTextElement(QStringLiteral("key"), it.key());
        writeValue(xml, it.value());
    }
    xml.writeEndElement();
}

void writeValue(QXmlStreamWriter& xml, const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QVariantMap: writeDict(xml, value.toMap()); break;
    case QMetaType::QVariantList:
        xml.writeStartElement(QStringLiteral("array"));
        for (const QVariant& item : value.toList())
            writeValue(xml, item);
        xml.writeEndElement();
        break;
    case QMetaType::Bool:
        xml.writeEmptyElement(value.toBool() ? QStringLiteral("true") : QStringLiteral("false"));
        break;
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong: xml.writeTextElement(QStringLiteral("integer"), value.toString()); break;
    case QMetaType::Double: xml.writeTextElement(QStringLiteral("real"), value.toString()); break;
    case QMetaType::QByteArray:
        xml.writeTextElement(QStringLiteral("data"), QString::fromLatin1(value.toByteArray().toBase64()));
        break;
    default: xml.writeTextElement(QStringLiteral("string"), value.toString()); break;
    }
}

bool readSettings(QIODevice& device, QSettings::SettingsMap& map)
{
    QVariantMap dict;
    if (!readDevice(device, dict))
        return false;
    flatten(dict, QString(), map);
    return true;
}

void insertPath(QVariantMap& dict, const QStringList& parts, int index, const QVariant& value)
{
    if (index + 1 == parts.size()) {
        dict.insert(parts.at(index), value);
        return;
    }
    QVariantMap inner = dict.value(parts.at(index)).toMap();
    insertPath(inner, parts, index + 1, value);
    dict.insert(parts.at(index), inner);
}

bool writeSettings(QIODevice& device, const QSettings::SettingsMap& map)
{
    QVariantMap root;
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        insertPath(root, it.key().split(QLatin1Char('/')), 0, it.value());

    QXmlStreamWriter xml(&device);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeDTD(QStringLiteral("<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                                "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">"));
    xml.writeStartElement(QStringLiteral("plist"));
    xml.writeAttribute(QStringLiteral("version"), QStringLiteral("1.0"));
    writeDict(xml, root);
    xml.writeEndElement();
    xml.writeEndDocument();
    return !xml.hasError();
}

} // namespace

namespace PropertyList {

bool readFile(const QString& path, QVariantMap& dictionary)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return readDevice(file, dictionary);
}

QSettings::Format settingsFormat()
{
    static const QSettings::Format format =
        QSettings::registerFormat(QStringLiteral("plist"), readSettings, writeSettings);
    return format;
}

} // namespace PropertyList
