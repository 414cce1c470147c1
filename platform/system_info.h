// Facts about the system the program runs on.
#pragma once

namespace plat {

// True in the Windows builds.
bool IsWindowsSystem();

// True when a Windows build runs under Wine (whose emulation differs from
// Windows in a few documented places).
bool RunningUnderWine();

// True for a POSIX process of the superuser, whom the system lets write,
// replace and delete files that lack write permission; false on Windows,
// where the read-only attribute binds administrators too.
bool RunningAsRoot();

}  // namespace plat
