#include "QuilmLogDestFile.h"

#include <QFileInfo>

#include <cstdio>

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

// The length of text.toUtf8(), without making it: the count runs on every
// line. A surrogate without its partner becomes one "?" there.
qint64 utf8Length(QStringView text)
{
    qint64 length = 0;
    const qsizetype size = text.size();
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
    return QIODevice::WriteOnly | QIODevice::Text | rotationStrategy->recommendedOpenModeFlag();
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
        // buffer of the last line: one conversion, one write.
        encoded.resize(encoder.requiredSpace(message.size()) + 1);
        char* end = encoder.appendToBuffer(encoded.data(), message);
        *end++ = '\n';
        file.write(encoded.constData(), end - encoded.constData());
        file.flush();
    } catch (...) {
        // The line is dropped; the destination stays usable.
    }
}

bool FileDestination::isValid()
{
    return file.isOpen();
}

} // namespace QuilmLogging
