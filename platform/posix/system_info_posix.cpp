#include "platform/system_info.h"

namespace plat {

bool IsWindowsSystem() { return false; }
bool RunningUnderWine() { return false; }

}  // namespace plat
