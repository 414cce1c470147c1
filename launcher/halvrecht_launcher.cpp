// halvrecht-launcher: the launcher without a window, for Linux and Proton
// players, CI jobs and server admins. Runs in the current folder.
#include <cstdio>

#include "launcher/console_launcher.h"
#include "platform/console.h"
#include "platform/message_sink.h"
#include "platform/process_launch.h"

int main() {
  const ConsoleOptions options = ParseConsoleOptions(plat::ProcessArguments());
  if (options.help) {
    fputs(ConsoleUsage(), stdout);
    return kExitReady;
  }
  if (!options.unknown.empty()) {
    fprintf(stderr, "halvrecht-launcher: unknown switch %s\n%s", options.unknown.c_str(), ConsoleUsage());
    return kExitUsage;
  }
  plat::MessageLoop loop;
  ConsoleLauncher launcher(options, plat::StdoutIsTerminal(), stdout, stderr);
  return launcher.Run(loop);
}
