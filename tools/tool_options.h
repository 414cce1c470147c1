// Pieces the patchtool commands share: number arguments, and the delta
// encoder the repository commands use.
#pragma once

#include <cstdint>

#include "publish/delta_encoding.h"

// A decimal number without sign or trailing text that fits 32 bits.
bool ParseU32(const char* text, uint32_t* value);

// The encoder `patchtool build` gives the repository builder; empty while
// the tool has none (changed files then travel whole).
publish::DeltaEncoder DefaultDeltaEncoder();
