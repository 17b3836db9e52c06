// The program's icon as X11 desktops take it from a window; the same picture as the desktop entry's
// icons and the Windows program's. Its definitions are drawn at build time by the picture
// generator (scripts/make_pictures.cpp, --icon-source) into window_icon.cpp in the build folder.
#pragma once

#include <cstddef>

namespace WindowIcon {

// The icon as an XPM picture, 32 x 32, for the graphics library's allegro_icon (WM_HINTS).
extern const char* const kXpm[];

// The icon in several sizes as the _NET_WM_ICON property holds it: for each size its width, its
// height and then its pixels row by row as 0xAARRGGBB (not premultiplied), one to an element, as
// Xlib takes 32-bit properties.
extern const unsigned long kNetWmIcon[];
extern const size_t kNetWmIconLength;

}  // namespace WindowIcon
