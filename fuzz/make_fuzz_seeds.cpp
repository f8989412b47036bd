// Writes starting inputs for the fuzz targets into two folders.
#include "BlockRecordWriter.h"

#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QFile>

namespace {

bool writeSeed(const QString& folder, const QString& name, const QByteArray& bytes)
{
    QFile file(QDir(folder).filePath(name));
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray blockFile(const QByteArray& plain)
{
    QByteArray source = plain;
    QBuffer in(&source);
    in.open(QIODevice::ReadOnly);
    QByteArray records;
    Nimbrel::BlockRecordWriter writer;
    Nimbrel::RecordPass pass;
    while (!in.atEnd() && writer.encodeRecords(in, pass))
        records.append(reinterpret_cast<const char*>(pass.bytes.get()), pass.length);
    return records;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 3)
        return 2;
    const QString readerSeeds = QString::fromLocal8Bit(argv[1]);
    const QString parserSeeds = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(readerSeeds);
    QDir().mkpath(parserSeeds);

    bool ok = true;
    for (int size : {1, 15, 16, 17, 100, 1024, 1025, 2500}) {
        QByteArray plain(size, '\0');
        for (int i = 0; i < size; ++i)
            plain[i] = static_cast<char>(i * 31 + 7);
        ok &= writeSeed(readerSeeds, QString("records-%1").arg(size), blockFile(plain));
    }
    ok &= writeSeed(parserSeeds, "valid", "host=oss.example.com\nbucket=b\naccessId=id\naccessSecret=secret");
    ok &= writeSeed(parserSeeds, "crlf", "host=h\r\nbucket=b\r\naccessId=i\r\naccessSecret=s\r\n");
    ok &= writeSeed(parserSeeds, "zero", QByteArray("host=h\nbucket=b\0\naccessId=i\naccessSecret=s", 42));
    return ok ? 0 : 1;
}
