#pragma once

#include <QString>

// One animation video to turn into numbered PNG frames.
struct VideoDecodeInfo
{
    QString videoPath;
    int fps = 0;
    int frameCount = 0;
    QString outputDir;
    QString outputPattern;
};
