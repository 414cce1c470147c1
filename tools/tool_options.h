// What the patchtool commands share.
#pragma once

#include <cstdint>

// A decimal number without sign or trailing text that fits 32 bits.
bool ParseU32(const char* text, uint32_t* value);
