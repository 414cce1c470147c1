// Diagnostics outside the log file.
#pragma once

namespace plat {

// OutputDebugStringA on Windows; standard error on POSIX.
void OutputDebugText(const char* text);

}  // namespace plat
