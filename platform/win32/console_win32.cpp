#include <windows.h>

#include "platform/console.h"

namespace plat {

bool StdoutIsTerminal() {
  const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  return out != nullptr && out != INVALID_HANDLE_VALUE && ::GetFileType(out) == FILE_TYPE_CHAR;
}

}  // namespace plat
