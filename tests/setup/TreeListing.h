#pragma once

#include <QDir>
#include <QDirIterator>
#include <QStringList>

// Everything below root, as sorted relative paths (links not followed).
inline QStringList treeOf(const QString& root)
{
    QStringList paths;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        paths.append(QDir(root).relativeFilePath(it.next()));
    paths.sort();
    return paths;
}
