#include "QuilmLogDestFile.h"

#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <unistd.h>

namespace QuilmLogging {

const int SizeRotationStrategy::MaxBackupCount = 10;

static void reportFailure(const char* text, const QString& name)
{
    std::fprintf(stderr, "%s%s", text, name.toLocal8Bit().constData());
}

namespace {

// Where the numbered part of a log path sits. The "." and "_" are looked for
// in the file name only: a folder name holding either must never lead the
// rotation into another folder.
struct NameParts
{
    explicit NameParts(const QString& path)
    {
        const qsizetype nameStart = path.lastIndexOf(QLatin1Char('/')) + 1;
        dot = path.lastIndexOf(QLatin1Char('.'));
        if (dot < nameStart)
            dot = path.size();
        underscore = path.lastIndexOf(QLatin1Char('_'));
        if (underscore < nameStart)
            underscore = -1;
        ext = path.mid(dot);
    }

    qsizetype dot;
    qsizetype underscore;
    QString ext;
};

// Lines are scanned in chunks of a fixed width, a loop the compiler turns
// into vector instructions; both scans run on every line.
constexpr qsizetype ScanChunk = 8;

// True when every character of text is ASCII: one byte each in UTF-8 and in
// the local 8-bit encoding.
bool isAscii(QStringView text)
{
    const char16_t* characters = text.utf16();
    const qsizetype size = text.size();
    char16_t chunkBits[ScanChunk] = {};
    qsizetype i = 0;
    for (; i + ScanChunk <= size; i += ScanChunk) {
        for (qsizetype k = 0; k < ScanChunk; ++k)
            chunkBits[k] |= characters[i + k];
    }
    char16_t bits = 0;
    for (qsizetype k = 0; k < ScanChunk; ++k)
        bits |= chunkBits[k];
    for (; i < size; ++i)
        bits |= characters[i];
    return bits < 0x80;
}

// Copies an ASCII text to out as bytes; returns the end of what it wrote.
char* narrowAscii(QStringView text, char* out)
{
    const char16_t* characters = text.utf16();
    const qsizetype size = text.size();
    qsizetype i = 0;
    for (; i + ScanChunk <= size; i += ScanChunk) {
        // Narrowed into a buffer of its own, which the text cannot overlap.
        char bytes[ScanChunk];
        for (qsizetype k = 0; k < ScanChunk; ++k)
            bytes[k] = static_cast<char>(characters[i + k]);
        std::memcpy(out + i, bytes, ScanChunk);
    }
    for (; i < size; ++i)
        out[i] = static_cast<char>(characters[i]);
    return out + size;
}

// The length of text.toUtf8(), without making it. A surrogate without its
// partner becomes one "?" there.
qint64 utf8Length(QStringView text)
{
    const qsizetype size = text.size();
    if (isAscii(text))
        return size;
    qint64 length = 0;
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t c = text[i].unicode();
        if (c < 0x80) {
            length += 1;
        } else if (c < 0x800) {
            length += 2;
        } else if (QChar::isHighSurrogate(c) && i + 1 < size && QChar::isLowSurrogate(text[i + 1].unicode())) {
            length += 4;
            ++i;
        } else {
            length += QChar::isSurrogate(c) ? 1 : 3;
        }
    }
    return length;
}

// Writes a whole line with write(2) straight from its buffer: the file is
// unbuffered, as a flush after every line would leave it anyway, and going
// through QFile cost a third of the writer thread's work per line.
void writeLine(int fd, const char* data, qsizetype size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, static_cast<std::size_t>(size));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        data += written;
        size -= written;
    }
}

// The number after the last "_"; anything but plain decimal digits counts as 0.
int ringNumber(const QString& text)
{
    if (text.isEmpty())
        return 0;
    for (QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return 0;
    }
    bool inRange = false;
    const int number = text.toInt(&inRange);
    return inRange ? number : 0;
}

} // namespace

RotationStrategy::~RotationStrategy() = default;

void SizeRotationStrategy::setInitialInfo(const QFile& file)
{
    currentFileName = file.fileName();
    currentSizeInBytes = file.size();
}

