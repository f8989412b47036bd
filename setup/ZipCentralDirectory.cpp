#include "ZipCentralDirectory.h"

#include <QString>
#include <QtEndian>

#include <sys/stat.h>

namespace {

constexpr quint32 endRecordSignature = 0x06054b50;
constexpr quint32 directoryHeaderSignature = 0x02014b50;
constexpr int endRecordSize = 22;
constexpr int directoryHeaderSize = 46;
constexpr int maxCommentSize = 0xffff;
constexpr quint16 encryptedFlag = 0x0001;
constexpr quint16 strongEncryptionFlag = 0x0040;
constexpr quint16 utf8NamesFlag = 0x0800;
constexpr quint16 methodStored = 0;
constexpr quint16 methodDeflated = 8;
constexpr quint32 zip64Marker = 0xffffffff;
constexpr int unixHost = 3;
constexpr int macOsHost = 19;

quint16 read16(const char* at)
{
    return qFromLittleEndian<quint16>(at);
}

quint32 read32(const char* at)
{
    return qFromLittleEndian<quint32>(at);
}

// The end record that closes the file: it is followed by its comment and nothing else,
// so an archive embedded in a larger file (a program with compiled-in resources) is not
// taken for one. -1 when there is none.
qsizetype findEndRecord(const QByteArray& tail)
{
    for (qsizetype at = tail.size() - endRecordSize; at >= 0; --at) {
        const char* record = tail.constData() + at;
        if (read32(record) == endRecordSignature && at + endRecordSize + read16(record + 20) == tail.size())
            return at;
    }
    return -1;
}

bool readAt(QIODevice& device, qint64 offset, char* into, qint64 size)
{
    return device.seek(offset) && device.read(into, size) == size;
}

} // namespace

bool ZipDirectoryEntry::isDir() const
{
    return name.endsWith('/') || (!isSymLink() && S_ISDIR(unixMode));
}

bool ZipDirectoryEntry::isSymLink() const
{
    return !name.endsWith('/') && S_ISLNK(unixMode);
}

quint32 ZipDirectoryEntry::permissions() const
{
    const quint32 bits = unixMode & 0777;
    if (bits != 0)
        return bits;
    return isDir() ? 0755 : 0644;
}

QString ZipDirectoryEntry::displayName() const
{
    return utf8Name ? QString::fromUtf8(name) : QString::fromLocal8Bit(name);
}

ZipCentralDirectory ZipCentralDirectory::read(QIODevice& archive)
{
    ZipCentralDirectory directory;
    const qint64 archiveSize = archive.size();
    const qint64 tailSize = qMin<qint64>(archiveSize, endRecordSize + maxCommentSize);
    if (tailSize < endRecordSize)
        return directory;
    QByteArray tail(tailSize, Qt::Uninitialized);
    if (!readAt(archive, archiveSize - tailSize, tail.data(), tailSize))
        return directory;
    const qsizetype end = findEndRecord(tail);
    if (end < 0)
        return directory;

    directory.status = Unreadable;
    const char* record = tail.constData() + end;
    const qint64 endOffset = archiveSize - tailSize + end;
    const quint16 count = read16(record + 10);
    const quint32 size = read32(record + 12);
    const quint32 offset = read32(record + 16);
    // One disk only, and no zip64 records.
    if (read16(record + 4) != 0 || read16(record + 6) != 0 || read16(record + 8) != count || count == 0xffff
        || size == zip64Marker || offset == zip64Marker || qint64(offset) + size > endOffset)
        return directory;

    QByteArray bytes(size, Qt::Uninitialized);
    if (!readAt(archive, offset, bytes.data(), size))
        return directory;
    const char* const begin = bytes.constData();
    qsizetype at = 0;
    for (int i = 0; i < count; ++i) {
        if (bytes.size() - at < directoryHeaderSize || read32(begin + at) != directoryHeaderSignature)
            return directory;
        const char* header = begin + at;
        const quint16 flags = read16(header + 8);
        ZipDirectoryEntry entry;
        entry.utf8Name = flags & utf8NamesFlag;
        entry.method = read16(header + 10);
        entry.crc32 = read32(header + 16);
        entry.compressedSize = read32(header + 20);
        entry.size = read32(header + 24);
        const quint16 nameSize = read16(header + 28);
        const qsizetype recordSize =
            qsizetype(directoryHeaderSize) + nameSize + read16(header + 30) + read16(header + 32);
        const int host = read16(header + 4) >> 8;
        if (host == unixHost || host == macOsHost)
            entry.unixMode = read32(header + 38) >> 16;
        entry.localHeaderOffset = read32(header + 42);
        if (bytes.size() - at < recordSize || nameSize == 0)
            return directory;
        entry.name = QByteArray(header + directoryHeaderSize, nameSize);

        const bool encrypted = flags & (encryptedFlag | strongEncryptionFlag);
        const bool knownMethod =
            entry.method == methodDeflated || (entry.method == methodStored && entry.compressedSize == entry.size);
        if (encrypted || !knownMethod || entry.compressedSize == zip64Marker || entry.size == zip64Marker
            || entry.localHeaderOffset >= offset || entry.name.contains('\0'))
            return directory;
        directory.entries.append(entry);
        at += recordSize;
    }
    if (at != bytes.size())
        return directory;
    directory.offset = offset;
    directory.status = Read;
    return directory;
}
