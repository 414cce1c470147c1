#include "platform/path.h"

namespace plat {

// Windows takes engine paths as they are: '\\' and '/' both separate, and
// names already match without regard to case.
std::string ToNativePath(const std::string& enginePath) { return enginePath; }

}  // namespace plat
