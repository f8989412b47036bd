#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGui/private/qzipwriter_p.h>

// Hand-made archives: entries are written with their names exactly as given, so
// fixtures can hold names that no well-behaved archiver would write.
struct ZipEntry
{
    enum Kind { Dir, File, Link };
    Kind kind;
    QString name;
    QByteArray data; // file content, or link target
};

inline bool writeZip(const QString& path, const QList<ZipEntry>& entries)
{
    QZipWriter writer(path);
    writer.setCompressionPolicy(QZipWriter::AutoCompress);
    for (const ZipEntry& entry : entries) {
        switch (entry.kind) {
        case ZipEntry::Dir:
            writer.addDirectory(entry.name);
            break;
        case ZipEntry::File:
            writer.addFile(entry.name, entry.data);
            break;
        case ZipEntry::Link:
            writer.addSymLink(entry.name, QString::fromUtf8(entry.data));
            break;
        }
    }
    writer.close();
    return writer.status() == QZipWriter::NoError;
}
