// Facts about the process's console.
#pragma once

namespace plat {

// True when standard output is a terminal (a character device), so that
// redrawn progress lines make sense there.
bool StdoutIsTerminal();

}  // namespace plat
