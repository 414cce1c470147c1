// Starting other programs, and the process's own command line.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/message_sink.h"

namespace plat {

// The arguments after the program name, in UTF-8: CommandLineToArgvW of
// the process command line on Windows, the process's argv elsewhere; the
// list given to SetProcessArguments instead, once it was called.
std::vector<std::string> ProcessArguments();
void SetProcessArguments(const std::vector<std::string>& arguments);

// Sets a variable of this process's environment, which programs started
// afterwards inherit.
bool SetEnvironmentValue(const std::string& name, const std::string& value);

struct LaunchError {
  uint32_t code = 0;  // GetLastError() on Windows, errno elsewhere
  std::string text;   // the system's text for it (UTF-8, no line end)
};

// Starts the program `exeName` of the current folder with the argument
// string, in the current folder, and does not wait for it.
// Windows: ShellExecuteW (no verb, shown normally, owner as parent); when
// the shell refuses, CreateProcessW with the quoted path and the arguments.
// Elsewhere: posix_spawn in a session of its own, the argument string split
// as Windows splits a command line. A Windows program (a file that starts
// with "MZ") is handed to the program named by $HALVRECHT_RUNNER (split
// the same way, so "proton run" works), else to `wine` on the PATH.
// The file name is matched without regard to letter case, as Windows does.
bool StartProgram(const std::string& exeName, const std::string& arguments, WindowHandle owner,
                  LaunchError* error);

// A started program that the caller waits for, with its standard output and
// error sent to files; for tests and tools that drive other programs.
class ChildProcess {
 public:
  ChildProcess();
  // Kills the program if it still runs.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // argv[0] is the program's path. Standard input reads nothing; an empty
  // output path leaves that stream as this process's.
  bool Start(const std::vector<std::string>& argv, const std::string& folder, const std::string& stdoutPath,
             const std::string& stderrPath);
  // True with the exit status once the program ended, false when it still
  // runs after `timeoutMs`.
  bool Wait(uint32_t timeoutMs, int* exitStatus);
  void Kill();

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace plat
