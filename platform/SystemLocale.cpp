#include "SystemLocale.h"

#include <QLocale>

QStringList systemUiLanguages()
{
    QStringList languages;
    for (const QString& tag : QLocale::system().uiLanguages()) {
        QString full = tag;
        const QStringList parts = tag.split(QLatin1Char('-'));
        const QLocale locale(tag);
        if (locale.language() == QLocale::Chinese && (parts.size() < 2 || parts.at(1).size() != 4)) {
            const QString script = QLocale::scriptToCode(locale.script());
            full = parts.size() > 1 ? parts.at(0) + QLatin1Char('-') + script + QLatin1Char('-')
                                          + parts.mid(1).join(QLatin1Char('-'))
                                    : parts.at(0) + QLatin1Char('-') + script;
        }
        if (!languages.contains(full))
            languages.append(full);
    }
    return languages;
}