void SizeRotationStrategy::includeMessageInCalculation(const QString& message)
{
    currentSizeInBytes += utf8Length(message);
}

bool SizeRotationStrategy::shouldRotate()
{
    return currentSizeInBytes > maximumSizeInBytes;
}

QString SizeRotationStrategy::rotate()
{
    if (backupCount == 0) {
        if (currentFileName.isEmpty() || !QFile::remove(currentFileName))
            reportFailure("QuilmLog: backup delete failed ", currentFileName);
        return QString();
    }

    // No file was ever opened: there is no name to derive one from.
    if (currentFileName.isEmpty())
        return QString();

    const QString& path = currentFileName;
    const NameParts parts(path);

    QString newName;
    if (parts.underscore < 0) {
        newName = path.left(parts.dot) + QLatin1String("_1") + parts.ext;
    } else {
        const qint64 next = qint64(ringNumber(path.mid(parts.underscore + 1, parts.dot - parts.underscore - 1))) + 1;
        if (next == backupCount)
            newName = path.left(parts.underscore) + parts.ext;
        else
            newName = path.left(parts.underscore) + QLatin1Char('_') + QString::number(next) + parts.ext;
    }

    if (QFile::exists(newName))
        QFile::remove(newName);
    return newName;
}

QString SizeRotationStrategy::findLatestFile(const QString& path)
{
    if (backupCount == 0)
        return path;

    const NameParts parts(path);
    const QString stem = path.left(parts.underscore >= 0 ? parts.underscore : parts.dot);

    for (int i = backupCount; i >= 1; --i) {
        const QString candidate = QStringLiteral("%1_%2%3").arg(stem, QString::number(i), parts.ext);
        const QFileInfo info(candidate);
        if (info.isFile() && info.size() < maximumSizeInBytes)
            return candidate;
    }
    return path;
}

void SizeRotationStrategy::setMaximumSizeInBytes(qint64 size)
{
    maximumSizeInBytes = qMax<qint64>(0, size);
}

void SizeRotationStrategy::setBackupCount(int backups)
{
    backupCount = qBound(0, backups, MaxBackupCount);
}

FileDestination::FileDestination(const QString& filePath, RotationStrategyPtr rotator)
    : rotationStrategy(rotator)
    , encoder(QStringConverter::System, QStringConverter::Flag::Stateless)
{
    file.setFileName(rotationStrategy->findLatestFile(filePath));
    if (file.open(openMode()))
        rotationStrategy->setInitialInfo(file);
    else
        reportFailure("QuilmLog: could not open log file ", filePath);
}

QIODevice::OpenMode FileDestination::openMode() const
{
    return QIODevice::WriteOnly | QIODevice::Text | QIODevice::Unbuffered | rotationStrategy->recommendedOpenModeFlag();
}

void FileDestination::write(const QString& message, Level)
{
    try {
        rotationStrategy->includeMessageInCalculation(message);
        if (rotationStrategy->shouldRotate()) {
            file.close();
            file.setFileName(rotationStrategy->rotate());
            if (file.fileName().isEmpty() || !file.open(openMode())) {
                reportFailure("QuilmLog: could not reopen log file ", file.fileName());
                return;
            }
            rotationStrategy->setInitialInfo(file);
        }

        if (!file.isOpen())
            return;
        // What toLocal8Bit() makes of the line, and its line feed, in the
        // buffer of the last line: one conversion, one write. An ASCII line,
        // the common one, is the same bytes in any local encoding.
        char* end;
        if (isAscii(message)) {
            encoded.resize(message.size() + 1);
            end = narrowAscii(message, encoded.data());
        } else {
            encoded.resize(encoder.requiredSpace(message.size()) + 1);
            end = encoder.appendToBuffer(encoded.data(), message);
        }
        *end++ = '\n';
        writeLine(file.handle(), encoded.constData(), end - encoded.constData());
    } catch (...) {
        // The line is dropped; the destination stays usable.
    }
}

bool FileDestination::isValid()
{
    return file.isOpen();
}

} // namespace QuilmLogging
