#include "CoreGraphics.h"

#include <QGuiApplication>
#include <QScreen>

#include <cmath>

namespace {

// The main display is the only one the stand-in knows.
constexpr CGDirectDisplayID mainDisplay = 1;

QScreen* screenOf(CGDirectDisplayID display)
{
    if (display != mainDisplay || !qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return nullptr;
    return QGuiApplication::primaryScreen();
}

size_t devicePixels(int logical, qreal ratio)
{
    return static_cast<size_t>(std::lround(logical * ratio));
}

} // namespace

CGDirectDisplayID CGMainDisplayID(void)
{
    return mainDisplay;
}

size_t CGDisplayPixelsWide(CGDirectDisplayID display)
{
    QScreen* screen = screenOf(display);
    return screen ? devicePixels(screen->size().width(), screen->devicePixelRatio()) : 0;
}

size_t CGDisplayPixelsHigh(CGDirectDisplayID display)
{
    QScreen* screen = screenOf(display);
    return screen ? devicePixels(screen->size().height(), screen->devicePixelRatio()) : 0;
}

CGSize CGDisplayScreenSize(CGDirectDisplayID display)
{
    QScreen* screen = screenOf(display);
    if (!screen)
        return CGSize{0.0, 0.0};
    const QSizeF size = screen->physicalSize();
    return CGSize{size.width(), size.height()};
}
