#pragma once

#include <QPoint>
#include <QSize>
#include <QString>

// Steps of Salvix Setup's start-up that main() runs in order, on the GUI thread.

// Stores under "Tool/LaunchSourceName" where the previous Salvix Setup was started from,
// unless that was the installed Salvix or the downloaded upgrade archive.
void recordLaunchSource(const QString& settingsFile);

// Sets language_type from the system's first language, unless "Tool/Authorize" is "1".
void detectLanguage(const QString& settingsFile);

// The style sheet resource for a theme and a layout.
QString styleSheetResource(int themeType, int is4kScreen);
// Installs the sheet that gConfig selects as the application style sheet, every run of
// white space in it turned into one line end. A sheet that does not open leaves none.
void applyStyleSheet();

// Asks whether the downloaded upgrade is to be installed now; an answer other than yes
// sets upgrade_reminder_declined.
void askUpgradeQuestion(const QString& settingsFile);

// The top-left corner that centres a window on a screen of the given size (the screen's
// own origin is not added).
QPoint centredPosition(const QSize& screen, const QSize& window);
