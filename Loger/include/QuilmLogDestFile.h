#pragma once

#include "QuilmLogDest.h"

#include <QByteArray>
#include <QFile>
#include <QSharedPointer>
#include <QString>
#include <QStringEncoder>

namespace QuilmLogging {

class RotationStrategy
{
public:
    virtual ~RotationStrategy();

    virtual void setInitialInfo(const QFile& file) = 0;
    virtual void includeMessageInCalculation(const QString& message) = 0;
    virtual bool shouldRotate() = 0;
    virtual QString rotate() = 0;
    virtual QString findLatestFile(const QString& path) = 0;
    virtual QIODevice::OpenMode recommendedOpenModeFlag() = 0;
};

// Never rotates; the file is emptied when it is opened.
class NullRotationStrategy : public RotationStrategy
{
public:
    void setInitialInfo(const QFile&) override {}
    void includeMessageInCalculation(const QString&) override {}
    bool shouldRotate() override { return false; }
    QString rotate() override { return QString(); }
    QString findLatestFile(const QString& path) override { return path; }
    QIODevice::OpenMode recommendedOpenModeFlag() override { return QIODevice::Truncate; }
};

// Continues in another name of a small ring once the file grows past a size.
class SizeRotationStrategy : public RotationStrategy
{
public:
    // Ten names at most, whatever a caller asks for; callers that ask for more get ten.
    static const int MaxBackupCount;

    void setInitialInfo(const QFile& file) override;
    void includeMessageInCalculation(const QString& message) override;
    bool shouldRotate() override;
    QString rotate() override;
    QString findLatestFile(const QString& path) override;
    QIODevice::OpenMode recommendedOpenModeFlag() override { return QIODevice::Append; }

    void setMaximumSizeInBytes(qint64 size);
    void setBackupCount(int backups);

private:
    QString currentFileName;
    qint64 currentSizeInBytes = 0;
    qint64 maximumSizeInBytes = 0;
    int backupCount = 0;
};

typedef QSharedPointer<RotationStrategy> RotationStrategyPtr;

class FileDestination : public Destination
{
public:
    FileDestination(const QString& filePath, RotationStrategyPtr rotator);

    void write(const QString& message, Level level) override;
    bool isValid() override;

private:
    QIODevice::OpenMode openMode() const;

    QFile file;
    RotationStrategyPtr rotationStrategy;
    QStringEncoder encoder;
    QByteArray encoded;
};

} // namespace QuilmLogging
