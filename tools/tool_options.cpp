#include "tools/tool_options.h"

#include <cerrno>
#include <cstdlib>

bool ParseU32(const char* text, uint32_t* value) {
  if (!text || *text < '0' || *text > '9') return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long parsed = strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0' || parsed > 0xFFFFFFFFull) return false;
  *value = static_cast<uint32_t>(parsed);
  return true;
}
