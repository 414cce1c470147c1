// The window region from the background picture (see launcher/window_region.h).
#pragma once

#include <windows.h>

#include "launcher/win32/gdi_handles.h"

namespace launcher::win32 {

// The bitmap's full rectangle without its key-coloured pixels; null when
// the bitmap cannot be read or a region cannot be made.
Region MakeWindowRegion(HBITMAP bitmap);

}  // namespace launcher::win32
