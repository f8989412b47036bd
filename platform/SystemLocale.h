#pragma once

#include <QStringList>

// The user-interface languages as macOS lists them: Chinese tags carry their script
// ("zh-Hans-CN", "zh-Hant-TW"), which Qt on Linux leaves out ("zh-CN", "zh-TW").
QStringList systemUiLanguages();
