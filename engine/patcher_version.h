// The patcher's own version: the window title shows it, and a manifest that
// announces a newer one makes the launcher update itself first.
#pragma once

#include <cstdint>

constexpr uint32_t kPatcherVersion = 28;
