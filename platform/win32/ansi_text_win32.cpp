#include <windows.h>

#include "platform/ansi_text.h"

namespace plat {

uint32_t AnsiCodePage() { return ::GetACP(); }

std::string LowerAnsi(const std::string& text) {
  std::string lower = text;
  if (!lower.empty()) ::CharLowerBuffA(lower.data(), static_cast<DWORD>(lower.size()));
  return lower;
}

}  // namespace plat
