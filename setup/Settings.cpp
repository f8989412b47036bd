#include "Settings.h"

#include "GlobalConfig.h"
#include "Locations.h"
#include "Themes.h"

#include <QFileInfo>
#include <QSettings>

void setIni(QString path, QString key, QString value)
{
    QSettings settings(path, QSettings::IniFormat);
    settings.setValue(key, value);
}

QString getIni(QString path, QString key, QString defaultValue)
{
    if (!QFileInfo::exists(path))
        return defaultValue;
    QSettings settings(path, QSettings::IniFormat);
    return settings.value(key, defaultValue).toString();
}

void ReadConfig()
{
    const QString path = getSettingsFilePath();

    const int theme = getIni(path, QStringLiteral("Tool/ThemeType"), QStringLiteral("1")).toInt();
    gConfig.theme_type = themeFromSettings(theme);

    const int language = getIni(path, QStringLiteral("Tool/LanguageType"), QStringLiteral("0")).toInt();
    gConfig.language_type = (language >= 0 && language <= 2) ? language : 0;
}
