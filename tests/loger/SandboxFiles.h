#pragma once

#include <QByteArray>
#include <QDir>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// The content of a file, empty when it cannot be read.
QByteArray readFile(const QString& path);

void writeFile(const QString& path, const QByteArray& content);

// "name:size" entries become files of that many bytes below root, with their
// folders; a size of -1 makes a folder of that name.
void createFiles(const QDir& root, const QStringList& entries);

// Every file below root, by path relative to root, with its content.
QMap<QString, QByteArray> snapshot(const QString& root);

// A fresh temporary folder that is the working folder while it lives, so that a
// name formed relative to the working folder would show up in it.
class WorkingFolderSandbox
{
public:
    WorkingFolderSandbox();
    ~WorkingFolderSandbox();

    bool isValid() const { return folder.isValid(); }
    QString path() const { return folder.path(); }

private:
    QTemporaryDir folder;
    QString previous;
};
