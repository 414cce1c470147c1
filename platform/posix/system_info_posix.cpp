#include "platform/system_info.h"

#include <unistd.h>

namespace plat {

bool IsWindowsSystem() { return false; }
bool RunningUnderWine() { return false; }
bool RunningAsRoot() { return geteuid() == 0; }

}  // namespace plat
