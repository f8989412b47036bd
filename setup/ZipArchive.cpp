#include "ZipArchive.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

ZipArchive::ZipArchive(const QString& path)
{
    m_status = open(path);
}

ZipArchive::~ZipArchive() = default;

ZipArchive::Status ZipArchive::open(const QString& path)
{
    if (path.startsWith(QStringLiteral(":/"))) {
        m_file.setFileName(path);
        if (!m_file.open(QIODevice::ReadOnly))
            return Missing;
    } else {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return errno == ENOENT || errno == ENOTDIR ? Missing : Unreadable;
        struct stat status;
        if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
            ::close(fd);
            return NotRegularFile;
        }
        if (!m_file.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
            ::close(fd);
            return Unreadable;
        }
    }

    m_directory = ZipCentralDirectory::read(m_file);
    if (m_directory.status == ZipCentralDirectory::NotAnArchive)
        return NotAnArchive;
    if (m_directory.status != ZipCentralDirectory::Read)
        return Unreadable;
    for (const ZipDirectoryEntry& stored : std::as_const(m_directory.entries)) {
        ArchiveEntry entry{stored, {}};
        const QByteArrayList parts = stored.name.split('/');
        for (const QByteArray& part : parts) {
            if (!part.isEmpty() && part != ".")
                entry.parts.append(part);
        }
        m_entries.append(entry);
    }
    m_reader = std::make_unique<ZipEntryReader>(m_file, m_directory);
    return Opened;
}

ZipEntryReader::Result ZipArchive::read(const ArchiveEntry& entry, const ZipEntryReader::Sink& sink)
{
    if (!m_reader)
        return ZipEntryReader::Unreadable;
    return m_reader->read(entry.stored, sink);
}
