#include "platform/ansi_text.h"

namespace plat {

namespace {

// Code page 949 (Unified Hangul Code): a lead byte 0x81..0xFE followed by a
// trail byte 0x41..0x5A, 0x61..0x7A or 0x81..0xFE is one character.
bool IsLeadByte(uint8_t b) { return b >= 0x81 && b <= 0xFE; }
bool IsTrailByte(uint8_t b) { return (b >= 0x41 && b <= 0x5A) || (b >= 0x61 && b <= 0x7A) || (b >= 0x81 && b <= 0xFE); }

}  // namespace

uint32_t AnsiCodePage() { return 949; }

std::string LowerAnsi(const std::string& text) {
  std::string lower = text;
  for (size_t i = 0; i < lower.size(); ++i) {
    const uint8_t b = static_cast<uint8_t>(lower[i]);
    if (IsLeadByte(b) && i + 1 < lower.size() && IsTrailByte(static_cast<uint8_t>(lower[i + 1]))) {
      ++i;
    } else if (b >= 'A' && b <= 'Z') {
      lower[i] = static_cast<char>(b - 'A' + 'a');
    }
  }
  return lower;
}

}  // namespace plat
