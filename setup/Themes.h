#pragma once

#include <QLatin1String>

#include <array>

// A theme of Salvix Setup: the number stored as "Tool/ThemeType" and kept in
// gConfig.theme_type, the style sheets it selects, the images those sheets name and
// the track of the progress bar in the error state.
struct Theme
{
    int number;
    QLatin1String sheetName; // ":/resources/qss/<sheetName>Style.qss", and "...Style4K.qss"
    QLatin1String imagePrefix; // "<imagePrefix>logoT205_64.png", "<imagePrefix>close24_24.png", ...
    QLatin1String errorBarTrack;
    bool readFromSettings; // a stored number of a theme without it reads as light
};

// Every theme, in the order of their numbers. A new theme is a row here, its two
// sheets and its image colours in the image generator.
const std::array<Theme, 3>& themes();

// The theme of a number; null for a number no theme has.
const Theme* findTheme(int number);

// The theme whose sheets a number selects: its own, golden for a number no theme has.
const Theme& sheetTheme(int number);

// gConfig.theme_type for a number stored in "smart.ini".
int themeFromSettings(int stored);
