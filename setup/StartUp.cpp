#include "StartUp.h"

#include "GlobalConfig.h"
#include "Locations.h"
#include "PlatformProbes.h"
#include "Settings.h"
#include "Themes.h"
#include "TitleSingleDialog.h"

#include <QApplication>
#include <QFile>
#include <QStringList>
#include <QTextStream>

void recordLaunchSource(const QString& settingsFile)
{
    const QString launchToolPath = getLaunchToolPath();
    if (!launchToolPath.isEmpty() && QString::compare(launchToolPath, getMainToolPath(), Qt::CaseSensitive) != 0
        && QString::compare(launchToolPath, getToUpgradeFilePath(), Qt::CaseSensitive) != 0)
        setIni(settingsFile, QStringLiteral("Tool/LaunchSourceName"), launchToolPath);
}

void detectLanguage(const QString& settingsFile)
{
    if (getIni(settingsFile, QStringLiteral("Tool/Authorize"), QStringLiteral("0")) == QLatin1String("1"))
        return;

    const QString tag = getPrimaryLanguage();
    int language = -1;
    if (!tag.startsWith(QLatin1String("zh"), Qt::CaseInsensitive))
        language = 2;
    else if (tag.startsWith(QLatin1String("zh-Hans"), Qt::CaseInsensitive))
        language = 0;
    else if (tag.startsWith(QLatin1String("zh-Hant"), Qt::CaseInsensitive))
        language = 1;
    // Other Chinese tags (zh-HK) keep the stored language.
    if (language < 0)
        return;
    gConfig.language_type = language;
    setIni(settingsFile, QStringLiteral("Tool/LanguageType"), QString::number(language));
}

QString styleSheetResource(int themeType, int is4kScreen)
{
    const QString layout = is4kScreen == 0 ? QString() : QStringLiteral("4K");
    return QStringLiteral(":/resources/qss/%1Style%2.qss").arg(sheetTheme(themeType).sheetName, layout);
}

void applyStyleSheet()
{
    QFile file(styleSheetResource(gConfig.theme_type, gConfig.is_4k_screen));
    if (!file.open(QIODevice::ReadOnly))
        return;
    QTextStream stream(&file);
    QStringList words;
    while (!stream.atEnd()) {
        QString word;
        stream >> word;
        words << word;
    }
    qApp->setStyleSheet(words.join(QLatin1Char('\n')));
    file.close();
}

void askUpgradeQuestion(const QString& settingsFile)
{
    setIni(settingsFile, QStringLiteral("Tool/AlreadyUpgradeReminder"), QStringLiteral("1"));

    QString question;
    QString confirm;
    QString cancel;
    if (gConfig.language_type == 0) {
        question = QStringLiteral("新版本安装包已下载，是否立即升级工具？");
        confirm = QStringLiteral("是");
        cancel = QStringLiteral("否");
    } else if (gConfig.language_type == 2) {
        question = QStringLiteral("The new version has been downloaded. Upgrade now?");
        confirm = QStringLiteral("Yes");
        cancel = QStringLiteral("No");
    } else {
        question = QStringLiteral("新版本安裝包已下載，是否立即更新軟體？");
        confirm = QStringLiteral("是");
        cancel = QStringLiteral("否");
    }

    TitleSingleDialog dialog(nullptr);
    if (dialog.doModalByTopLevel(question, confirm, cancel, true) != 1)
        gConfig.upgrade_reminder_declined = true;
}

QPoint centredPosition(const QSize& screen, const QSize& window)
{
    return QPoint((screen.width() - window.width()) / 2, (screen.height() - window.height()) / 2);
}
