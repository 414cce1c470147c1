// Narrow engine text in the system's ANSI code page. Names are compared
// without regard to letter case there, and in a double-byte code page
// (949, the game's Korean one) the second byte of a character may be an
// ASCII letter: lower-casing byte by byte would turn it into another
// character, and the file would no longer be found under that name.
#pragma once

#include <cstdint>
#include <string>

namespace plat {

// The ANSI code page that engine text is in: the system's (GetACP) on
// Windows; 949 elsewhere, where the engine's names and texts are stored
// as Windows clients write them.
uint32_t AnsiCodePage();

// The text lower-cased character by character in that code page, never
// changing a byte of a double-byte character into something else: on
// Windows the system's own lower-casing (CharLowerBuffA); elsewhere ASCII
// letters outside double-byte characters of code page 949 (the Hangul and
// other characters there keep their bytes).
std::string LowerAnsi(const std::string& text);

}  // namespace plat
