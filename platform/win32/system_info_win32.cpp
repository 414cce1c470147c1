#include <windows.h>

#include "platform/system_info.h"

namespace plat {

bool IsWindowsSystem() { return true; }

bool RunningUnderWine() {
  HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool RunningAsRoot() { return false; }

}  // namespace plat
