#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/path.h"
#include "platform/process_launch.h"
#include "platform/process_paths.h"

extern char** environ;

namespace plat {

namespace {

std::mutex g_argumentsLock;
std::optional<std::vector<std::string>> g_arguments;

// Splits like CommandLineToArgvW: blanks separate, double quotes group,
// a backslash before a quote makes it literal.
std::vector<std::string> SplitCommandLine(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '\\' && i + 1 < line.size() && line[i + 1] == '"') {
      word += '"';
      inWord = true;
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
      inWord = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(word);
  return words;
}

bool StartsWithMz(const std::string& path) {
  FILE* file = fopen(path.c_str(), "rb");
  if (!file) return false;
  char head[2] = {};
  const bool mz = fread(head, 1, 2, file) == 2 && head[0] == 'M' && head[1] == 'Z';
  fclose(file);
  return mz;
}

std::vector<char*> ArgvOf(std::vector<std::string>& words) {
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  return argv;
}

}  // namespace

std::vector<std::string> ProcessArguments() {
  {
    std::lock_guard<std::mutex> lock(g_argumentsLock);
    if (g_arguments) return *g_arguments;
  }
  std::vector<std::string> arguments;
  FILE* file = fopen("/proc/self/cmdline", "rb");
  if (!file) return arguments;
  std::string all;
  char buffer[4096];
  size_t got = 0;
  while ((got = fread(buffer, 1, sizeof buffer, file)) > 0) all.append(buffer, got);
  fclose(file);
  size_t start = 0;
  bool first = true;
  while (start < all.size()) {
    size_t end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    if (!first) arguments.push_back(all.substr(start, end - start));
    first = false;
    start = end + 1;
  }
  return arguments;
}

void SetProcessArguments(const std::vector<std::string>& arguments) {
  std::lock_guard<std::mutex> lock(g_argumentsLock);
  g_arguments = arguments;
}

bool SetEnvironmentValue(const std::string& name, const std::string& value) {
  return setenv(name.c_str(), value.c_str(), 1) == 0;
}

bool StartProgram(const std::string& exeName, const std::string& arguments, WindowHandle, LaunchError* error) {
  const std::string path = ToNativePath(CurrentFolder() + "\\" + exeName);
  std::vector<std::string> words;
  bool search = false;
  if (StartsWithMz(path)) {
    const char* runner = getenv("HALVRECHT_RUNNER");
    words = SplitCommandLine((runner && *runner) ? runner : "wine");
    search = true;
  }
  words.push_back(path);
  for (std::string& word : SplitCommandLine(arguments)) words.push_back(std::move(word));
  std::vector<char*> argv = ArgvOf(words);

  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // The game outlives the launcher and its terminal.
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  pid_t pid = 0;
  const int result = search ? posix_spawnp(&pid, argv[0], nullptr, &attributes, argv.data(), environ)
                            : posix_spawn(&pid, argv[0], nullptr, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  if (result != 0) {
    error->code = static_cast<uint32_t>(result);
    error->text = strerror(result);
    return false;
  }
  return true;
}

struct ChildProcess::State {
  pid_t pid = -1;
};

ChildProcess::ChildProcess() : state_(std::make_unique<State>()) {}

ChildProcess::~ChildProcess() {
  if (state_->pid > 0) {
    Kill();
    int status = 0;
    Wait(10000, &status);
  }
}

bool ChildProcess::Start(const std::vector<std::string>& argvText, const std::string& folder,
                         const std::string& stdoutPath, const std::string& stderrPath) {
  std::vector<std::string> words = argvText;
  std::vector<char*> argv = ArgvOf(words);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (!stdoutPath.empty()) {
    posix_spawn_file_actions_addopen(&actions, 1, stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  if (!stderrPath.empty()) {
    posix_spawn_file_actions_addopen(&actions, 2, stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, ToNativePath(folder).c_str());
  const int result = posix_spawn(&state_->pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (result != 0) state_->pid = -1;
  return result == 0;
}

bool ChildProcess::Wait(uint32_t timeoutMs, int* exitStatus) {
  if (state_->pid <= 0) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(state_->pid, &status, WNOHANG);
    if (done == state_->pid) {
      state_->pid = -1;
      *exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return true;
    }
    if (done < 0 && errno != EINTR) return false;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void ChildProcess::Kill() {
  if (state_->pid > 0) kill(state_->pid, SIGKILL);
}

}  // namespace plat
