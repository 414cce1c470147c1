#include <windows.h>

#include "platform/debug_output.h"

namespace plat {

void OutputDebugText(const char* text) { ::OutputDebugStringA(text); }

}  // namespace plat
