#include "UpgradeFileCopy.h"

#include "Locations.h"
#include "QuilmLog.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>

static QuilmLogging::Logger& logger = QuilmLogging::Logger::instance();

void copyToUpgradeFileToPatchTool(QString& target, QString& source)
{
    QLOG_INFO() << "autoUpgradeSoftware try to copy patch tool";
    if (!target.isEmpty()) {
        QLOG_INFO() << "autoUpgradeSoftware try to copy patch tool to" << target << "from" << source;

        const bool replaceable =
            target.compare(QDir::toNativeSeparators(source), Qt::CaseInsensitive) != 0
            && target.compare(QDir::toNativeSeparators(getMainToolPath()), Qt::CaseInsensitive) != 0
            && QFile::exists(target);
        const QString backup = source + QStringLiteral("_bak");

        // QFile::copy never overwrites, so a stale backup leaves the target untouched.
        if (replaceable && QFile::copy(target, backup)) {
            QFile::remove(target);
            if (QFile::copy(source, target)) {
                // Spelt so: readers of the launch log look for this line.
                QLOG_INFO() << "autoUpgradeSoftware copy to patch tool succefully!";
            } else {
                QLOG_ERROR() << "autoUpgradeSoftware copy to patch tool error:"
                             << QString::fromLocal8Bit(std::strerror(errno));
                QFile::copy(backup, target);
            }
            QFile::remove(backup);
        }
    }
    QLOG_INFO() << "autoUpgradeSoftware try to copy patch tool end";
}
