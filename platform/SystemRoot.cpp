#include "SystemRoot.h"

#include <QDir>
#include <QFileInfo>

QString systemRootPath(const QString& fixedPath)
{
    const QString root = qEnvironmentVariable("SALVIX_ROOT");
    if (root.isEmpty())
        return fixedPath;
    QString prefix = QDir::fromNativeSeparators(root);
    while (prefix.size() > 1 && prefix.endsWith(QLatin1Char('/')))
        prefix.chop(1);
    return prefix + fixedPath;
}

QString systemProgramPath(const QString& fixedPath)
{
    const QFileInfo prefixed(systemRootPath(fixedPath));
    return prefixed.isFile() && prefixed.isExecutable() ? prefixed.filePath() : fixedPath;
}
