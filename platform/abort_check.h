// How a thread that waits on the network learns that it must stop: the
// owner of the wait passes a check that another thread's decision (a cancel,
// a spent time budget) turns true. Waits ask it at least every kAbortPollMs.
#pragma once

#include <cstdint>
#include <functional>

namespace plat {

// True when a wait must end now.
using AbortCheck = std::function<bool()>;
constexpr uint32_t kAbortPollMs = 100;

}  // namespace plat
