#pragma once

// The subset of CoreGraphics' display queries that Salvix Setup uses, answered from
// Qt's primary screen. Needs a QGuiApplication; without one (or without a screen)
// every size is 0.

#include <cstddef>
#include <cstdint>

using CGDirectDisplayID = uint32_t;
using CGFloat = double;

struct CGSize
{
    CGFloat width;
    CGFloat height;
};

CGDirectDisplayID CGMainDisplayID(void);
// Width and height in device pixels.
size_t CGDisplayPixelsWide(CGDirectDisplayID display);
size_t CGDisplayPixelsHigh(CGDirectDisplayID display);
// Physical size in millimetres; 0 x 0 when the display reports none.
CGSize CGDisplayScreenSize(CGDirectDisplayID display);
