// Facts about the system the program runs on.
#pragma once

namespace plat {

// True in the Windows builds.
bool IsWindowsSystem();

// True when a Windows build runs under Wine (whose emulation differs from
// Windows in a few documented places).
bool RunningUnderWine();

}  // namespace plat
