#include "SandboxFiles.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTest>

QByteArray readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

void writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

void createFiles(const QDir& root, const QStringList& entries)
{
    for (const QString& entry : entries) {
        const QString name = entry.section(QLatin1Char(':'), 0, 0);
        const int size = entry.section(QLatin1Char(':'), 1, 1).toInt();
        if (size < 0) {
            QVERIFY(root.mkpath(name));
            continue;
        }
        QVERIFY(root.mkpath(QFileInfo(root.filePath(name)).path()));
        writeFile(root.filePath(name), QByteArray(size, 'o'));
    }
}

QMap<QString, QByteArray> snapshot(const QString& root)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(QDir(root).relativeFilePath(path), readFile(path));
    }
    return files;
}

WorkingFolderSandbox::WorkingFolderSandbox()
    : previous(QDir::currentPath())
{
    if (folder.isValid())
        QDir::setCurrent(folder.path());
}

WorkingFolderSandbox::~WorkingFolderSandbox()
{
    QDir::setCurrent(previous);
}
