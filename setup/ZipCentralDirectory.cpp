#include "ZipCentralDirectory.h"

#include <QtEndian>

namespace {

constexpr quint32 endRecordSignature = 0x06054b50;
constexpr quint32 directoryHeaderSignature = 0x02014b50;
constexpr int endRecordSize = 22;
constexpr int directoryHeaderSize = 46;
constexpr int maxCommentSize = 0xffff;
constexpr quint16 utf8NamesFlag = 0x0800;

quint16 read16(const QByteArray& bytes, qsizetype at)
{
    return qFromLittleEndian<quint16>(bytes.constData() + at);
}

quint32 read32(const QByteArray& bytes, qsizetype at)
{
    return qFromLittleEndian<quint32>(bytes.constData() + at);
}

} // namespace

std::optional<QStringList> storedZipEntryNames(QIODevice& archive)
{
    // The end record is followed only by the archive comment: search the tail backwards,
    // as the zip reader does, so that both find the same directory.
    const qint64 tailSize = qMin<qint64>(archive.size(), endRecordSize + maxCommentSize);
    if (tailSize < endRecordSize || !archive.seek(archive.size() - tailSize))
        return std::nullopt;
    const QByteArray tail = archive.read(tailSize);
    if (tail.size() != tailSize)
        return std::nullopt;
    qsizetype end = tail.size() - endRecordSize;
    while (end >= 0 && read32(tail, end) != endRecordSignature)
        --end;
    if (end < 0)
        return std::nullopt;

    const int count = read16(tail, end + 10);
    if (!archive.seek(read32(tail, end + 16)))
        return std::nullopt;
    QStringList names;
    for (int i = 0; i < count; ++i) {
        const QByteArray header = archive.read(directoryHeaderSize);
        if (header.size() != directoryHeaderSize || read32(header, 0) != directoryHeaderSignature)
            return std::nullopt;
        const int nameSize = read16(header, 28);
        const qint64 skipped = read16(header, 30) + read16(header, 32); // extra field and comment
        const QByteArray name = archive.read(nameSize);
        if (name.size() != nameSize || archive.skip(skipped) != skipped)
            return std::nullopt;
        names.append(read16(header, 8) & utf8NamesFlag ? QString::fromUtf8(name) : QString::fromLocal8Bit(name));
    }
    return names;
}
