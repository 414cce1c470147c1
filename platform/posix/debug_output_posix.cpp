#include <cstdio>

#include "platform/debug_output.h"

namespace plat {

void OutputDebugText(const char* text) {
  fputs(text, stderr);
  fflush(stderr);
}

}  // namespace plat
