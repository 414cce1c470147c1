#include <unistd.h>

#include "platform/console.h"

namespace plat {

bool StdoutIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

}  // namespace plat
