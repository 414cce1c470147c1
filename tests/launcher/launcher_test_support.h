// Shared by the launcher tests: a private folder for the named events of
// this test process (so that launchers of other test runs on the machine
// never meet ours), and a message pump for a wrapper.
#pragma once

#include <chrono>
#include <functional>

#include "launcher/patch_wrapper.h"
#include "platform/message_sink.h"

namespace launchertest {

// Gives this process (and the programs it starts) a folder of its own for
// the named events and the temporary files (the maintenance notice); call
// before the first event is made.
void IsolateFolders();

// Hands the loop's messages to the wrapper until `done` holds or `ms` pass;
// returns `done()`.
inline bool PumpUntil(plat::MessageLoop& loop, CPatchWrapper& wrapper, const std::function<bool()>& done,
                      uint32_t ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done() && std::chrono::steady_clock::now() < deadline) {
    plat::WindowMessage message{};
    if (loop.Get(&message, 20)) wrapper.HandleWindowMessage(message.message, message.wParam, message.lParam);
  }
  return done();
}

}  // namespace launchertest
