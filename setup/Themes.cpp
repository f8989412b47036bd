#include "Themes.h"

namespace {

constexpr int kLightTheme = 0;
constexpr int kGoldenTheme = 1;

const std::array<Theme, 3> kThemes{{
    {0, QLatin1String("light"), QLatin1String(""), QLatin1String("rgba(10, 33, 50, 0.04)"), true},
    {1, QLatin1String("golden"), QLatin1String("golden_"), QLatin1String("rgba(255, 255, 255, 0.04)"), true},
    // Dark is never read from "smart.ini": a stored 2 has always meant light there.
    {2, QLatin1String("dark"), QLatin1String("back_"), QLatin1String("rgba(255, 255, 255, 0.04)"), false},
}};

} // namespace

const std::array<Theme, 3>& themes()
{
    return kThemes;
}

const Theme* findTheme(int number)
{
    for (const Theme& theme : kThemes) {
        if (theme.number == number)
            return &theme;
    }
    return nullptr;
}

const Theme& sheetTheme(int number)
{
    const Theme* theme = findTheme(number);
    return theme ? *theme : *findTheme(kGoldenTheme);
}

int themeFromSettings(int stored)
{
    const Theme* theme = findTheme(stored);
    return theme && theme->readFromSettings ? stored : kLightTheme;
}
